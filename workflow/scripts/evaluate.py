"""Scores one run's masks with strellix evaluate into metrics.json.

The frames scored are the configured ones, or those of the sequence's
temporalROI.txt that the run segmented (an excerpt's file may name frames it
does not hold)."""
import json
import os
import subprocess
import sys


def scored_range(sequence, run, configured):
    """[first, last], or a ValueError that says why there is none."""
    if configured:
        return configured
    roi_file = os.path.join(sequence, "temporalROI.txt")
    try:
        with open(roi_file) as f:
            first, last = (int(v) for v in f.read().split()[:2])
    except (OSError, ValueError):
        raise ValueError(
            f"cannot read the frames to score from {roi_file}; give them as 'score: [first, last]'"
        )
    done = run["frames"]
    if not done["done"]:
        raise ValueError("the run segmented no frame")
    first, last = max(first, done["first"]), min(last, done["last"])
    if first > last:
        raise ValueError(
            f"no frame of {roi_file} was segmented (the run did {done['first']}-{done['last']}); "
            "give the frames to score as 'score: [first, last]'"
        )
    return [first, last]


def evaluate(strellix, run_json, sequence, roi, configured, output, log):
    with open(run_json) as f:
        run = json.load(f)
    first, last = scored_range(sequence, run, configured)
    command = [
        strellix,
        "evaluate",
        os.path.dirname(run_json),
        os.path.join(sequence, "groundtruth"),
    ]
    command += ["--first", str(first), "--last", str(last), "--json"]
    if roi:
        command += ["--roi", roi]
    log.write(" ".join(command) + "\n")
    log.flush()
    scored = subprocess.run(command, stdout=subprocess.PIPE, stderr=log, text=True)
    if scored.returncode != 0:
        raise RuntimeError(
            f"strellix evaluate ended with exit code {scored.returncode}"
        )
    metrics = json.loads(scored.stdout)
    # Written whole or not at all.
    with open(output + ".tmp", "w") as f:
        json.dump(metrics, f, indent=2)
        f.write("\n")
    os.replace(output + ".tmp", output)


if __name__ == "__main__" and "snakemake" in globals():
    with open(snakemake.log[0], "w") as log:
        try:
            evaluate(
                snakemake.params.strellix,
                snakemake.input.run,
                snakemake.params.sequence,
                snakemake.params.roi,
                snakemake.params.score,
                snakemake.output[0],
                log,
            )
        except (OSError, ValueError, RuntimeError) as e:
            log.write(f"evaluate: {e}\n")
            sys.exit(1)
