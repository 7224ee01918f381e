"""Scores the summary is made of: F-measure, precision and recall of any
part of a run's frames from strellix evaluate's per-frame counts, the
split of the scored frames into a tuning part and a held-out part, and the
choice of the best parameter sets.

Held-out protocol: an input's scored frames (temporalROI.txt, the frames
with ground truth and those the run segmented, as strellix evaluate settles
them) are split in time into two contiguous halves. The first n // 2 frames
are the tuning part, where a set is chosen; the other n - n // 2 the
held-out part, where the chosen set is scored. Per input, the set with the
best F on its tuning part is reported with its held-out F; over all inputs,
the set with the best mean tuning F (among the sets complete on every
scored input) with its mean held-out F; the defaults beside them."""
import math

NAN = float("nan")


def measures(tp, fp, fn):
    """Precision, recall and F-measure of summed counts; NaN where nothing
    is there to count (F as strellix evaluate takes it: 2TP/(2TP+FP+FN))."""

    def ratio(a, b):
        return a / b if b else NAN

    return {
        "precision": ratio(tp, tp + fp),
        "recall": ratio(tp, tp + fn),
        "f_measure": ratio(2 * tp, 2 * tp + fp + fn),
    }


def halves(first, last):
    """The tuning part and the held-out part of frames first..last (the
    tuning part is empty for a single frame)."""
    middle = first + (last - first + 1) // 2
    return {"tuning": (first, middle - 1), "held_out": (middle, last)}


def part_scores(frames, first, last):
    """The counts and measures of the frames numbered first..last."""
    part = [f for f in frames if first <= f["frame"] <= last]
    counts = {c: sum(f[c] for f in part) for c in ("tp", "fp", "fn")}
    return {
        "first": first,
        "last": last,
        "frames": len(part),
        **counts,
        **measures(**counts),
    }


def parts(metrics):
    """The tuning and held-out parts of one evaluation with per-frame counts."""
    return {
        name: part_scores(metrics["frames"], first, last)
        for name, (first, last) in halves(metrics["first"], metrics["last"]).items()
    }


def example_frame(metrics):
    """The scored frame with the most moving pixels in its ground truth (the
    same for every set of an input), the first of them at a tie."""
    frames = metrics["frames"]
    return max(frames, key=lambda f: (f["tp"] + f["fn"], -f["frame"]))["frame"]


def number(text):
    """A summary cell as a number; NaN when it is empty."""
    try:
        return float(text)
    except (TypeError, ValueError):
        return NAN


def best_sets(rows, defaults):
    """The best sets of the complete scored rows: per input the set with the
    best tuning F, over all the set with the best mean tuning F among those
    complete on every input; each with its held-out F and the defaults' (the
    set named `defaults`, None when the batch has none). Earlier sets win
    ties."""
    scored = [
        r
        for r in rows
        if r["status"] == "complete" and not math.isnan(number(r["tuning_f"]))
    ]
    inputs = list(dict.fromkeys(r["input"] for r in scored))
    by_key = {(r["input"], r["parameters"]): r for r in scored}
    table = []
    for name in inputs:
        mine = [r for r in scored if r["input"] == name]
        best = max(mine, key=lambda r: number(r["tuning_f"]))
        default = by_key.get((name, defaults))
        table.append(
            {
                "input": name,
                "parameters": best["parameters"],
                "tuning_f": number(best["tuning_f"]),
                "held_out_f": number(best["held_out_f"]),
                "defaults_held_out_f": number(default["held_out_f"])
                if default
                else NAN,
            }
        )
    sets = list(dict.fromkeys(r["parameters"] for r in scored))
    everywhere = [s for s in sets if all((i, s) in by_key for i in inputs)]
    if inputs and everywhere:

        def mean(name, column):
            return sum(number(by_key[i, name][column]) for i in inputs) / len(inputs)

        best = max(everywhere, key=lambda s: mean(s, "tuning_f"))
        table.append(
            {
                "input": f"mean of {len(inputs)}",
                "parameters": best,
                "tuning_f": mean(best, "tuning_f"),
                "held_out_f": mean(best, "held_out_f"),
                "defaults_held_out_f": mean(defaults, "held_out_f")
                if defaults in everywhere
                else NAN,
            }
        )
    return table
