"""Scores one run's masks with strellix evaluate into metrics.json.

The frames scored are the configured ones, or those strellix evaluate
settles on (temporalROI.txt and the ground truth present), within the
frames the run segmented. metrics.json is strellix evaluate's report with
each frame's counts, the tuning and held-out parts (scores.py) and the
example frame, whose mask and ground truth are kept for the input's
picture."""
import json
import os
import shutil
import subprocess
import sys

import scores


def range_options(run, configured):
    """--within the run's frames, and the configured [first, last]."""
    done = run["frames"]
    if not done["done"]:
        raise ValueError("the run segmented no frame")
    options = ["--within", f"{done['first']}-{done['last']}"]
    if configured:
        options += ["--first", str(configured[0]), "--last", str(configured[1])]
    return options


def evaluate(
    strellix, run_json, masks, sequence, roi, shadow_value, configured, output, log
):
    with open(run_json) as f:
        run = json.load(f)
    truth = os.path.join(sequence, "groundtruth")
    command = [strellix, "evaluate", masks, truth, "--json", "--per-frame"]
    command += range_options(run, configured)
    if roi:
        command += ["--roi", roi]
    # 255 marks shadows as moving, which is how they are then scored.
    if 0 < shadow_value < 255:
        command += ["--shadow-value", str(shadow_value)]
    log.write(" ".join(command) + "\n")
    log.flush()
    scored = subprocess.run(command, stdout=subprocess.PIPE, stderr=log, text=True)
    if scored.returncode != 0:
        raise RuntimeError(
            f"strellix evaluate ended with exit code {scored.returncode}"
        )
    metrics = json.loads(scored.stdout)
    metrics["parts"] = scores.parts(metrics)
    metrics["example_frame"] = scores.example_frame(metrics)
    # The names strellix segment and the change-detection layout give them.
    shutil.copyfile(
        os.path.join(masks, "mask%06d.png" % metrics["example_frame"]), output["mask"]
    )
    shutil.copyfile(
        os.path.join(truth, "gt%06d.png" % metrics["example_frame"]), output["truth"]
    )
    # Written whole or not at all, and last: it marks the scoring done.
    with open(output["metrics"] + ".tmp", "w") as f:
        json.dump(metrics, f, indent=1)
        f.write("\n")
    os.replace(output["metrics"] + ".tmp", output["metrics"])


if __name__ == "__main__" and "snakemake" in globals():
    with open(snakemake.log[0], "w") as log:
        try:
            evaluate(
                snakemake.params.strellix,
                snakemake.input.run,
                snakemake.input.masks,
                snakemake.params.sequence,
                snakemake.params.roi,
                snakemake.params.shadow_value,
                snakemake.params.score,
                dict(snakemake.output.items()),
                log,
            )
        except (OSError, ValueError, RuntimeError) as e:
            log.write(f"evaluate: {e}\n")
            sys.exit(1)
