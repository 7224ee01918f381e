"""A small batch for the workflow's tests: generated scenes with ground
truth, a short mp4, two parameter sets; and snakemake run on it."""
import os
import pathlib
import subprocess
import sys

import pytest
import yaml

SOURCE = pathlib.Path(
    os.environ.get("STRELLIX_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2])
)
SNAKEFILE = SOURCE / "workflow" / "Snakefile"
# The workflow's table of strellix segment's parameters and their options.
sys.path.insert(0, str(SOURCE / "workflow" / "scripts"))
from batch import PARAMETERS  # noqa: E402,F401

PARAMETER_SETS = {"default": {}, "fine": {"threshold": 0.0002, "median_frames": 10}}


def built(variable):
    value = os.environ.get(variable)
    if not value:
        pytest.skip(f"{variable} is not set (ctest sets it)")
    return pathlib.Path(value)


def make_scene(directory, width, height, seed, frames=40):
    tool = built("STRELLIX_TOOLS_DIR") / "make_sample_scene"
    subprocess.run(
        [
            str(tool),
            str(directory),
            "--frames",
            str(frames),
            "--width",
            str(width),
            "--height",
            str(height),
            "--seed",
            str(seed),
        ],
        check=True,
        capture_output=True,
    )


def write_mp4(path, frame_files):
    cv2 = pytest.importorskip("cv2")
    first = cv2.imread(str(frame_files[0]))
    writer = cv2.VideoWriter(
        str(path), cv2.VideoWriter_fourcc(*"mp4v"), 25, first.shape[1::-1]
    )
    if not writer.isOpened():
        pytest.skip("no mp4 encoder in this OpenCV")
    for f in frame_files:
        writer.write(cv2.imread(str(f)))
    writer.release()


def write_config(workdir, inputs, parameters=PARAMETER_SETS, **settings):
    config = {
        "strellix": str(built("STRELLIX_CLI")),
        "inputs": inputs,
        "parameters": parameters,
        **settings,
    }
    (workdir / "batch.yaml").write_text(yaml.safe_dump(config))
    return config


@pytest.fixture
def batch(tmp_path):
    """Two scenes with ground truth (one run from frame 3) and an mp4 of a
    third, no ground truth; returns the working directory."""
    make_scene(tmp_path / "a", 64, 48, 1)
    make_scene(tmp_path / "b", 80, 60, 2)
    make_scene(tmp_path / "c", 64, 48, 3, frames=30)
    write_mp4(
        tmp_path / "clip.mp4", [tmp_path / "c" / f"frame{k}.png" for k in range(1, 31)]
    )
    write_config(
        tmp_path,
        {
            "a": {"source": "a/frame%d.png", "groundtruth": "a"},
            "b": {"source": "b/frame%d.png", "groundtruth": "b", "start": 3},
            "clip": {"source": "clip.mp4"},
        },
    )
    return tmp_path


def snakemake(
    workdir, *arguments, batch="batch.yaml", config=(), env=None, timeout=300
):
    """snakemake on the batch in `workdir`, as docs/batches.md runs it; `config`:
    more KEY=VALUE for --config."""
    command = [sys.executable, "-m", "snakemake", "-s", str(SNAKEFILE)]
    command += ["--config", f"batch={batch}", *config, "--nocolor", *arguments]
    return subprocess.run(
        command, cwd=workdir, capture_output=True, text=True, timeout=timeout, env=env
    )
