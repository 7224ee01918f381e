"""The test's single-node Slurm is the one tools/local_slurm.sh starts: a
throwaway one in a scratch directory, whose daemons end with the test."""

import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools"))

from local_slurm import SingleNodeSlurm, missing_programs  # noqa: E402,F401
