#!/usr/bin/env python3
"""The module's apply() beside the library's own C++ apply() and cv2 MOG2's
apply(), per frame, on the same decoded frames, in one run.

    bench/run_python_bench.sh [--rounds R]       builds build-bench, then runs this
    /usr/bin/python3 bench/bench_python.py --build BUILD_DIR [--rounds R]

Frames: the first highway frames (320x240) and the first frames of
vtest.avi (768x576) from ../shared/data; a source that is missing is left
out, and without both the benchmark says so and exits with 0.

Two settings: all cores (threads=0, cv2 with its default threads), timed by
the wall clock, which is what a user waits for; and one thread (threads=1,
cv2.setNumThreads(1)), timed by the CPU time of the calling thread, which
then holds all of apply()'s work and hardly feels the other load of a
shared machine: the steadier measure of the module's own cost. Each round
times the C++ apply() (bench_apply, a child process), then the module's,
then MOG2's. Figures are medians per online frame; the overhead is the
median over the rounds of (module / C++ - 1).

The comparison of whole apply() calls crosses two processes, and where the
allocator happens to put the model's buffers in each (cache sets, 4K
aliasing between planes) moves apply() by several per cent either way; on
a shared machine the rounds scatter as much. The module's own cost is
therefore also measured directly: per call on the 16x12 top left corners
of the highway frames, where apply() has almost no pixel work (module time
minus C++ time), plus the one cost that grows with the frame, the new HxW
mask array each call returns.
"""
import argparse
import os
import pathlib
import re
import statistics
import subprocess
import sys
import time

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parent.parent


def arguments():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--build", type=pathlib.Path, default=ROOT / "build-bench")
    p.add_argument(
        "--data",
        type=pathlib.Path,
        default=pathlib.Path(
            os.environ.get("SHARED_DATA", ROOT.parent / "shared" / "data")
        ),
    )
    p.add_argument("--rounds", type=int, default=5)
    p.add_argument("--median-frames", type=int, default=50)
    p.add_argument("--highway-count", type=int, default=300)
    p.add_argument("--video-count", type=int, default=150)
    return p.parse_args()


def read_images(pattern, count):
    frames = [cv2.imread(pattern % k) for k in range(1, count + 1)]
    return frames if all(f is not None for f in frames) else None


def read_video(path, count):
    capture = cv2.VideoCapture(str(path))
    frames = []
    while len(frames) < count:
        ok, frame = capture.read()
        if not ok:
            return None
        frames.append(frame)
    return frames


def clocks(call):
    """(wall ms, calling thread's CPU ms) of one call."""
    cpu = time.thread_time()
    wall = time.perf_counter()
    call()
    return (time.perf_counter() - wall) * 1e3, (time.thread_time() - cpu) * 1e3


def time_cpp(build, source, count, median_frames, threads):
    run = subprocess.run(
        [str(build / "bench_apply")]
        + source
        + [
            "--count",
            str(count),
            "--median-frames",
            str(median_frames),
            "--threads",
            str(threads),
        ],
        capture_output=True,
        text=True,
        check=True,
    )
    found = re.search(r"wall_ms=([0-9.]+) thread_cpu_ms=([0-9.]+)", run.stdout)
    return float(found.group(1)), float(found.group(2))


def time_module(frames, median_frames, threads):
    s = strellix.Subtractor(median_frames=median_frames, threads=threads)
    s.initialize(frames)
    wall, cpu = [], []
    for f in frames:
        is_online = s.frames_applied >= s.layers
        took = clocks(lambda: s.apply(f))
        if is_online:
            wall.append(took[0])
            cpu.append(took[1])
    return statistics.median(wall), statistics.median(cpu)


def time_mog2(frames, skip):
    mog2 = cv2.createBackgroundSubtractorMOG2()
    times = [clocks(lambda: mog2.apply(f)) for f in frames][skip:]
    return statistics.median(t[0] for t in times), statistics.median(
        t[1] for t in times
    )


def mask_allocation_ms(frame):
    """A new mask array, as apply() makes one per call."""
    times = [
        clocks(lambda: np.empty(frame.shape[:2], np.uint8))[1] for _ in range(1000)
    ]
    return statistics.median(times)


def measure(a, source, count, frames, threads):
    """Per round: (C++, module, MOG2), each as (wall ms, thread CPU ms)."""
    default_threads = cv2.getNumThreads()
    cv2.setNumThreads(1 if threads == 1 else default_threads)
    rounds = []
    for _ in range(a.rounds):
        rounds.append(
            (
                time_cpp(a.build, source, count, a.median_frames, threads),
                time_module(frames, a.median_frames, threads),
                time_mog2(frames, 5),
            )
        )
    cv2.setNumThreads(default_threads)
    return rounds


def report(name, setting, rounds, clock):
    """Prints one row; returns the C++ apply() time."""
    cpp, module, mog2 = (
        statistics.median(r[k][clock] for r in rounds) for k in range(3)
    )
    overhead = statistics.median(r[1][clock] / r[0][clock] - 1.0 for r in rounds)
    print(
        f"{name:<20} {setting:<24} {cpp:>8.3f} ms {module:>10.3f} ms {100 * overhead:>+8.1f}% "
        f"{mog2:>8.3f} ms"
    )
    return cpp


def main(a):
    cases, corner = [], None
    highway = a.data / "highway" / "input" / "in%06d.jpg"
    frames = read_images(str(highway), a.highway_count)
    if frames:
        cases.append(
            ("320x240 highway", ["--images", str(highway)], a.highway_count, frames)
        )
        corner = (
            "16x12 highway corner",
            ["--images", str(highway), "--crop", "16x12"],
            a.highway_count,
            [f[:12, :16].copy() for f in frames],
        )
    video = a.data / "vtest.avi"
    frames = read_video(video, a.video_count) if video.is_file() else None
    if frames:
        cases.append(
            ("768x576 vtest.avi", ["--video", str(video)], a.video_count, frames)
        )
    if not cases:
        print(
            f"bench_python: no highway frames and no vtest.avi under {a.data}: benchmark skipped"
        )
        return 0
    print(
        f"machine: {os.cpu_count()} cores; Python {sys.version.split()[0]}, cv2 {cv2.__version__}, "
        f"strellix {strellix.__version__} ({strellix.Subtractor().implementation})"
    )
    print(
        f"{'frames':<20} {'setting':<24} {'C++ apply':>11} {'Python apply':>13} {'overhead':>9} "
        f"{'MOG2 (cv2)':>11}"
    )
    one_thread = {}
    for name, source, count, frames in cases:
        report(name, "all cores, wall", measure(a, source, count, frames, 0), 0)
        one_thread[name] = (
            report(
                name, "one thread, thread CPU", measure(a, source, count, frames, 1), 1
            ),
            mask_allocation_ms(frames[0]),
        )
    print(
        f"(medians per online frame over {a.rounds} rounds; overhead = Python apply / C++ apply - 1)"
    )
    if corner:
        rounds = measure(a, *corner[1:], 1)
        report(corner[0], "one thread, thread CPU", rounds, 1)
        fixed = statistics.median(r[1][1] - r[0][1] for r in rounds)
        print(f"the module's own cost per call at 16x12: {1000 * fixed:.1f} us")
        for name, (apply_ms, mask_ms) in one_thread.items():
            own = fixed + mask_ms
            print(
                f"  with a {name.split()[0]} mask array ({1000 * mask_ms:.1f} us): {1000 * own:.1f} us, "
                f"{100 * own / apply_ms:.2f}% of apply() on one thread"
            )
    return 0


if __name__ == "__main__":
    options = arguments()
    sys.path.insert(0, str(options.build / "python"))
    import cv2
    import strellix

    sys.exit(main(options))
