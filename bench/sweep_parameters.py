#!/usr/bin/env python3
"""Sweeps `strellix segment`'s parameters on the shared sequences and scores
every run with `strellix evaluate` on the tuning and the held-out part of
each sequence (the protocol of accuracy_protocol.py).

    /usr/bin/python3 bench/sweep_parameters.py --grid "threshold=0.003,0.005 width_2d=0,1" [--grid ...]

Each --grid is the product of its lists; parameters it leaves out keep
their defaults; several --grid options add up. Every run is also scored
after a median filter of k x k over each mask (--post-median, 0 = none),
which is what the mask clean-up step writes. A row per parameter set,
sequence and k is appended to --out; runs already there are skipped, so a
sweep can be stopped, resumed and refined. At most --jobs runs at a time,
each `strellix segment --threads 1`; masks live in a scratch directory
only until they are scored. bench/run_accuracy.sh holds the exact sweeps
behind docs/choosing-parameters.md.
"""

import argparse
import concurrent.futures
import itertools
import pathlib
import subprocess
import sys
import tempfile

import cv2

import accuracy_protocol as ap

DEFAULTS = {
    "layers": 5,
    "width_1d": 1,
    "width_2d": 1,
    "threshold": 0.005,
    "learning_rate": 0.05,
    "median_frames": 100,
}
KIND = {
    "layers": int,
    "width_1d": int,
    "width_2d": int,
    "threshold": float,
    "learning_rate": float,
    "median_frames": int,
}
COLUMNS = ["sequence", *DEFAULTS, "post_median"]
COLUMNS += [
    f"{p}_{m}" for p in ap.PARTS for m in (*ap.COUNTS, "precision", "recall", "f")
]


def arguments():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument(
        "--grid", action="append", default=[], help='"name=v1,v2 name=v1,..."'
    )
    ap.add_run_options(p, "strellix_sweep.csv")
    return p.parse_args()


def parameter_sets(grids):
    """Every set the --grid options name, defaults filled in, in order, once."""
    sets = []
    for grid in grids or [""]:
        lists = {}
        for item in grid.split():
            name, _, values = item.partition("=")
            if name not in DEFAULTS:
                sys.exit(f"unknown parameter {name!r}; known: {', '.join(DEFAULTS)}")
            lists[name] = [KIND[name](v) for v in values.split(",")]
        for values in itertools.product(*lists.values()):
            chosen = {**DEFAULTS, **dict(zip(lists, values))}
            if chosen not in sets:
                sets.append(chosen)
    return sets


def row_key(row):
    return (
        row["sequence"],
        *(KIND[n](row[n]) for n in DEFAULTS),
        int(row["post_median"]),
    )


def run_one(strellix, params, sequence, kernels):
    """Segments one sequence with one set and scores the masks as they are
    and after each median filter."""
    pattern, start, end, _ = ap.SEQUENCES[sequence]
    first, last = ap.scored_range(sequence)
    with tempfile.TemporaryDirectory(prefix="strellix-sweep-") as scratch:
        raw = pathlib.Path(scratch) / "masks"
        command = [
            strellix,
            "segment",
            str(ap.sequence_dir(sequence) / pattern),
            "-o",
            str(raw),
            "-q",
        ]
        command += ["--start", str(start), "--end", str(end), "--threads", "1"]
        for name, value in params.items():
            command += [f"--{name.replace('_', '-')}", repr(value)]
        subprocess.run(command, check=True, capture_output=True)
        rows = []
        for k in kernels:
            masks = (
                raw
                if k == 0
                else median_filtered(
                    raw, pathlib.Path(scratch) / f"median{k}", first, last, k
                )
            )
            rows.append(
                {
                    "sequence": sequence,
                    **params,
                    "post_median": k,
                    **ap.score_parts(strellix, masks, sequence),
                }
            )
        return rows


def median_filtered(source, target, first, last, k):
    """The scored masks after a k x k median filter, as the clean-up step makes them."""
    target.mkdir()
    for frame in range(first, last + 1):
        name = f"mask{frame:06d}.png"
        mask = cv2.imread(str(source / name), cv2.IMREAD_GRAYSCALE)
        cv2.imwrite(str(target / name), cv2.medianBlur(mask, k))
    return target


def main():
    args = arguments()
    kernels = [int(k) for k in args.post_median.split(",")]
    done = {row_key(r) for r in ap.read_rows(args.out)}
    work = [
        (params, sequence)
        for params in parameter_sets(args.grid)
        for sequence in args.sequences.split(",")
        if any((sequence, *params.values(), k) not in done for k in kernels)
    ]
    print(f"{len(work)} runs to do", flush=True)
    with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
        futures = {
            pool.submit(run_one, args.strellix, p, s, kernels): (p, s) for p, s in work
        }
        for n, future in enumerate(concurrent.futures.as_completed(futures), 1):
            rows = [r for r in future.result() if row_key(r) not in done]
            ap.append_rows(args.out, rows, COLUMNS)
            best = max(rows, key=lambda r: r["tune_f"])
            print(
                f"[{n}/{len(work)}] {futures[future][1]} {futures[future][0]}: tune F {best['tune_f']:.4f}",
                flush=True,
            )


if __name__ == "__main__":
    main()
