#!/usr/bin/env python3
"""OpenCV's background subtractors on the shared sequences, at their
defaults and over a small grid of each one's main knobs, scored by
`strellix evaluate` on the tuning and the held-out part of each sequence
(the protocol of accuracy_protocol.py), as bench/sweep_parameters.py scores
this project's runs.

    /usr/bin/python3 bench/compare_subtractors.py [--methods MOG2,KNN] [--jobs 2]

Every subtractor gets the frames a `strellix segment` run gets (the
excerpts from their first frame), one apply() per frame at its default
learning rate, cv2.setNumThreads(1). A shadow (127) counts as background:
only 255 is written as moving, as this project's masks leave shadows out.
Every run is also scored after a k x k median filter of its masks
(--post-median), the same clean-up this project's masks get. A row per
method, setting, sequence and k is appended to --out; runs already there
are skipped.
"""

import argparse
import concurrent.futures
import itertools
import pathlib
import tempfile

import cv2

import accuracy_protocol as ap

MOVING = 255

# method: (factory, {knob: values tried}); the first value of each knob is
# its default, so the first setting of a method is its defaults.
METHODS = {
    "MOG2": (
        cv2.createBackgroundSubtractorMOG2,
        {"varThreshold": [16, 8, 32, 64], "history": [500, 100]},
    ),
    "KNN": (
        cv2.createBackgroundSubtractorKNN,
        {"dist2Threshold": [400, 100, 200, 800, 1600], "history": [500, 100]},
    ),
    "GSOC": (
        cv2.bgsegm.createBackgroundSubtractorGSOC,
        {"replaceRate": [0.003, 0.001, 0.01, 0.03], "hitsThreshold": [32, 16, 64]},
    ),
    "CNT": (
        cv2.bgsegm.createBackgroundSubtractorCNT,
        {"minPixelStability": [15, 3, 8, 30], "maxPixelStability": [900, 150]},
    ),
    "GMG": (
        cv2.bgsegm.createBackgroundSubtractorGMG,
        {
            "initializationFrames": [120, 10, 30],
            "decisionThreshold": [0.8, 0.6, 0.7, 0.9],
        },
    ),
    "LSBP": (
        cv2.bgsegm.createBackgroundSubtractorLSBP,
        {"Rscale": [10, 5, 20], "Tlower": [2, 8]},
    ),
}
COLUMNS = ["method", "setting", "sequence", "post_median"]
COLUMNS += [
    f"{p}_{m}" for p in ap.PARTS for m in (*ap.COUNTS, "precision", "recall", "f")
]


def arguments():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--methods", default=",".join(METHODS))
    ap.add_run_options(p, "opencv_subtractors.csv")
    return p.parse_args()


def settings(method):
    """Every setting of a method's grid, as keyword arguments, defaults first."""
    knobs = METHODS[method][1]
    return [dict(zip(knobs, values)) for values in itertools.product(*knobs.values())]


def setting_name(setting):
    return " ".join(f"{k}={v}" for k, v in setting.items())


def run_one(strellix, method, setting, sequence, kernels):
    """One subtractor on one sequence: its masks, as they are and after each
    median filter, scored on both parts."""
    cv2.setNumThreads(1)
    pattern, start, end, _ = ap.SEQUENCES[sequence]
    first, last = ap.scored_range(sequence)
    subtractor = METHODS[method][0](**setting)
    with tempfile.TemporaryDirectory(prefix="strellix-opencv-") as scratch:
        directories = {k: pathlib.Path(scratch) / f"median{k}" for k in kernels}
        for directory in directories.values():
            directory.mkdir()
        for frame in range(start, end + 1):
            image = cv2.imread(
                str(ap.sequence_dir(sequence) / (pattern % frame)), cv2.IMREAD_COLOR
            )
            mask = subtractor.apply(image)
            if first <= frame <= last:
                moving = cv2.compare(mask, MOVING, cv2.CMP_EQ)
                for k, directory in directories.items():
                    cv2.imwrite(
                        str(directory / f"mask{frame:06d}.png"),
                        cv2.medianBlur(moving, k) if k else moving,
                    )
        base = {
            "method": method,
            "setting": setting_name(setting),
            "sequence": sequence,
        }
        return [
            {**base, "post_median": k, **ap.score_parts(strellix, d, sequence)}
            for k, d in directories.items()
        ]


def main():
    args = arguments()
    kernels = [int(k) for k in args.post_median.split(",")]
    done = {
        (r["method"], r["setting"], r["sequence"], int(r["post_median"]))
        for r in ap.read_rows(args.out)
    }
    work = [
        (method, setting, sequence)
        for method in args.methods.split(",")
        for setting in settings(method)
        for sequence in args.sequences.split(",")
        if any(
            (method, setting_name(setting), sequence, k) not in done for k in kernels
        )
    ]
    print(f"{len(work)} runs to do", flush=True)
    with concurrent.futures.ProcessPoolExecutor(args.jobs) as pool:
        futures = {pool.submit(run_one, args.strellix, *w, kernels): w for w in work}
        for n, future in enumerate(concurrent.futures.as_completed(futures), 1):
            rows = future.result()
            rows = [
                r
                for r in rows
                if (r["method"], r["setting"], r["sequence"], r["post_median"])
                not in done
            ]
            ap.append_rows(args.out, rows, COLUMNS)
            method, setting, sequence = futures[future]
            print(
                f"[{n}/{len(work)}] {method} {setting_name(setting)} {sequence}: tune F {rows[0]['tune_f']:.4f}",
                flush=True,
            )


if __name__ == "__main__":
    main()
