#!/usr/bin/env bash
# A single-node Slurm on this machine, to try the batch workflow's Slurm
# profile without a cluster (root, for slurmd; Debian's slurm-wlm and munge):
#
#   eval "$(tools/local_slurm.sh start)"   start it; sets SLURM_CONF for sbatch & co.
#   tools/local_slurm.sh status            is it up, what is queued (exit 3: not running)
#   tools/local_slurm.sh stop              cancel what is left, end its daemons, remove its directory
#
# Everything it writes is in one directory, ${TMPDIR:-/tmp}/strellix-slurm
# (--dir DIR or STRELLIX_SLURM_DIR to choose); tools/local_slurm.py is the
# implementation, which the workflow's Slurm test uses too.
exec /usr/bin/python3 "$(dirname "$0")/local_slurm.py" "$@"
