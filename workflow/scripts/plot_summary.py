"""The plots of results/summary.csv, readable from two parameter sets to
hundreds: F-measure of every set per input, with the defaults and the set
chosen on the tuning part marked; precision against recall coloured by
input; F-measure against each parameter that varies, a line per input;
and for a grid of two parameters or more, a heat map of F over the first
two. Only complete, scored rows are drawn; with none there is a note in
the picture instead."""
import contextlib
import csv
import math
import os

import matplotlib

matplotlib.use("Agg")  # files only: never a window, whatever the display
import matplotlib.pyplot as plt  # noqa: E402

from batch import PARAMETERS, value_text  # noqa: E402
from scores import number  # noqa: E402

# Up to this many sets each has its own colour and legend entry.
NAMED_SETS = 10
DPI = 100


def read_rows(path):
    try:
        with open(path, newline="") as f:
            return list(csv.DictReader(f))
    except OSError:
        return []


def scored(rows):
    return [
        r
        for r in rows
        if r["status"] == "complete" and not math.isnan(number(r["f_measure"]))
    ]


def colour(k, count):
    """Distinct colours for up to ten inputs, twenty beyond."""
    return plt.cm.tab10(k % 10) if count <= 10 else plt.cm.tab20(k % 20)


def note(axes, text="no scored run: no input with ground truth completed"):
    axes.text(0.5, 0.5, text, ha="center", va="center", wrap=True)
    axes.set_axis_off()


def chosen(best):
    """input -> the set chosen on its tuning part."""
    return {b["input"]: b["parameters"] for b in best}


def save(figure, path):
    figure.tight_layout()
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    figure.savefig(path, dpi=DPI)
    plt.close(figure)


def plot_fmeasure(rows, best, defaults, path):
    """Each input a column of dots, one per set."""
    inputs = list(dict.fromkeys(r["input"] for r in rows))
    sets = list(dict.fromkeys(r["parameters"] for r in rows))
    figure, axes = plt.subplots(figsize=(min(12, 4 + 1.1 * len(inputs)), 4.5))
    if not rows:
        note(axes)
        return save(figure, path)
    picked = chosen(best)
    colour = (
        {s: plt.cm.tab10(k) for k, s in enumerate(sets)}
        if len(sets) <= NAMED_SETS
        else {}
    )
    # Each set a little to the side, the same on every input.
    offset = {s: 0.3 * (k / max(1, len(sets) - 1) - 0.5) for k, s in enumerate(sets)}
    for s in sets:
        mine = [r for r in rows if r["parameters"] == s]
        axes.scatter(
            [inputs.index(r["input"]) + offset[s] for r in mine],
            [number(r["f_measure"]) for r in mine],
            s=22,
            color=colour.get(s, "0.6"),
            label=s if colour else None,
            zorder=2,
        )
    for r in rows:
        x = inputs.index(r["input"]) + offset[r["parameters"]]
        y = number(r["f_measure"])
        if r["parameters"] == defaults:
            axes.scatter(
                [x],
                [y],
                marker="D",
                s=60,
                facecolor="none",
                edgecolor="black",
                zorder=3,
            )
        if picked.get(r["input"]) == r["parameters"]:
            axes.scatter([x], [y], marker="*", s=160, color="crimson", zorder=4)
    axes.scatter(
        [], [], marker="D", facecolor="none", edgecolor="black", label="defaults"
    )
    axes.scatter([], [], marker="*", color="crimson", label="chosen on the tuning part")
    axes.set_xticks(range(len(inputs)), inputs, rotation=20, ha="right")
    axes.set_xlim(-0.6, len(inputs) - 0.4)
    axes.set_ylabel("F-measure (all scored frames)")
    axes.set_title(f"{len(sets)} parameter sets")
    axes.grid(axis="y", alpha=0.3)
    axes.legend(fontsize="small", loc="center left", bbox_to_anchor=(1.01, 0.5))
    save(figure, path)


def plot_precision_recall(rows, best, defaults, path):
    """A colour per input, a dot per set; the defaults and the chosen set marked."""
    figure, axes = plt.subplots(figsize=(8, 5.5))
    if not rows:
        note(axes)
        return save(figure, path)
    picked = chosen(best)
    inputs = list(dict.fromkeys(r["input"] for r in rows))
    for k, name in enumerate(inputs):
        mine = [r for r in rows if r["input"] == name]
        shade = colour(k, len(inputs))
        axes.scatter(
            [number(r["recall"]) for r in mine],
            [number(r["precision"]) for r in mine],
            s=14,
            color=shade,
            alpha=0.6,
            label=name,
        )
        for r in mine:
            point = [number(r["recall"])], [number(r["precision"])]
            if r["parameters"] == defaults:
                axes.scatter(
                    *point, marker="D", s=60, facecolor="none", edgecolor=shade
                )
            if picked.get(name) == r["parameters"]:
                axes.scatter(*point, marker="*", s=180, color=shade, edgecolor="black")
    axes.scatter(
        [], [], marker="D", facecolor="none", edgecolor="black", label="defaults"
    )
    axes.scatter(
        [],
        [],
        marker="*",
        color="white",
        edgecolor="black",
        label="chosen on the tuning part",
    )
    # Where the points are, so that a hundred sets do not crowd one corner.
    for limits, column in ((axes.set_xlim, "recall"), (axes.set_ylim, "precision")):
        values = [number(r[column]) for r in rows if not math.isnan(number(r[column]))]
        if values:
            limits(max(0, min(values) - 0.05), min(1.02, max(values) + 0.03))
    axes.set_xlabel("recall")
    axes.set_ylabel("precision")
    axes.grid(alpha=0.3)
    axes.legend(fontsize="small", loc="center left", bbox_to_anchor=(1.01, 0.5))
    save(figure, path)


def value_order(values):
    """Distinct values in order: by number where they are numbers."""
    distinct = list(dict.fromkeys(v for v in values if v != ""))
    if all(not math.isnan(number(v)) for v in distinct):
        return sorted(distinct, key=number), True
    return distinct, False


def varying(rows):
    return [p for p in PARAMETERS if len(value_order(r[p] for r in rows)[0]) > 1]


def best_f(rows, **fixed):
    """The best F of the rows with the parameter values given."""
    found = [
        number(r["f_measure"]) for r in rows if all(r[k] == v for k, v in fixed.items())
    ]
    return max(found) if found else math.nan


def plot_parameters(rows, path):
    """F against each parameter that varies: at each value the best F of the
    sets with that value, one line per input."""
    swept = varying(rows)
    columns = min(3, max(1, len(swept)))
    lines = max(1, math.ceil(len(swept) / columns))
    figure, grid = plt.subplots(
        lines, columns, figsize=(4.2 * columns + 2, 3.4 * lines), squeeze=False
    )
    cells = list(grid.flat)
    if not swept:
        note(cells[0], "no parameter varies among the scored runs") if rows else note(
            cells[0]
        )
    inputs = list(dict.fromkeys(r["input"] for r in rows))
    for axes, parameter in zip(cells, swept):
        values, numeric = value_order(r[parameter] for r in rows)
        xs = [number(v) for v in values] if numeric else list(range(len(values)))
        for k, name in enumerate(inputs):
            mine = [r for r in rows if r["input"] == name]
            axes.plot(
                xs,
                [best_f(mine, **{parameter: v}) for v in values],
                marker="o",
                markersize=3,
                color=colour(k, len(inputs)),
                label=name,
            )
        if numeric and min(xs) > 0 and max(xs) / min(xs) >= 20:
            axes.set_xscale("log")
        if not numeric:
            axes.set_xticks(xs, values)
        axes.set_xlabel(parameter)
        axes.set_ylabel("best F-measure")
        axes.grid(alpha=0.3)
    for axes in cells[len(swept) :] if swept else cells[1:]:
        axes.set_axis_off()
    if swept:
        cells[0].legend(fontsize="x-small")
    save(figure, path)


def same_value(text, value):
    """A summary cell against a value of the batch file."""
    if isinstance(value, (int, float)):
        return math.isclose(number(text), value, rel_tol=1e-9)
    return text == str(value)


def grid_table(rows, across, xs, down, ys):
    """The best F at each cell of the grid (rows: down, columns: across)."""
    return [
        [
            max(
                [
                    number(r["f_measure"])
                    for r in rows
                    if same_value(r[across], x) and same_value(r[down], y)
                ]
                or [math.nan]
            )
            for x in xs
        ]
        for y in ys
    ]


def plot_heatmap(rows, grid, path):
    """F over the grid's first two parameters (the best over the others),
    one panel per input and one of their mean over the inputs."""
    (across, xs), (down, ys) = list(grid.items())[:2]
    xs, ys = sorted(xs), sorted(ys)
    inputs = list(dict.fromkeys(r["input"] for r in rows))
    tables = {
        name: grid_table([r for r in rows if r["input"] == name], across, xs, down, ys)
        for name in inputs
    }
    if len(inputs) > 1:
        tables["mean over the inputs"] = [
            [sum(tables[i][b][a] for i in inputs) / len(inputs) for a in range(len(xs))]
            for b in range(len(ys))
        ]
    columns = max(1, min(3, len(tables)))
    lines = max(1, math.ceil(len(tables) / columns))
    width, height = min(6, 0.5 * len(xs) + 2.5), min(5, 0.35 * len(ys) + 2)
    figure, cells = plt.subplots(
        lines,
        columns,
        figsize=(width * columns + 1.5, height * lines),
        squeeze=False,
        layout="constrained",
    )
    found = [
        v for t in tables.values() for line in t for v in line if not math.isnan(v)
    ]
    image = None
    for axes, (name, table) in zip(cells.flat, tables.items()):
        image = axes.imshow(
            table,
            cmap="viridis",
            vmin=min(found),
            vmax=max(found),
            aspect="auto",
            origin="lower",
        )
        axes.set_xticks(
            range(len(xs)),
            [value_text(x) for x in xs],
            rotation=45,
            ha="right",
            fontsize="small",
        )
        axes.set_yticks(range(len(ys)), [value_text(y) for y in ys], fontsize="small")
        axes.set_xlabel(across)
        axes.set_ylabel(down)
        axes.set_title(name, fontsize="medium")
        if len(xs) * len(ys) <= 100:
            for b, line in enumerate(table):
                for a, value in enumerate(line):
                    if not math.isnan(value):
                        axes.text(
                            a,
                            b,
                            f"{value:.3f}",
                            ha="center",
                            va="center",
                            fontsize=7,
                            color="w",
                        )
    for axes in list(cells.flat)[len(tables) :]:
        axes.set_axis_off()
    if image is None:
        note(cells[0][0])
    else:
        figure.colorbar(image, ax=cells, shrink=0.8, label="best F-measure")
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    figure.savefig(path, dpi=DPI)
    plt.close(figure)


def plot_summary(summary, best, defaults, grid, plots):
    rows = scored(read_rows(summary))
    chosen_sets = [b for b in read_rows(best) if not b["input"].startswith("mean of")]
    plot_fmeasure(rows, chosen_sets, defaults, plots["fmeasure"])
    plot_precision_recall(rows, chosen_sets, defaults, plots["precision_recall"])
    plot_parameters(rows, plots["parameters"])
    if "heatmap" in plots:
        plot_heatmap(rows, grid, plots["heatmap"])


if __name__ == "__main__" and "snakemake" in globals():
    # Messages (matplotlib's warnings, a traceback) go into the job's log.
    with open(snakemake.log[0], "w") as log, contextlib.redirect_stderr(log):
        plot_summary(
            snakemake.input.summary,
            snakemake.input.best,
            snakemake.params.defaults,
            snakemake.params.grid,
            dict(snakemake.output.items()),
        )
