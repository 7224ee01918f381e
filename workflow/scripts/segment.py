"""Runs strellix segment for one input and parameter set, its messages into
the job's log, and records what the run cost (cost.json): CPU seconds and
peak memory of the program, beside the memory and threads the job asked
for, so that a batch's requests can be checked against what its runs took."""
import json
import os
import resource
import subprocess
import sys
import time


def segment(strellix, arguments, log_path, cost_path, requested):
    started = time.monotonic()
    with open(log_path, "w") as log:
        ended = subprocess.run(
            [strellix, "segment", *arguments], stdout=log, stderr=subprocess.STDOUT
        )
        usage = resource.getrusage(resource.RUSAGE_CHILDREN)
        if ended.returncode != 0:
            ending = (
                f"exit code {ended.returncode}"
                if ended.returncode > 0
                else f"signal {-ended.returncode}"
            )
            log.write(f"segment: strellix segment ended with {ending}\n")
            return 1
    cost = {
        "wall_seconds": round(time.monotonic() - started, 3),
        "cpu_seconds": round(usage.ru_utime + usage.ru_stime, 3),
        "max_rss_mb": round(usage.ru_maxrss / 1024, 1),  # ru_maxrss is in kB on Linux
        **requested,
    }
    with open(cost_path + ".tmp", "w") as f:
        json.dump(cost, f, indent=2)
        f.write("\n")
    os.replace(cost_path + ".tmp", cost_path)
    return 0


if __name__ == "__main__" and "snakemake" in globals():
    sys.exit(
        segment(
            snakemake.params.strellix,
            snakemake.params.arguments,
            snakemake.log[0],
            snakemake.output.cost,
            {
                "threads": snakemake.threads,
                "mem_mb": snakemake.resources.mem_mb,
                "runtime_minutes": snakemake.resources.runtime,
            },
        )
    )
