#!/usr/bin/env python3
"""Segments a video (any file cv2.VideoCapture opens, or a camera) with the
strellix module and writes one mask per frame.

    python3 examples/segment_video.py ../shared/data/vtest.avi --out masks
    python3 examples/segment_video.py 0 --show          # camera 0, in a window

The first --median-frames frames are read once, kept, and seed the model
(their temporal median); they are then segmented like every later frame.
Written into --out: mask000001.png, ... (255 = moving object), and the frame,
its mask and the model side by side in side_by_side.avi, or in a window
with --show when a display can be reached (q or Esc ends the run there).
"""
import argparse
import os
import subprocess
import sys
import time

import cv2
import numpy as np

import strellix


def arguments():
    p = argparse.ArgumentParser(
        description=__doc__.split("\n\n")[0],
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    p.add_argument("source", help="a video file, or the number of a camera")
    p.add_argument(
        "--out",
        default="segment_video_out",
        help="directory for the masks and the video",
    )
    p.add_argument(
        "--median-frames",
        type=int,
        default=100,
        help="frames whose median seeds the model",
    )
    p.add_argument("--layers", type=int, default=5)
    p.add_argument("--threshold", type=float, default=0.005)
    p.add_argument("--learning-rate", type=float, default=0.05)
    p.add_argument("--threads", type=int, default=0, help="0 = one per core")
    p.add_argument(
        "--max-frames",
        type=int,
        default=0,
        help="stop after this many frames (0 = all)",
    )
    p.add_argument(
        "--show",
        action="store_true",
        help="show the frames in a window, if a display is reachable",
    )
    p.add_argument(
        "--every", type=int, default=50, help="print progress every this many frames"
    )
    return p.parse_args()


def display_reachable():
    """Opens a window in a child process first: OpenCV's GUI toolkit ends the
    whole process when it cannot reach the display."""
    if not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
        return False
    probe = (
        "import cv2; cv2.namedWindow('probe'); cv2.waitKey(1); cv2.destroyAllWindows()"
    )
    try:
        return (
            subprocess.run(
                [sys.executable, "-c", probe],
                stdin=subprocess.DEVNULL,
                capture_output=True,
                timeout=5,
            ).returncode
            == 0
        )
    except subprocess.TimeoutExpired:
        return False


def open_source(source):
    capture = (
        cv2.VideoCapture(int(source)) if source.isdigit() else cv2.VideoCapture(source)
    )
    if not capture.isOpened():
        sys.exit(f"segment_video: cannot open {source}")
    return capture


def frames_of(capture, first, limit):
    """The kept first frames, then the rest of the source, read once."""
    count = 0
    for frame in first:
        if limit and count == limit:
            return
        count += 1
        yield frame
    while not limit or count < limit:
        ok, frame = capture.read()
        if not ok:
            return
        count += 1
        yield frame


class SideBySide:
    """Frame | mask | model, in a window or appended to a video file."""

    def __init__(self, out, show, fps):
        self.window = show and display_reachable()
        if show and not self.window:
            print(
                "segment_video: no display reachable; writing side_by_side.avi instead",
                file=sys.stderr,
            )
        self.path, self.fps, self.writer = (
            os.path.join(out, "side_by_side.avi"),
            fps,
            None,
        )

    def add(self, frame, mask, background):
        picture = np.hstack([frame, cv2.cvtColor(mask, cv2.COLOR_GRAY2BGR), background])
        if self.window:
            cv2.imshow("strellix: frame | mask | model", picture)
            return cv2.waitKey(1) & 0xFF not in (ord("q"), 27)
        if self.writer is None:
            size = (picture.shape[1], picture.shape[0])
            self.writer = cv2.VideoWriter(
                self.path, cv2.VideoWriter_fourcc(*"MJPG"), self.fps, size
            )
            if not self.writer.isOpened():
                sys.exit(f"segment_video: cannot write {self.path}")
        self.writer.write(picture)
        return True

    def close(self):
        if self.writer is not None:
            self.writer.release()
        if self.window:
            cv2.destroyAllWindows()


def main():
    a = arguments()
    os.makedirs(a.out, exist_ok=True)
    subtractor = strellix.Subtractor(
        layers=a.layers,
        threshold=a.threshold,
        learning_rate=a.learning_rate,
        median_frames=a.median_frames,
        threads=a.threads,
    )
    capture = open_source(a.source)
    first = []
    while len(first) < a.median_frames:
        ok, frame = capture.read()
        if not ok:
            break
        first.append(frame)
    if not first:
        sys.exit(f"segment_video: {a.source} gave no frame")
    subtractor.initialize(first)
    width, height = subtractor.frame_size
    print(
        f"model seeded from the median of {len(first)} frames of {a.source}, {width}x{height}, "
        f"passes: {subtractor.implementation}",
        flush=True,
    )

    fps = capture.get(cv2.CAP_PROP_FPS) or 25.0
    view = SideBySide(a.out, a.show, fps if 0 < fps < 1000 else 25.0)
    started = time.monotonic()
    k = 0
    try:
        for k, frame in enumerate(frames_of(capture, first, a.max_frames), 1):
            mask = subtractor.apply(frame)
            if not cv2.imwrite(os.path.join(a.out, f"mask{k:06d}.png"), mask):
                sys.exit(f"segment_video: cannot write the masks into {a.out}")
            if not view.add(frame, mask, subtractor.background()):
                break
            if k % a.every == 0:
                moving = 100.0 * np.count_nonzero(mask) / mask.size
                rate = k / (time.monotonic() - started)
                print(
                    f"frame {k}: {moving:.1f}% moving, {rate:.1f} frames/s", flush=True
                )
    except KeyboardInterrupt:
        print("interrupted", file=sys.stderr)
    finally:
        view.close()
        capture.release()
    print(f"frame {k}: done; masks in {a.out}", flush=True)


if __name__ == "__main__":
    main()
