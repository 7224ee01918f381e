"""Shared by the module's tests: a small moving scene and the places ctest names."""
import os
import pathlib

import numpy as np
import pytest


def scene(count, width=40, height=30):
    """A textured background, a block crossing it and a flicker in blue, so
    that every stage of the model has work."""
    r = np.arange(height)[:, None]
    c = np.arange(width)[None, :]
    frames = []
    for t in range(count):
        f = np.empty((height, width, 3), np.uint8)
        f[..., 0] = 60 + (r * 7 + c * 3) % 50 + t % 3
        f[..., 1] = 90 + (r * 5 + c * 11) % 40
        f[..., 2] = 120 + (r + c) % 30
        x = (t * 2) % width
        f[height // 3 : height // 3 + 8, x : x + 8] = (20, 200, 240)
        frames.append(f)
    return frames


def masks_of(subtractor, frames):
    return [subtractor.apply(f) for f in frames]


def assert_same_masks(got, expected):
    assert len(got) == len(expected)
    for k, (a, b) in enumerate(zip(got, expected)):
        assert np.array_equal(a, b), f"mask {k} differs"


def built(variable):
    """A path ctest hands the tests; without it (pytest run by hand) the
    tests that need it are skipped."""
    value = os.environ.get(variable)
    if not value:
        pytest.skip(f"{variable} is not set (ctest sets it)")
    return pathlib.Path(value)


sanitized = pytest.mark.skipif(
    os.environ.get("STRELLIX_SANITIZED") == "1",
    reason="the sanitizers' own bookkeeping grows the process",
)
