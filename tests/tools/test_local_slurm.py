"""tools/local_slurm.sh as a user runs it: start prints the line that points
Slurm's commands at the cluster, a job runs there, status tells, and stop
cancels the job, ends every process and removes its directory, writing
nothing anywhere else."""

import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

import pytest

SOURCE = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tools"))
from local_slurm import missing_programs  # noqa: E402

# Where Slurm and munge write when not told otherwise.
SYSTEM_PLACES = [
    "/var/spool/slurmd",
    "/var/spool/slurmctld",
    "/var/log/slurm",
    "/var/log/munge",
    "/var/lib/munge",
    "/run/munge",
    "/run/slurm",
    "/etc/slurm",
    "/etc/munge",
]


def snapshot():
    """Every path under the system places, with its modification time."""
    seen = {}
    for top in SYSTEM_PLACES:
        for directory, _, files in os.walk(top):
            for name in [""] + files:
                path = os.path.join(directory, name)
                seen[path] = os.lstat(path).st_mtime_ns
    return seen


def processes_with(setting):
    mine = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                env = f.read().split(b"\0")
            with open(f"/proc/{pid}/stat") as f:
                zombie = f.read().rsplit(")", 1)[1].split()[0] == "Z"
        except OSError:
            continue
        if setting.encode() in env and not zombie:
            mine.append(pid)
    return mine


def job_state(job, env):
    shown = subprocess.run(
        ["squeue", "-h", "-j", job, "-o", "%T"],
        capture_output=True,
        text=True,
        env=env,
        timeout=60,
    )
    return shown.stdout.strip()


def test_start_status_stop_leave_nothing_behind():
    if missing_programs() or os.geteuid() != 0:
        pytest.skip("needs Slurm and munge (apt-get install slurm-wlm munge) and root")
    # munged wants the directories above its socket open to all.
    parent = tempfile.mkdtemp(prefix="strellix-local-slurm-")
    os.chmod(parent, 0o755)
    state = os.path.join(parent, "slurm")
    before = snapshot()

    conf = os.path.join(state, "slurm.conf")
    env = dict(os.environ, SLURM_CONF=conf)

    def tool(command):
        return subprocess.run(
            [str(SOURCE / "tools" / "local_slurm.sh"), command, "--dir", state],
            capture_output=True,
            text=True,
            timeout=120,
            env=env,
        )

    try:
        started = tool("start")
        assert started.returncode == 0, started.stderr
        assert started.stdout == f"SLURM_CONF={conf}; export SLURM_CONF\n"
        job = subprocess.run(
            ["sbatch", "--parsable", "-o", "/dev/null", "--wrap", "sleep 600"],
            capture_output=True,
            text=True,
            env=env,
            timeout=60,
        )
        assert job.returncode == 0, job.stderr
        deadline = time.monotonic() + 60
        while job_state(job.stdout.strip(), env) != "RUNNING":
            assert time.monotonic() < deadline, "the job did not start"
            time.sleep(0.25)
        status = tool("status")
        assert status.returncode == 0 and "running in" in status.stderr
    finally:
        stopped = tool("stop")
    assert stopped.returncode == 0, stopped.stderr
    assert tool("status").returncode == 3
    assert not os.path.exists(state)
    os.rmdir(parent)
    assert processes_with(f"SLURM_CONF={conf}") == []
    assert snapshot() == before
