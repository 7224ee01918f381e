#!/usr/bin/env python3
"""The measured curves of docs/choosing-parameters.md: precision, recall
and F over all scored frames against each parameter moved alone from the
defaults, one line per sequence, from bench/sweep_parameters.py's results.

    /usr/bin/python3 bench/accuracy_plots.py [--out docs]

Writes docs/curve-<parameter>.png, one small picture per parameter.
"""

import argparse
import pathlib

import matplotlib

matplotlib.use("Agg")  # headless: no display is needed or wanted
import matplotlib.pyplot as plt

import accuracy_protocol as ap
import accuracy_tables as at

# Parameters whose values span decades read better on a logarithmic axis.
LOGARITHMIC = {"threshold", "learning_rate", "median_frames"}
MEASURES = (("precision", "precision"), ("recall", "recall"), ("f", "F"))


def arguments():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument(
        "--ours",
        type=pathlib.Path,
        default=ap.ROOT / "bench" / "results" / "strellix_sweep.csv",
    )
    p.add_argument("--out", type=pathlib.Path, default=ap.ROOT / "docs")
    return p.parse_args()


def plot(name, line, path):
    """One row of three panels (precision, recall, F), a line per sequence;
    the default value marked, so the reader sees which way to move."""
    figure, axes = plt.subplots(1, 3, figsize=(10, 2.6), sharex=True)
    default = at.sp.DEFAULTS.get(name, 0)
    for sequence in at.SEQUENCES:
        points = [(v, rows[sequence]) for v, rows in line.items() if sequence in rows]
        xs = [v for v, _ in points]
        for axis, (measure, _) in zip(axes, MEASURES):
            axis.plot(
                xs,
                [at.whole(r, measure) for _, r in points],
                marker="o",
                markersize=3,
                label=sequence,
            )
    for axis, (_, title) in zip(axes, MEASURES):
        axis.set_title(title, fontsize=9)
        axis.set_xlabel(at.LABELS.get(name, name), fontsize=8)
        axis.tick_params(labelsize=7)
        axis.set_ylim(0, 1)
        axis.grid(alpha=0.3)
        axis.axvline(default, color="grey", linestyle=":", linewidth=1)
        if name in LOGARITHMIC:
            axis.set_xscale("log")
    handles, labels = axes[0].get_legend_handles_labels()
    figure.legend(handles, labels, fontsize=7, loc="center right")
    figure.tight_layout(rect=(0, 0, 0.82, 1))
    figure.savefig(path, dpi=80)
    plt.close(figure)


def main():
    args = arguments()
    rows = ap.read_rows(args.ours)
    args.out.mkdir(parents=True, exist_ok=True)
    for name in (*at.sp.DEFAULTS, "post_median"):
        line = at.one_at_a_time(rows, name)
        if len(line) >= 2:
            path = args.out / f"curve-{name.replace('_', '-')}.png"
            plot(name, line, path)
            print(path)


if __name__ == "__main__":
    main()
