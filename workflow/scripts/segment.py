"""Runs strellix segment for one input and parameter set, its messages into
the job's log, and records what the run cost (cost.json): CPU seconds and
peak memory of the program, beside the memory and threads the job asked
for, so that a batch's requests can be checked against what its runs took.

strellix writes into the run's masks/ directory, which may be deleted once
the masks are scored: run.json and background.png are copied beside it
and the videos moved there, so that what the batch keeps stays."""
import json
import os
import resource
import shutil
import subprocess
import sys
import time


def segment(strellix, arguments, threads, log_path, outputs, videos, requested):
    started = time.monotonic()
    command = [strellix, "segment", *arguments, "--threads", str(threads)]
    with open(log_path, "w") as log:
        ended = subprocess.run(command, stdout=log, stderr=subprocess.STDOUT)
        usage = resource.getrusage(resource.RUSAGE_CHILDREN)
        if ended.returncode != 0:
            ending = (
                f"exit code {ended.returncode}"
                if ended.returncode > 0
                else f"signal {-ended.returncode}"
            )
            log.write(f"segment: strellix segment ended with {ending}\n")
            return 1
    masks = outputs["masks"]
    for kept in ("run", "seed"):
        shutil.copyfile(
            os.path.join(masks, os.path.basename(outputs[kept])), outputs[kept]
        )
    for video in videos:
        os.replace(
            os.path.join(masks, video), os.path.join(os.path.dirname(masks), video)
        )
    cost = {
        "wall_seconds": round(time.monotonic() - started, 3),
        "cpu_seconds": round(usage.ru_utime + usage.ru_stime, 3),
        "max_rss_mb": round(usage.ru_maxrss / 1024, 1),  # ru_maxrss is in kB on Linux
        **requested,
    }
    with open(outputs["cost"] + ".tmp", "w") as f:
        json.dump(cost, f, indent=2)
        f.write("\n")
    os.replace(outputs["cost"] + ".tmp", outputs["cost"])
    return 0


if __name__ == "__main__" and "snakemake" in globals():
    sys.exit(
        segment(
            snakemake.params.strellix,
            snakemake.params.arguments,
            snakemake.threads,
            snakemake.log[0],
            dict(snakemake.output.items()),
            snakemake.params.videos,
            {
                "threads": snakemake.threads,
                "mem_mb": snakemake.resources.mem_mb,
                "runtime_minutes": snakemake.resources.runtime,
            },
        )
    )
