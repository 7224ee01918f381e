"""What the accuracy scripts share: the shared sequences, the held-out split
of their scored frames, scoring by `strellix evaluate`, and the choice of
the best parameter set on the tuning part reported on the held-out part.

Held-out protocol. A sequence's scored frames are the frames of its
temporalROI.txt that also have a ground-truth file. They are split in time
into two contiguous parts: the first n // 2 frames are the tuning part,
where a parameter set is chosen; the remaining n - n // 2 frames are the
held-out part, where the chosen set's score is reported. Per sequence, the
set with the best F on its tuning part is reported with its held-out F;
over all sequences, the set with the best mean tuning F is reported with
its mean held-out F.
"""

import csv
import json
import os
import pathlib
import re
import subprocess

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = pathlib.Path(os.environ.get("SHARED_DATA", ROOT.parent / "shared" / "data"))

# name: (input pattern, first and last frame given to every method, ROI file
# or None for the whole frame). Each run starts at the excerpt's first frame.
SEQUENCES = {
    "highway": ("input/in%06d.jpg", 1, 1700, "ROI.bmp"),
    "sbi_HallAndMonitor": ("input/in%06d.png", 0, 295, "ROI.bmp"),
    "fall_partial": ("input/in%06d.jpg", 1460, 1560, "ROI.bmp"),
    # Its ROI.bmp is 352x240 for 320x240 frames: scored on the whole frame.
    "traffic_partial": ("input/in%06d.jpg", 950, 1050, None),
}

PARTS = ("tune", "held")
COUNTS = ("tp", "fp", "fn", "tn")


def add_run_options(parser, results_name):
    """The options every sweep script shares: which sequences, which
    clean-up kernels, which strellix, where the rows go, how many at once."""
    parser.add_argument("--sequences", default=",".join(SEQUENCES))
    parser.add_argument("--post-median", default="0,3,5,7,9")
    parser.add_argument("--strellix", default=str(ROOT / "build" / "strellix"))
    parser.add_argument(
        "--out", type=pathlib.Path, default=ROOT / "bench" / "results" / results_name
    )
    parser.add_argument("--jobs", type=int, default=2)


def sequence_dir(name):
    return DATA / name


def scored_range(name):
    """temporalROI.txt intersected with the ground-truth files present."""
    directory = sequence_dir(name)
    roi_first, roi_last = (
        int(v) for v in (directory / "temporalROI.txt").read_text().split()[:2]
    )
    present = [
        int(m.group(1))
        for p in (directory / "groundtruth").iterdir()
        if (m := re.fullmatch(r"gt(\d+)\.png", p.name))
    ]
    first, last = max(roi_first, min(present)), min(roi_last, max(present))
    if last < first:
        raise ValueError(f"{name}: temporalROI.txt and the ground truth share no frame")
    return first, last


def split_halves(first, last):
    """The tuning part and the held-out part of frames first..last."""
    middle = first + (last - first + 1) // 2
    return {"tune": (first, middle - 1), "held": (middle, last)}


def evaluate(strellix, masks, name, first, last, pattern="mask%06d.png"):
    """The counts of `strellix evaluate` over frames first..last."""
    directory = sequence_dir(name)
    command = [
        strellix,
        "evaluate",
        str(masks),
        str(directory / "groundtruth"),
        "--json",
    ]
    command += ["--first", str(first), "--last", str(last), "--mask-pattern", pattern]
    roi = SEQUENCES[name][3]
    if roi:
        command += ["--roi", str(directory / roi)]
    result = json.loads(
        subprocess.run(command, check=True, capture_output=True, text=True).stdout
    )
    return {c: result[c] for c in COUNTS}


def score_parts(strellix, masks, name, pattern="mask%06d.png"):
    """Counts and F of each part, flattened into one row's columns."""
    row = {}
    for part, (first, last) in split_halves(*scored_range(name)).items():
        counts = evaluate(strellix, masks, name, first, last, pattern)
        row.update({f"{part}_{c}": v for c, v in counts.items()})
        row.update(measures(counts, part))
    return row


def measures(counts, part):
    """Precision, recall and F from summed counts (F is 0 with nothing found)."""
    tp, fp, fn = counts["tp"], counts["fp"], counts["fn"]
    precision = tp / (tp + fp) if tp + fp else float("nan")
    recall = tp / (tp + fn) if tp + fn else float("nan")
    f = 2 * tp / (2 * tp + fp + fn) if tp + fp + fn else float("nan")
    return {
        f"{part}_{m}": round(v, 6)
        for m, v in (("precision", precision), ("recall", recall), ("f", f))
    }


def read_rows(path):
    """Rows of a results file, numbers as floats; none when it is absent."""
    if not path.exists():
        return []
    with path.open(newline="") as handle:
        return [
            {k: _number(v) for k, v in row.items()} for row in csv.DictReader(handle)
        ]


def _number(text):
    try:
        return float(text)
    except ValueError:
        return text


def append_rows(path, rows, columns):
    """Appends rows, writing the header first when the file is new."""
    new = not path.exists()
    path.parent.mkdir(parents=True, exist_ok=True)
    with path.open("a", newline="") as handle:
        writer = csv.DictWriter(handle, fieldnames=columns)
        if new:
            writer.writeheader()
        writer.writerows(rows)


def choose(rows, key):
    """Per sequence, the row with the best tuning F; over all, the set
    (rows sharing `key`) with the best mean tuning F over every sequence
    it was run on, among the sets run on all of them."""
    sequences = sorted({r["sequence"] for r in rows})
    per_sequence = {
        s: max((r for r in rows if r["sequence"] == s), key=lambda r: r["tune_f"])
        for s in sequences
    }
    by_set = {}
    for r in rows:
        by_set.setdefault(key(r), {})[r["sequence"]] = r
    complete = {k: v for k, v in by_set.items() if len(v) == len(sequences)}
    overall = None
    if complete:
        best = max(
            complete, key=lambda k: sum(r["tune_f"] for r in complete[k].values())
        )
        overall = complete[best]
    return per_sequence, overall


def mean(values):
    values = list(values)
    return sum(values) / len(values)
