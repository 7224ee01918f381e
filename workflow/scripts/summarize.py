"""results/summary.csv: one row per input and parameter set, from the files
its jobs left; and results/best.csv: the best sets, chosen on the tuning
parts and scored on the held-out parts (scores.py), beside the defaults.

A combination is complete when its run (and, with ground truth, its
scoring) is there; failed when a job of it left a log but not its output,
with what that log says as the note; not run otherwise. strellix
evaluate's warnings (a region of interest of another size, masks counted
as background) are in the note too. The same code writes the summary after
a failed batch (see onerror in the Snakefile), so that what did finish is
reported beside what did not."""
import contextlib
import csv
import json
import os
import re

from batch import PARAMETERS, value_text
from scores import best_sets

METRICS = [
    "recall",
    "specificity",
    "false_positive_rate",
    "false_negative_rate",
    "percentage_wrong_classifications",
    "precision",
    "f_measure",
    "shadow_error_rate",
]
# What each run took, and what its job asked for (cost.json).
COSTS = ["cpu_seconds", "max_rss_mb", "threads", "mem_mb"]
KEY_COLUMNS = [
    "input",
    "parameters",
    "status",
    "f_measure",
    "precision",
    "recall",
    "frames_per_second",
]
COLUMNS = (
    KEY_COLUMNS
    + list(PARAMETERS)
    + ["tuning_f", "held_out_f"]
    + [m for m in METRICS if m not in KEY_COLUMNS]
    + ["frames", "seconds"]
    + COSTS
    + ["note"]
)
BEST_COLUMNS = [
    "input",
    "parameters",
    "tuning_f",
    "held_out_f",
    "defaults_held_out_f",
] + list(PARAMETERS)

# "strellix: ...", "strellix probe: ...", "evaluate: ...".
PROGRAM_MESSAGE = re.compile(r"(strellix|evaluate)\b[^:/]*: ")


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


def steps(record):
    """Each job of a combination, with its output and its log, in order."""
    run, logs = record["directory"], os.path.join(record["directory"], "logs")
    probe = os.path.dirname(run)
    found = [
        (
            "probe",
            os.path.join(probe, "probe.json"),
            os.path.join(probe, "logs", "probe.log"),
        ),
        ("segment", os.path.join(run, "run.json"), os.path.join(logs, "segment.log")),
    ]
    if record["scored"]:
        found.append(
            (
                "evaluate",
                os.path.join(run, "metrics.json"),
                os.path.join(logs, "evaluate.log"),
            )
        )
    return found


def failure_note(record):
    """The first step that left a log and no output, and what its log says."""
    for step, output, log in steps(record):
        if not os.path.exists(output) and os.path.exists(log):
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
    # The values the run used (the defaults too), else those the set gives.
    used = (run or {}).get("parameters") or record["values"]
    for key in PARAMETERS:
        row[key] = value_text(used[key]) if used.get(key) is not None else ""
    if run:
        row["frames"] = run["frames"]["done"]
        row["seconds"] = number(run["seconds"]["total"], 3)
        row["frames_per_second"] = number(run["seconds"]["frames_per_second"], 2)
    cost = read_json(os.path.join(record["directory"], "cost.json"))
    if cost:
        for key in COSTS:
            row[key] = cost.get(key, "")
    warnings = []
    if metrics:
        for key in METRICS:
            row[key] = number(metrics.get(key))
        row["tuning_f"] = number(metrics["parts"]["tuning"]["f_measure"])
        row["held_out_f"] = number(metrics["parts"]["held_out"]["f_measure"])
        warnings = metrics.get("warnings", [])
    complete = (
        run is not None
        and run.get("status") == "complete"
        and (metrics or not record["scored"])
    )
    note = None if complete else failure_note(record)
    row["status"] = "complete" if complete else "failed" if note else "not run"
    if not note and run and not complete:
        note = f"run status {run.get('status')}"
    row["note"] = "; ".join(([note] if note else []) + warnings)
    return row


def write_csv(path, columns, rows):
    """Whole or not at all."""
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path + ".tmp", "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=columns, extrasaction="ignore")
        writer.writeheader()
        writer.writerows(rows)
    os.replace(path + ".tmp", path)


def best_rows(rows, defaults):
    """best.csv's rows, with the chosen sets' parameter values."""
    values = {r["parameters"]: r for r in rows if r["status"] == "complete"}
    table = best_sets(rows, defaults)
    for line in table:
        line.update({k: values[line["parameters"]][k] for k in PARAMETERS})
        for key in ("tuning_f", "held_out_f", "defaults_held_out_f"):
            line[key] = "" if line[key] != line[key] else repr(line[key])  # NaN: empty
    return table


def write_summary(records, defaults, path, best_path):
    """Writes both tables and returns the summary's rows."""
    rows = [summary_row(r) for r in records]
    write_csv(path, COLUMNS, rows)
    write_csv(best_path, BEST_COLUMNS, best_rows(rows, defaults))
    return rows


if __name__ == "__main__" and "snakemake" in globals():
    # Messages (matplotlib's warnings, a traceback) go into the job's log.
    with open(snakemake.log[0], "w") as log, contextlib.redirect_stderr(log):
        write_summary(
            snakemake.params.records,
            snakemake.params.defaults,
            snakemake.output.summary,
            snakemake.output.best,
        )
