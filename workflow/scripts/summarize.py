"""results/summary.csv: one row per input and parameter set, from the files
its jobs left.

A combination is complete when its run (and, with ground truth, its
scoring) is there; failed when a job of it left a log but not its output,
with what that log says as the note; not run otherwise. The same code
writes the summary after a failed batch (see onerror in the Snakefile), so
that what did finish is reported beside what did not."""
import csv
import json
import os
import re

METRICS = [
    "recall",
    "specificity",
    "false_positive_rate",
    "false_negative_rate",
    "percentage_wrong_classifications",
    "precision",
    "f_measure",
]
# What each run took, and what its job asked for (cost.json).
COSTS = ["cpu_seconds", "max_rss_mb", "threads", "mem_mb"]
COLUMNS = (
    ["input", "parameters", "status", "frames", "seconds", "frames_per_second"]
    + COSTS
    + METRICS
    + ["note"]
)

# "strellix: ...", "strellix probe: ...", "evaluate: ...".
PROGRAM_MESSAGE = re.compile(r"(strellix|evaluate)\b[^:/]*: ")
# Each job's output and log, in the order they run.
STEPS = [("probe", "probe.json"), ("segment", "run.json"), ("evaluate", "metrics.json")]


def read_json(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def log_message(path):
    """What the log says went wrong: the program's own messages (the last
    three), else its last line."""
    try:
        with open(path, errors="replace") as f:
            lines = [line.strip() for line in f if line.strip()]
    except OSError:
        return ""
    own = [line for line in lines if PROGRAM_MESSAGE.match(line)]
    if own:
        return " / ".join(own[-3:])
    return lines[-1] if lines else "(empty log)"


def failure_note(record):
    """The first step that left a log and no output, and what its log says."""
    for step, output in STEPS:
        if step == "evaluate" and not record["scored"]:
            continue
        log = os.path.join(record["directory"], "logs", step + ".log")
        if not os.path.exists(
            os.path.join(record["directory"], output)
        ) and os.path.exists(log):
            return f"{step} failed: {log_message(log)}"
    return None


def number(value, digits=None):
    if value is None:
        return ""
    return f"{value:.{digits}f}" if digits is not None else repr(value)


def summary_row(record):
    row = dict.fromkeys(COLUMNS, "")
    row["input"], row["parameters"] = record["input"], record["parameters"]
    run = read_json(os.path.join(record["directory"], "run.json"))
    metrics = (
        read_json(os.path.join(record["directory"], "metrics.json"))
        if record["scored"]
        else None
    )
    if run:
        row["frames"] = run["frames"]["done"]
        row["seconds"] = number(run["seconds"]["total"], 3)
        row["frames_per_second"] = number(run["seconds"]["frames_per_second"], 2)
    cost = read_json(os.path.join(record["directory"], "cost.json"))
    if cost:
        for key in COSTS:
            row[key] = cost.get(key, "")
    if metrics:
        for key in METRICS:
            row[key] = number(metrics.get(key))
    complete = (
        run is not None
        and run.get("status") == "complete"
        and (metrics or not record["scored"])
    )
    note = None if complete else failure_note(record)
    row["status"] = "complete" if complete else "failed" if note else "not run"
    row["note"] = note or (
        "" if complete or not run else f"run status {run.get('status')}"
    )
    return row


def write_summary(records, path):
    """Writes the summary (whole or not at all) and returns its rows."""
    rows = [summary_row(r) for r in records]
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path + ".tmp", "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=COLUMNS)
        writer.writeheader()
        writer.writerows(rows)
    os.replace(path + ".tmp", path)
    return rows


if __name__ == "__main__" and "snakemake" in globals():
    write_summary(snakemake.params.records, snakemake.output[0])
