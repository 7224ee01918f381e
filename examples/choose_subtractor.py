#!/usr/bin/env python3
"""Masks of a video by cv2's MOG2 or KNN or by strellix, chosen by a word.
Everything after the line that makes the subtractor is code written for
cv2's subtractors:

    python3 examples/choose_subtractor.py strellix ../shared/data/vtest.avi --out masks

Writes OUT/mask000001.png, ... (255 moving, 0 background; MOG2 and KNN mark
shadow 127) and OUT/background.png, and prints the frame count and the
share of moving pixels. strellix starts from the median of its first 100
frames, whose masks are black; its masks are those of
`strellix segment INPUT -o OUT --cold-start`.
"""
import argparse
import os
import sys

import cv2


def subtractor_named(word):
    """The one line that differs between the subtractors."""
    if word == "strellix":
        import strellix

        return strellix.createBackgroundSubtractor()
    return {
        "mog2": cv2.createBackgroundSubtractorMOG2,
        "knn": cv2.createBackgroundSubtractorKNN,
    }[word]()


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("subtractor", choices=["mog2", "knn", "strellix"])
    p.add_argument("input", help="anything cv2.VideoCapture opens")
    p.add_argument("--out", default="masks", help="directory for the masks")
    a = p.parse_args()
    os.makedirs(a.out, exist_ok=True)

    bs = subtractor_named(a.subtractor)
    capture = cv2.VideoCapture(a.input)
    if not capture.isOpened():
        sys.exit(f"cannot open {a.input}")
    frames, moving, fgmask = 0, 0.0, None
    while True:
        ok, frame = capture.read()
        if not ok:
            break
        fgmask = bs.apply(frame, fgmask)
        frames += 1
        if not cv2.imwrite(os.path.join(a.out, f"mask{frames:06d}.png"), fgmask):
            sys.exit(f"cannot write the masks into {a.out}")
        moving += (fgmask == 255).mean()
    background = bs.getBackgroundImage()
    if background is not None:
        cv2.imwrite(os.path.join(a.out, "background.png"), background)
    share = 100.0 * moving / frames if frames else 0.0
    print(f"{a.subtractor}: {frames} frames, {share:.2f}% moving")


if __name__ == "__main__":
    main()
