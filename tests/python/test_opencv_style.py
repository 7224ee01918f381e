"""The cv2-style subtractor: a script written for cv2's MOG2 runs with it,
its cold start gives the masks of a Subtractor seeded with the first frames,
and outputs, parameters and errors follow cv2's calls; the mask options
reach both kinds of subtractor."""
import cv2
import numpy as np
import pytest

import strellix
from conftest import assert_same_masks, masks_of, scene


def cv2_script(bs, frames):
    """The calls a cv2 script makes: apply with and without an output array
    and a learning rate, getBackgroundImage with and without one."""
    masks, fgmask = [], np.zeros(frames[0].shape[:2], np.uint8)
    for k, frame in enumerate(frames):
        if k % 3 == 0:
            masks.append(bs.apply(frame).copy())
        else:
            assert bs.apply(frame, fgmask, -1) is fgmask
            masks.append(fgmask.copy())
    background = np.zeros(frames[0].shape, np.uint8)
    assert bs.getBackgroundImage(background) is background
    assert np.array_equal(bs.getBackgroundImage(), background)
    return masks


@pytest.mark.parametrize("numerics", ["exact", "fast"])
def test_a_cv2_script_runs_and_its_masks_are_those_of_a_seeded_subtractor(numerics):
    frames = scene(40)
    cv2_script(cv2.createBackgroundSubtractorMOG2(), frames)
    bs = strellix.createBackgroundSubtractor(median_frames=10, numerics=numerics)
    assert bs.getNumerics() == numerics
    assert bs.getBackgroundImage() is None
    assert not bs.apply(frames[30], learningRate=0).any()  # not kept for the seed
    got = cv2_script(bs, frames)
    bs.apply(frames[0], None, 0)  # learns nothing, as the next mask shows
    s = strellix.Subtractor(median_frames=10, numerics=numerics)
    s.initialize(frames[:10])
    expected = masks_of(s, frames)
    assert all(not m.any() for m in got[:9])
    assert_same_masks(got[9:], expected[9:])
    assert np.array_equal(bs.apply(frames[5]), s.apply(frames[5]))


def test_mask_options_reach_both_kinds_of_subtractor():
    s = strellix.Subtractor(shadow_value=127, post_median=5)
    bs = strellix.createBackgroundSubtractor(shadow_value=127, post_median=5)
    assert (s.shadow_value, s.post_median) == (127, 5)
    assert (bs.getShadowValue(), bs.getPostMedian()) == (127, 5)


@pytest.mark.parametrize(
    "call, error, says",
    [
        (lambda bs: bs.setLayers(0), ValueError, "layers must be"),
        (lambda bs: bs.setPostMedian(4), ValueError, "post_median must be"),
        (lambda bs: bs.setNumerics("Fast"), ValueError, "numerics must be"),
        (lambda bs: bs.setMedianFrames(2**40), ValueError, "median_frames"),
        (lambda bs: bs.apply(np.zeros((30, 40, 3), np.float32)), TypeError, "dtype"),
        (lambda bs: bs.apply(scene(1)[0], None, 1.5), ValueError, "learning rate"),
    ],
)
def test_refused_values_raise_and_change_nothing(call, error, says):
    bs = strellix.createBackgroundSubtractor(median_frames=3)
    with pytest.raises(error, match=says):
        call(bs)
    assert bs.getLayers() == 5 and bs.getBackgroundImage() is None


def test_parameters_are_set_before_the_first_frame_or_after_clear():
    bs = strellix.createBackgroundSubtractor(median_frames=3)
    bs.setShadowValue(127)
    bs.setNumerics("fast")
    bs.setThreshold(0.01)
    assert (bs.getShadowValue(), bs.getThreshold(), bs.getMedianFrames()) == (
        127,
        0.01,
        3,
    )
    assert bs.getDefaultName() == "BackgroundSubtractor_Strellix"
    frame = scene(1)[0]
    bs.apply(frame)
    bs.setThreshold(0.01)  # the value it has
    with pytest.raises(RuntimeError, match="clear"):
        bs.setThreshold(0.02)
    with pytest.raises(ValueError, match="40x30"):
        bs.apply(frame[:10])
    bs.clear()
    bs.setThreshold(0.02)
    assert bs.getNumerics() == "fast"
    assert bs.apply(frame[:10]).shape == (10, 40)


def test_apply_before_initialize_says_what_to_call():
    with pytest.raises(
        RuntimeError, match=r"call initialize\(frames\) or initialize_background"
    ):
        strellix.Subtractor().apply(scene(1)[0])
