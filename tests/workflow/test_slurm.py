"""A small batch through a real single-node Slurm with the workflow's Slurm
profile: jobs get the threads, memory and time they declare, a failing job
is seen as failed, and the summary is the same as on local cores."""
import csv
import json
import math
import os
import re
import shutil
import subprocess

import pytest
from conftest import (
    PARAMETERS,
    PARAMETER_SETS,
    SOURCE,
    built,
    make_scene,
    snakemake,
    write_config,
    write_mp4,
)
from slurm_cluster import SingleNodeSlurm, missing_programs

PROFILE = SOURCE / "workflow" / "profiles" / "slurm"


def rows_of(workdir):
    with open(workdir / "results" / "summary.csv", newline="") as f:
        return {(r["input"], r["parameters"]): r for r in csv.DictReader(f)}


def megabytes(slurm_size):
    return int(slurm_size[:-1]) * {"M": 1, "G": 1024, "T": 1024**2}[slurm_size[-1]]


def wildcards_of(job, workdir):
    """input_name and parameter_set, from the job's own output file."""
    with open(workdir / job["StdOut"], errors="replace") as f:
        found = re.search(
            r"wildcards: input_name=([^,\s]+), parameter_set=(\S+)", f.read()
        )
    return found.groups() if found else None


def test_a_batch_runs_through_slurm_with_the_profile(tmp_path):
    missing = missing_programs()
    if missing:
        pytest.skip(
            f"Slurm cannot be started here: {', '.join(missing)} not installed "
            "(apt-get install slurm-wlm munge)"
        )
    if os.geteuid() != 0:
        pytest.skip("starting slurmd takes root")
    work = tmp_path / "batch"
    make_scene(work / "a", 64, 48, 1)
    make_scene(work / "c", 64, 48, 3, frames=30)
    write_mp4(work / "clip.mp4", [work / "c" / f"frame{k}.png" for k in range(1, 31)])
    shutil.copytree(work / "a", work / "broken")
    (work / "broken" / "frame30.png").write_bytes(os.urandom(400))
    threads = min(2, os.cpu_count())
    config = write_config(
        work,
        {
            "a": {"source": "a/frame%d.png", "groundtruth": "a"},
            "clip": {"source": "clip.mp4"},
            "broken": {"source": "broken/frame%d.png"},
        },
        threads=threads,
    )

    slurm = SingleNodeSlurm()
    with slurm:
        done = snakemake(work, "--profile", str(PROFILE), env=slurm.env, timeout=400)
        jobs = slurm.jobs()
        logs = slurm.logs()
        left = slurm.stop()
    assert left == [], "processes left behind"

    assert done.returncode != 0, "a failed job must fail the batch"
    rows = rows_of(work)
    for key, row in rows.items():
        assert row["status"] == ("failed" if key[0] == "broken" else "complete"), (
            key,
            row["note"],
            logs,
        )
    assert "broken/frame30.png" in rows["broken", "default"]["note"]
    assert rows["a", "fine"]["f_measure"] != ""

    # Every segment job ran in Slurm with the threads, memory and time it declared.
    tried = {}
    for job in (j for j in jobs if j["JobName"] == "strellix.segment"):
        tried.setdefault(wildcards_of(job, work), []).append(job)
    assert set(tried) == {
        (i, p) for i in ("a", "clip", "broken") for p in ("default", "fine")
    }
    for (name, parameters), attempts in tried.items():
        # What strellix itself counts for the set (the batch probes with
        # the defaults only, and works out the other sets).
        source = str(work / config["inputs"][name]["source"])
        options = [
            a
            for k, v in PARAMETER_SETS[parameters].items()
            for a in (PARAMETERS[k], str(v))
        ]
        probe = subprocess.run(
            [str(built("STRELLIX_CLI")), "probe", source, *options, "--json"],
            capture_output=True,
            check=True,
            text=True,
        )
        expected = (
            math.ceil(json.loads(probe.stdout)["memory"]["bytes"] / 2**20) + 128
        )
        assert all(
            int(j["NumCPUs"]) == threads and j["TimeLimit"] != "UNLIMITED"
            for j in attempts
        )
        memory = sorted(megabytes(j["MinMemoryNode"]) for j in attempts)
        states = {j["JobState"] for j in attempts}
        if name == "broken":  # tried once more with twice the memory, then given up
            assert memory == [expected, 2 * expected] and states == {"FAILED"}, attempts
        else:
            assert memory == [expected] and states == {"COMPLETED"}, attempts
    assert [j["JobName"] for j in jobs].count("strellix.evaluate") == 2
