"""The plots of results/summary.csv: F-measure per input and parameter set,
and precision against recall. Only complete, scored rows are drawn; with
none there is a note in the picture instead."""
import csv
import os

import matplotlib

matplotlib.use("Agg")  # files only: never a window, whatever the display
import matplotlib.pyplot as plt  # noqa: E402


def read_scored(path):
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f))
    return [
        r
        for r in rows
        if r["status"] == "complete" and r["f_measure"] not in ("", "None")
    ]


def empty_note(axes):
    axes.text(
        0.5,
        0.5,
        "no scored run: no input with ground truth completed",
        ha="center",
        va="center",
    )
    axes.set_axis_off()


def plot_fmeasure(rows, path):
    inputs = list(dict.fromkeys(r["input"] for r in rows))
    sets = list(dict.fromkeys(r["parameters"] for r in rows))
    figure, axes = plt.subplots(figsize=(max(6, 0.6 * len(inputs) * len(sets) + 2), 4))
    if not rows:
        empty_note(axes)
    else:
        width = 0.8 / len(sets)
        value = {(r["input"], r["parameters"]): float(r["f_measure"]) for r in rows}
        for k, s in enumerate(sets):
            xs = [i + (k - (len(sets) - 1) / 2) * width for i in range(len(inputs))]
            heights = [value.get((name, s), 0.0) for name in inputs]
            axes.bar(xs, heights, width, label=s)
        axes.set_xticks(range(len(inputs)), inputs, rotation=20, ha="right")
        axes.set_ylim(0, 1)
        axes.set_ylabel("F-measure")
        axes.legend(title="parameters", fontsize="small")
        axes.grid(axis="y", alpha=0.3)
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    plt.close(figure)


def plot_precision_recall(rows, path):
    figure, axes = plt.subplots(figsize=(5.5, 5))
    if not rows:
        empty_note(axes)
    else:
        markers = "osD^v<>pPX*"
        sets = list(dict.fromkeys(r["parameters"] for r in rows))
        for k, s in enumerate(sets):
            mine = [r for r in rows if r["parameters"] == s]
            recall = [float(r["recall"]) for r in mine]
            precision = [float(r["precision"]) for r in mine]
            axes.scatter(recall, precision, marker=markers[k % len(markers)], label=s)
            for r, x, y in zip(mine, recall, precision):
                axes.annotate(
                    r["input"],
                    (x, y),
                    fontsize="x-small",
                    xytext=(3, 3),
                    textcoords="offset points",
                )
        axes.set_xlim(0, 1.02)
        axes.set_ylim(0, 1.02)
        axes.set_xlabel("recall")
        axes.set_ylabel("precision")
        axes.legend(title="parameters", fontsize="small")
        axes.grid(alpha=0.3)
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    plt.close(figure)


def plot_summary(summary, fmeasure, precision_recall):
    rows = read_scored(summary)
    for path in (fmeasure, precision_recall):
        os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    plot_fmeasure(rows, fmeasure)
    plot_precision_recall(rows, precision_recall)


if __name__ == "__main__" and "snakemake" in globals():
    plot_summary(
        snakemake.input[0], snakemake.output.fmeasure, snakemake.output.precision_recall
    )
