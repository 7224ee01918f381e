"""The held-out protocol of the accuracy scripts: which frames are scored,
how they are split, which set is chosen, and that a resumed sweep knows
the runs it already has."""

import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "bench"))
import accuracy_protocol as ap  # noqa: E402
import sweep_parameters as sp  # noqa: E402


def make_sequence(root, roi_range, truth_frames):
    directory = root / "seq"
    (directory / "groundtruth").mkdir(parents=True)
    (directory / "temporalROI.txt").write_text(f"{roi_range[0]} {roi_range[1]}\n")
    for k in truth_frames:
        (directory / "groundtruth" / f"gt{k:06d}.png").write_bytes(b"")
    (directory / "groundtruth" / "notes.txt").write_text("not a frame")
    return directory


def test_scored_frames_are_the_region_shared_with_the_ground_truth(
    tmp_path, monkeypatch
):
    monkeypatch.setattr(ap, "DATA", tmp_path)
    make_sequence(tmp_path, (1000, 4000), range(1460, 1561))
    assert ap.scored_range("seq") == (1460, 1560)
    # The two parts meet without a gap or an overlap; an odd frame goes to the held-out part.
    assert ap.split_halves(1460, 1560) == {"tune": (1460, 1509), "held": (1510, 1560)}
    assert ap.split_halves(0, 295) == {"tune": (0, 147), "held": (148, 295)}


def test_no_shared_frame_is_refused(tmp_path, monkeypatch):
    monkeypatch.setattr(ap, "DATA", tmp_path)
    make_sequence(tmp_path, (1, 100), range(200, 210))
    with pytest.raises(ValueError, match="share no frame"):
        ap.scored_range("seq")


def test_choice_is_made_on_the_tuning_part_only():
    rows = [
        {"set": "a", "sequence": "x", "tune_f": 0.9, "held_f": 0.5},
        {"set": "b", "sequence": "x", "tune_f": 0.8, "held_f": 0.9},
        {"set": "a", "sequence": "y", "tune_f": 0.1, "held_f": 0.1},
        {"set": "b", "sequence": "y", "tune_f": 0.3, "held_f": 0.2},
        # Best on y, but not run on x: no candidate for one set for all.
        {"set": "c", "sequence": "y", "tune_f": 0.99, "held_f": 0.99},
    ]
    per_sequence, overall = ap.choose(rows, lambda r: r["set"])
    assert per_sequence["x"]["set"] == "a" and per_sequence["y"]["set"] == "c"
    assert {r["set"] for r in overall.values()} == {"b"}


def test_resumed_sweep_finds_the_rows_it_wrote(tmp_path):
    sets = sp.parameter_sets(
        ["threshold=0.003,0.005 width_2d=0", "threshold=0.005 width_2d=0"]
    )
    assert [(s["threshold"], s["width_2d"], s["layers"]) for s in sets] == [
        (0.003, 0, 5),
        (0.005, 0, 5),
    ]
    out = tmp_path / "sweep.csv"
    rows = [{"sequence": "x", **s, "post_median": 7, "tune_f": 0.5} for s in sets]
    ap.append_rows(out, rows[:1], ["sequence", *sp.DEFAULTS, "post_median", "tune_f"])
    ap.append_rows(out, rows[1:], ["sequence", *sp.DEFAULTS, "post_median", "tune_f"])
    assert [sp.row_key(r) for r in ap.read_rows(out)] == [
        ("x", *s.values(), 7) for s in sets
    ]
