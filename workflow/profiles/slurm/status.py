#!/usr/bin/env python3
"""The state of a Slurm job for snakemake's --cluster-status: running,
success or failed. Asks scontrol, which knows a job until MinJobAge after
its end (300 s by default), then sacct where there is accounting."""
import subprocess
import sys

RUNNING = {
    "PENDING",
    "CONFIGURING",
    "RUNNING",
    "COMPLETING",
    "SUSPENDED",
    "REQUEUED",
    "RESIZING",
    "STAGE_OUT",
}
UNKNOWN = "unknown"  # Slurm answered, and does not know the job
UNREACHABLE = "unreachable"  # Slurm did not answer


def scontrol_state(job):
    try:
        shown = subprocess.run(
            ["scontrol", "show", "job", "-o", job],
            capture_output=True,
            text=True,
            timeout=60,
        )
    except (OSError, subprocess.TimeoutExpired):
        return UNREACHABLE
    for field in shown.stdout.split():
        if field.startswith("JobState="):
            return field.split("=", 1)[1]
    return UNKNOWN if "Invalid job id" in shown.stderr else UNREACHABLE


def sacct_state(job):
    try:
        listed = subprocess.run(
            ["sacct", "-j", job, "-X", "-n", "-P", "-o", "State"],
            capture_output=True,
            text=True,
            timeout=60,
        )
    except (OSError, subprocess.TimeoutExpired):
        return None
    states = listed.stdout.split("\n")
    if listed.returncode == 0 and states[0].strip():
        return states[0].split()[0]  # "CANCELLED by 0" -> "CANCELLED"
    return None


def main():
    if len(sys.argv) != 2:
        print("usage: status.py SLURM_JOB_ID", file=sys.stderr)
        return 2
    job = sys.argv[1]
    state = scontrol_state(job)
    if state == UNKNOWN:
        state = sacct_state(job) or UNKNOWN
    if state == UNREACHABLE:
        print("running")  # asked again in a moment
    elif state == UNKNOWN:
        # Gone from scontrol, and no accounting: it ended long ago, unseen.
        print(
            f"status.py: Slurm does not know job {job}; taken as failed",
            file=sys.stderr,
        )
        print("failed")
    elif state in RUNNING:
        print("running")
    elif state == "COMPLETED":
        print("success")
    else:  # FAILED, CANCELLED, TIMEOUT, OUT_OF_MEMORY, NODE_FAIL, PREEMPTED, BOOT_FAIL, DEADLINE
        print("failed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
