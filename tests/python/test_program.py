"""The module against the program: on the same frames and switches its masks
are the files Strellixplus writes, and the example script's masks are the
module's on the frames of a video."""
import os
import subprocess
import sys

import numpy as np
import pytest

import strellix
from conftest import built, scene

cv2 = pytest.importorskip("cv2")


def run_program(prefix, workdir, switches):
    workdir.mkdir()
    run = subprocess.run(
        [str(built("STRELLIX_PROGRAM")), str(prefix)] + switches,
        cwd=workdir,
        stdin=subprocess.DEVNULL,
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert run.returncode == 0, run.stderr


def expect_program_masks(prefix, workdir, ini, end, median, switches, **parameters):
    run_program(
        prefix,
        workdir,
        ["-ini", str(ini), "-end", str(end), "-F", str(median)] + switches,
    )
    frames = [cv2.imread(f"{prefix}{k}.png") for k in range(ini, end + 1)]
    s = strellix.Subtractor(median_frames=median, **parameters)
    s.initialize(frames)
    for k, frame in zip(range(ini, end + 1), frames):
        written = cv2.imread(str(workdir / f"bin{k:06d}.png"), cv2.IMREAD_UNCHANGED)
        assert np.array_equal(s.apply(frame), written), f"mask of frame {k}"


@pytest.mark.parametrize(
    "ini, median, switches, parameters",
    [
        (1, 25, [], {}),
        (
            3,
            10,
            ["-n", "3", "-w1d", "0", "-w2d", "2", "-e", "0.01", "-lr", "0.1"],
            {
                "layers": 3,
                "width_1d": 0,
                "width_2d": 2,
                "threshold": 0.01,
                "learning_rate": 0.1,
            },
        ),
    ],
)
def test_masks_are_the_programs_on_a_generated_scene(
    ini, median, switches, parameters, tmp_path
):
    made = subprocess.run(
        [
            str(built("STRELLIX_TOOLS_DIR") / "make_sample_scene"),
            str(tmp_path / "scene"),
            "--frames",
            "40",
            "--width",
            "64",
            "--height",
            "48",
        ],
        capture_output=True,
        text=True,
    )
    assert made.returncode == 0, made.stderr
    expect_program_masks(
        tmp_path / "scene" / "frame",
        tmp_path / "run",
        ini,
        40,
        median,
        switches,
        **parameters,
    )


def test_masks_are_the_programs_on_a_highway_excerpt(tmp_path):
    source = built("STRELLIX_SHARED_DATA") / "highway" / "input"
    if not (source / "in000001.jpg").is_file():
        pytest.skip("no highway frames beside the project")
    for k in range(1, 121):
        assert cv2.imwrite(
            str(tmp_path / f"in{k}.png"), cv2.imread(str(source / f"in{k:06d}.jpg"))
        )
    expect_program_masks(tmp_path / "in", tmp_path / "run", 1, 120, 60, [])


def write_video(path, frames):
    fourcc = "mp4v" if path.suffix == ".mp4" else "MJPG"
    writer = cv2.VideoWriter(
        str(path), cv2.VideoWriter_fourcc(*fourcc), 25, frames[0].shape[1::-1]
    )
    if not writer.isOpened():
        pytest.skip(f"OpenCV cannot write {path.suffix} here")
    for f in frames:
        writer.write(f)
    writer.release()


@pytest.mark.parametrize("suffix", [".mp4", ".avi"])
def test_the_example_segments_a_video_headless(suffix, tmp_path):
    video = tmp_path / ("clip" + suffix)
    write_video(video, scene(40, 64, 48))
    example = built("STRELLIX_SOURCE_DIR") / "examples" / "segment_video.py"
    environment = {
        k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")
    }
    run = subprocess.run(
        [
            sys.executable,
            str(example),
            str(video),
            "--out",
            str(tmp_path / "out"),
            "--median-frames",
            "12",
        ],
        env=environment,
        stdin=subprocess.DEVNULL,
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert run.returncode == 0, run.stderr
    assert "frame 40" in run.stdout

    capture = cv2.VideoCapture(str(video))
    frames = []
    while True:
        ok, frame = capture.read()
        if not ok:
            break
        frames.append(frame)
    assert len(frames) == 40
    s = strellix.Subtractor(median_frames=12)
    s.initialize(frames)
    for k, frame in enumerate(frames, 1):
        written = cv2.imread(
            str(tmp_path / "out" / f"mask{k:06d}.png"), cv2.IMREAD_UNCHANGED
        )
        assert np.array_equal(s.apply(frame), written), f"mask of frame {k}"
    side = cv2.VideoCapture(str(tmp_path / "out" / "side_by_side.avi"))
    ok, first = side.read()
    assert ok and first.shape == (48, 3 * 64, 3)


def test_the_cv2_style_example_runs_each_subtractor_headless(tmp_path):
    video = tmp_path / "clip.avi"
    write_video(video, scene(120, 48, 36))  # beyond the 100 frames of the cold start
    example = built("STRELLIX_SOURCE_DIR") / "examples" / "choose_subtractor.py"
    for word in ("mog2", "knn", "strellix"):
        run = subprocess.run(
            [
                sys.executable,
                str(example),
                word,
                str(video),
                "--out",
                str(tmp_path / word),
            ],
            stdin=subprocess.DEVNULL,
            capture_output=True,
            text=True,
            timeout=300,
        )
        assert run.returncode == 0, run.stderr
        assert f"{word}: 120 frames" in run.stdout
    cli = built("STRELLIX_TOOLS_DIR") / "strellix"
    segment = [str(cli), "segment", str(video), "-o", str(tmp_path / "segment")]
    subprocess.run(segment + ["--cold-start", "-q"], check=True, timeout=300)
    for k in range(1, 121):
        name = f"mask{k:06d}.png"
        ours = cv2.imread(str(tmp_path / "strellix" / name), cv2.IMREAD_UNCHANGED)
        expected = cv2.imread(str(tmp_path / "segment" / name), cv2.IMREAD_UNCHANGED)
        assert np.array_equal(ours, expected), f"mask of frame {k}"
    assert ours.any()
