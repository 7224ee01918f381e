"""One picture per input: an example frame beside its mask, its ground
truth and the model's seed (the median background), made with the set
chosen on the input's tuning part (else the defaults, else the first set
that completed); below it, for a scored input, the F-measure of every
frame over time for that set and the defaults, the tuning part shaded.

The example frame of a scored input is the one with the most moving
pixels in its ground truth (evaluate.py keeps its mask and ground truth);
of another input, the middle of the run, at most its 1000th frame, so that
a long video is not read to its middle."""
import contextlib
import csv
import os

import cv2
import matplotlib

matplotlib.use("Agg")  # files only: never a window, whatever the display
import matplotlib.pyplot as plt  # noqa: E402

from scores import halves, measures  # noqa: E402
from summarize import read_json  # noqa: E402

LONGEST_READ = 1000


def shown_set(record, best_path):
    """The set whose masks are shown, and its run.json; (None, None) when no
    run of the input completed."""
    picked = []
    try:
        with open(best_path, newline="") as f:
            picked = [
                b["parameters"]
                for b in csv.DictReader(f)
                if b["input"] == record["input"]
            ]
    except OSError:
        pass
    for name in picked + [record["defaults"]] + list(record["runs"]):
        run = (
            read_json(os.path.join(record["runs"].get(name, ""), "run.json"))
            if name
            else None
        )
        if run and run.get("status") == "complete":
            return name, run
    return None, None


def input_frame(record, run, frame):
    """The input's frame `frame` as strellix read it: its file, or the
    video read up to it (frames are numbered by place there)."""
    if record["files"]:
        return cv2.imread(
            record["files"][frame - run["frames"]["first"]], cv2.IMREAD_COLOR
        )
    video = cv2.VideoCapture(record["source"])
    image = None
    for _ in range(frame):
        ok, image = video.read()
        if not ok:
            return None
    return image


def example(record, name, run):
    """The example frame's number and its four pictures (None where there
    is none) in reading order."""
    directory = record["runs"][name]
    if record["scored"]:
        frame = read_json(os.path.join(directory, "metrics.json"))["example_frame"]
        mask, truth = [
            os.path.join(directory, f)
            for f in ("example_mask.png", "example_truth.png")
        ]
    else:
        done = run["frames"]
        frame = done["first"] + min(done["done"] // 2, LONGEST_READ - 1)
        mask, truth = os.path.join(directory, "masks", "mask%06d.png" % frame), None
    pictures = [
        ("frame %d" % frame, input_frame(record, run, frame)),
        ("mask", cv2.imread(mask) if os.path.exists(mask) else None),
        ("ground truth", cv2.imread(truth) if truth else None),
        ("the model's seed", cv2.imread(os.path.join(directory, "background.png"))),
    ]
    return frame, [
        (title, image)
        for title, image in pictures
        if image is not None or title == "mask"
    ]


def per_frame_f(directory):
    metrics = read_json(os.path.join(directory, "metrics.json"))
    if not metrics:
        return None, None
    frames = metrics["frames"]
    return metrics, (
        [f["frame"] for f in frames],
        [measures(f["tp"], f["fp"], f["fn"])["f_measure"] for f in frames],
    )


def plot_over_time(axes, record, name):
    """F-measure of each frame for the shown set and the defaults."""
    metrics, curve = per_frame_f(record["runs"][name])
    if not metrics:
        axes.set_axis_off()
        return
    first, last = halves(metrics["first"], metrics["last"])["tuning"]
    if last >= first:
        axes.axvspan(first - 0.5, last + 0.5, color="0.9", label="tuning part")
    axes.plot(*curve, color="crimson", linewidth=1, label=name)
    if record["defaults"] and record["defaults"] != name:
        _, defaults = per_frame_f(record["runs"][record["defaults"]])
        if defaults:
            axes.plot(*defaults, color="0.3", linewidth=1, label=record["defaults"])
    axes.set_ylim(0, 1.02)
    axes.xaxis.get_major_locator().set_params(integer=True)
    axes.set_xlabel("frame")
    axes.set_ylabel("F-measure of the frame")
    axes.grid(alpha=0.3)
    axes.legend(fontsize="small", loc="lower right")


def draw(record, best_path, path):
    name, run = shown_set(record, best_path)
    over_time = record["scored"] and name is not None
    figure = plt.figure(figsize=(12, 6.2 if over_time else 3.6))
    if name is None:
        figure.text(
            0.5, 0.5, f"{record['input']}: no run completed", ha="center", va="center"
        )
    else:
        frame, pictures = example(record, name, run)
        top = figure.add_gridspec(
            2 if over_time else 1,
            len(pictures),
            height_ratios=[1.3, 1] if over_time else None,
        )
        for k, (title, image) in enumerate(pictures):
            axes = figure.add_subplot(top[0, k])
            if image is None:
                axes.text(0.5, 0.5, "no masks kept", ha="center", va="center")
            else:
                axes.imshow(
                    cv2.cvtColor(image, cv2.COLOR_BGR2RGB), interpolation="nearest"
                )
            axes.set_title(title, fontsize="medium")
            axes.set_axis_off()
        if over_time:
            plot_over_time(figure.add_subplot(top[1, :]), record, name)
        figure.suptitle(f"{record['input']}: {name}", fontsize="medium")
    figure.tight_layout()
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    figure.savefig(path, dpi=90)
    plt.close(figure)


if __name__ == "__main__" and "snakemake" in globals():
    # Messages (matplotlib's warnings, a traceback) go into the job's log.
    with open(snakemake.log[0], "w") as log, contextlib.redirect_stderr(log):
        draw(snakemake.params.record, snakemake.input.best, snakemake.output[0])
