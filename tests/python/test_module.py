"""The module's own contract: every frame layout gives the masks of packed
BGR frames, refused input raises and leaves the model as it was, state files
resume exactly, threads run side by side, and nothing grows."""
import gc
import os
import re
import sys
import threading

import numpy as np
import pytest

import strellix
from conftest import assert_same_masks, masks_of, sanitized, scene


def seeded(frames, **parameters):
    s = strellix.Subtractor(median_frames=10, **parameters)
    s.initialize(frames[:10])
    return s


def unaligned_uint16(f):
    raw = np.zeros(f.size * 2 + 1, np.uint8)
    deep = raw[1:].view(np.uint16).reshape(f.shape)
    deep[...] = (f.astype(np.uint16) << 8) | 0x5A
    return deep


def grey_as_bgr(f):
    g = f[..., 1]
    return np.dstack([g, g, g])


# name: (what is handed in, the packed BGR frame it stands for)
LAYOUTS = {
    "rows of a wider array": lambda f: (
        np.pad(f, ((1, 2), (2, 3), (0, 0)))[1:-2, 2:-3],
        f,
    ),
    "column-major": lambda f: (np.asfortranarray(f), f),
    "channels reversed twice": lambda f: (f[..., ::-1].copy()[..., ::-1], f),
    "rows reversed twice": lambda f: (f[::-1].copy()[::-1], f),
    "every other column": lambda f: (np.repeat(f, 2, axis=1)[:, ::2], f),
    "BGRA": lambda f: (np.dstack([f, np.full(f.shape[:2], 7, np.uint8)]), f),
    "grey HxW": lambda f: (f[..., 1].copy(), grey_as_bgr(f)),
    "grey HxWx1": lambda f: (f[..., 1:2], grey_as_bgr(f)),
    "uint16": lambda f: ((f.astype(np.uint16) << 8) | 0x5A, f),
    "uint16 big-endian": lambda f: (
        ((f.astype(np.uint16) << 8) | 0x5A).astype(">u2"),
        f,
    ),
    "uint16 unaligned": lambda f: (unaligned_uint16(f), f),
}


@pytest.mark.parametrize("layout", LAYOUTS)
def test_frames_of_any_layout_give_the_masks_of_packed_bgr_frames(layout):
    frames = scene(30)
    pairs = [LAYOUTS[layout](f) for f in frames]
    given = [p[0] for p in pairs]
    packed = [np.ascontiguousarray(p[1]) for p in pairs]
    reference = seeded(packed)
    expected = masks_of(reference, packed)
    s = seeded(given)
    assert_same_masks(masks_of(s, given), expected)
    assert np.array_equal(s.background(), reference.background())


def test_initialize_takes_any_sequence_and_reads_no_further_than_the_median():
    frames = scene(30)
    expected = masks_of(seeded(frames), frames)

    def ten_then_fail():
        yield from frames[:10]
        raise AssertionError("initialize() read past median_frames")

    for given in (np.stack(frames), tuple(frames), ten_then_fail()):
        s = strellix.Subtractor(median_frames=10)
        s.initialize(given)
        assert_same_masks(masks_of(s, frames), expected)


def refused_cases():
    f = scene(1)[0]
    return {
        "float frame": (
            lambda s: s.apply(f.astype(np.float32)),
            TypeError,
            "dtype float32",
        ),
        "signed frame": (
            lambda s: s.apply(f.astype(np.int16)),
            TypeError,
            "dtype int16",
        ),
        "nested list": (
            lambda s: s.apply(f.tolist()),
            TypeError,
            "numpy array, not list",
        ),
        "None": (lambda s: s.apply(None), TypeError, "not NoneType"),
        "two channels": (
            lambda s: s.apply(f[..., :2]),
            ValueError,
            "shape (30, 40, 2)",
        ),
        "one dimension": (lambda s: s.apply(f[0, :, 0]), ValueError, "shape (40,)"),
        "a stack": (lambda s: s.apply(f[None]), ValueError, "shape (1, 30, 40, 3)"),
        "empty": (lambda s: s.apply(f[:0]), ValueError, "empty"),
        "another size": (
            lambda s: s.apply(f[:-1]),
            ValueError,
            "40x29 pixels, the model 40x30",
        ),
        "initialize with nothing": (
            lambda s: s.initialize([]),
            ValueError,
            "at least one frame",
        ),
        "initialize with two sizes": (
            lambda s: s.initialize([f, f[:-1]]),
            ValueError,
            "40x29",
        ),
        "initialize with one image": (
            lambda s: s.initialize(f),
            ValueError,
            "initialize_background",
        ),
        "initialize with a number": (
            lambda s: s.initialize(5),
            TypeError,
            "not iterable",
        ),
        "initialize with a string": (
            lambda s: s.initialize("ab"),
            TypeError,
            "frame 0 of initialize()",
        ),
        "background of floats": (
            lambda s: s.initialize_background(f / 255.0),
            TypeError,
            "float64",
        ),
        "save into a missing directory": (
            lambda s: s.save("missing/state.bin"),
            RuntimeError,
            "cannot write",
        ),
        "save to a name with a NUL byte": (
            lambda s: s.save("state\0.bin"),
            ValueError,
            "null byte",
        ),
        "save to a number": (lambda s: s.save(3), TypeError, "int"),
    }


@pytest.mark.parametrize("case", refused_cases())
def test_refused_input_raises_and_leaves_the_model_as_it_was(
    case, tmp_path, monkeypatch
):
    monkeypatch.chdir(tmp_path)
    call, error, message = refused_cases()[case]
    frames = scene(30)
    expected = masks_of(seeded(frames), frames)
    s = seeded(frames)
    got = masks_of(s, frames[:12])
    with pytest.raises(error, match=re.escape(message)):
        call(s)
    got += masks_of(s, frames[12:])
    assert_same_masks(got, expected)
    assert s.frames_applied == 30
    assert list(tmp_path.iterdir()) == [], "a refused call left a file"


@pytest.mark.parametrize(
    "parameters, error",
    [
        ({"layers": 0}, ValueError),
        ({"width_1d": 4}, ValueError),
        ({"width_2d": -1}, ValueError),
        ({"median_frames": 0}, ValueError),
        ({"threads": -1}, ValueError),
        ({"layers": 2**40}, ValueError),
        ({"threshold": float("nan")}, ValueError),
        ({"threshold": -5}, ValueError),
        ({"learning_rate": float("inf")}, ValueError),
        ({"learning_rate": 5}, ValueError),
        ({"layers": "5"}, TypeError),
        ({"median_frames": 2.5}, TypeError),
        ({"numerics": "Fast"}, ValueError),
        ({"numerics": "fast", "layers": 128}, ValueError),
        ({"numerics": 1}, TypeError),
    ],
)
def test_parameters_out_of_range_or_of_another_type_are_refused(parameters, error):
    with pytest.raises(error):
        strellix.Subtractor(**parameters)


@pytest.mark.parametrize("call", ["apply", "background", "save"])
def test_a_model_is_needed_before_use(call, tmp_path):
    s = strellix.Subtractor()
    args = {
        "apply": (scene(1)[0],),
        "background": (),
        "save": (tmp_path / "state.bin",),
    }[call]
    with pytest.raises(RuntimeError, match="initialized model"):
        getattr(s, call)(*args)
    assert not s.initialized and s.frame_size == (0, 0)


def test_attributes_repr_results_and_help():
    s = strellix.Subtractor(
        layers=3,
        width_1d=0,
        width_2d=2,
        threshold=0.01,
        learning_rate=0.1,
        median_frames=7,
        threads=2,
    )
    assert (
        s.layers,
        s.width_1d,
        s.width_2d,
        s.threshold,
        s.learning_rate,
        s.median_frames,
        s.threads,
    ) == (3, 0, 2, 0.01, 0.1, 7, 2)
    with pytest.raises(AttributeError):
        s.layers = 4
    assert repr(s) == (
        "<strellix.Subtractor layers=3 width_1d=0 width_2d=2 threshold=0.01 "
        "learning_rate=0.1 median_frames=7 threads=2 numerics=exact: not initialized>"
    )
    frames = scene(7)
    s.initialize(frames)
    mask = s.apply(frames[0])
    assert mask.shape == (30, 40) and mask.dtype == np.uint8 and mask.flags.c_contiguous
    assert mask.flags.writeable and mask.base is None
    mask = s.apply(frames[1])
    assert set(np.unique(mask)) <= {0, 255}
    assert s.background().shape == (30, 40, 3) and s.background().dtype == np.uint8
    assert repr(s).endswith(": 40x30, 2 frames applied>")
    assert s.initialized and s.frame_size == (40, 30) and s.frames_applied == 2
    assert s.implementation in ("reference", "baseline", "avx2")
    assert s.numerics == "exact"
    assert re.fullmatch(r"\d+\.\d+\.\d+", strellix.__version__)
    assert (
        "median" in strellix.Subtractor.__doc__
        and "GIL" in strellix.Subtractor.apply.__doc__
    )


def test_a_saved_state_resumes_exactly(tmp_path):
    frames = scene(40)
    s = seeded(frames, layers=4, threshold=0.002)
    masks_of(s, frames[:15])
    s.save(tmp_path / "state.bin")
    t = strellix.Subtractor.load(str(tmp_path / "state.bin"))
    assert (t.layers, t.threshold, t.median_frames, t.frames_applied) == (
        4,
        0.002,
        10,
        15,
    )
    assert_same_masks(masks_of(t, frames[15:]), masks_of(s, frames[15:]))
    assert np.array_equal(t.background(), s.background())


def test_the_fast_numerics_resume_exactly_and_keep_to_their_mode(tmp_path):
    frames = scene(40)
    s = seeded(frames, numerics="fast")
    assert s.numerics == "fast" and s.implementation.startswith("fast-")
    masks_of(s, frames[:15])
    s.save(tmp_path / "fast.bin")
    t = strellix.Subtractor.load(tmp_path / "fast.bin", numerics="fast")
    assert (t.numerics, t.frames_applied) == ("fast", 15)
    assert_same_masks(masks_of(t, frames[15:]), masks_of(s, frames[15:]))
    assert np.array_equal(t.background(), s.background())
    with pytest.raises(RuntimeError, match="fast numerics, not of the exact"):
        strellix.Subtractor.load(tmp_path / "fast.bin", numerics="exact")


@pytest.mark.parametrize(
    "spoil", ["missing", "empty", "truncated", "one byte changed", "a directory"]
)
def test_a_damaged_state_file_is_refused(spoil, tmp_path):
    frames = scene(12)
    path = tmp_path / "state.bin"
    seeded(frames).save(path)
    data = path.read_bytes()
    if spoil == "missing":
        path.unlink()
    elif spoil == "empty":
        path.write_bytes(b"")
    elif spoil == "truncated":
        path.write_bytes(data[: len(data) // 2])
    elif spoil == "one byte changed":
        path.write_bytes(data[:100] + bytes([data[100] ^ 1]) + data[101:])
    else:
        path.unlink()
        path.mkdir()
    with pytest.raises(RuntimeError, match="state.bin"):
        strellix.Subtractor.load(path)


def run_in_threads(*jobs):
    results = [None] * len(jobs)
    failures = []

    def run(k):
        try:
            results[k] = jobs[k]()
        except BaseException as e:  # reported by the test, not lost in the thread
            failures.append(e)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(len(jobs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures, failures
    return results


def test_two_subtractors_on_two_threads_give_the_masks_of_two_sequential_runs():
    frames = scene(60, 64, 48)
    other = {"layers": 3, "width_2d": 2, "threshold": 0.002}
    alone_a = masks_of(seeded(frames), frames)
    alone_b = masks_of(seeded(frames, **other), frames)
    a, b = seeded(frames), seeded(frames, **other)
    together_a, together_b = run_in_threads(
        lambda: masks_of(a, frames), lambda: masks_of(b, frames)
    )
    assert_same_masks(together_a, alone_a)
    assert_same_masks(together_b, alone_b)


def test_apply_lets_other_python_threads_run():
    # With a switch interval far longer than the test, the interpreter never
    # takes the GIL from this thread: once released, the waiting thread can
    # only run while apply() has given the GIL up. The collector stays off,
    # as the finalizer of some garbage could give the GIL up too.
    frames = scene(20, 80, 60)
    s = seeded(frames, threads=1)
    go, ran = threading.Event(), threading.Event()
    waiting = threading.Thread(target=lambda: (go.wait(), ran.set()))
    interval = sys.getswitchinterval()
    gc.collect()
    gc.disable()
    sys.setswitchinterval(1000)
    try:
        waiting.start()
        go.set()
        calls = 0
        while not ran.is_set() and calls < 5000:
            s.apply(frames[calls % len(frames)])
            calls += 1
        ran_during_apply = ran.is_set()
    finally:
        sys.setswitchinterval(interval)
        gc.enable()
        waiting.join()
    assert ran_during_apply, "no other thread ran during 5000 calls of apply()"


def test_one_subtractor_shared_by_two_threads_serves_one_call_at_a_time():
    frames = scene(40)
    s = seeded(frames)
    a, b = run_in_threads(
        lambda: masks_of(s, frames), lambda: masks_of(s, frames[::-1])
    )
    assert s.frames_applied == 80
    assert all(set(np.unique(m)) <= {0, 255} for m in a + b)


@sanitized
def test_ten_thousand_applies_do_not_grow_the_process():
    frames = scene(20, 64, 48)
    strided = [np.asfortranarray(f) for f in frames]
    s = seeded(frames, threads=1)

    def resident_bytes():
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    def run(count):
        for k in range(count):
            s.apply((frames if k % 2 else strided)[k % 20])
            if k % 10 == 0:
                s.background()

    run(1000)
    before = resident_bytes()
    run(10000)
    # A leak of one mask (3 KiB) or one frame copy per call would be 30 MiB.
    assert resident_bytes() - before < 4 << 20
