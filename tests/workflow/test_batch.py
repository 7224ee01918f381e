"""The batch workflow on local cores: its summary is what its jobs and a
direct strellix run give; it resumes, reruns only what a changed input
touches, and a corrupt input fails alone."""
import csv
import json
import os
import subprocess

import pytest
import yaml
from conftest import PARAMETERS, built, snakemake


cv2 = pytest.importorskip("cv2")
METRICS = [
    "recall",
    "specificity",
    "false_positive_rate",
    "false_negative_rate",
    "percentage_wrong_classifications",
    "precision",
    "f_measure",
]


def summary(workdir):
    with open(workdir / "results" / "summary.csv", newline="") as f:
        return {(r["input"], r["parameters"]): r for r in csv.DictReader(f)}


def mtimes(workdir, name):
    return {
        p.parent.relative_to(workdir).as_posix(): p.stat().st_mtime_ns
        for p in (workdir / "results").glob(f"*/*/{name}")
    }


def test_summary_matches_jobs_and_a_direct_run_then_resumes_and_reruns_only_a_changed_input(
    batch,
):
    done = snakemake(batch, "--cores", "2")
    assert done.returncode == 0, done.stderr
    rows = summary(batch)
    assert len(rows) == 6 and {r["status"] for r in rows.values()} == {"complete"}
    for (name, parameters), row in rows.items():
        directory = batch / "results" / name / parameters
        run = json.loads((directory / "run.json").read_text())
        assert int(row["frames"]) == run["frames"]["done"]
        assert float(row["seconds"]) == round(run["seconds"]["total"], 3)
        # One column per parameter, with the value the run used.
        assert all(yaml.safe_load(row[p]) == run["parameters"][p] for p in PARAMETERS)
        if name == "clip":
            assert not (directory / "metrics.json").exists() and all(
                row[m] == "" for m in METRICS
            )
        else:
            metrics = json.loads((directory / "metrics.json").read_text())
            assert all(float(row[m]) == metrics[m] for m in METRICS), (
                name + "/" + parameters
            )
        # What the job asked for covers what the run took (an instrumented build takes more).
        if os.environ.get("STRELLIX_SANITIZED") != "1":
            assert float(row["max_rss_mb"]) < int(row["mem_mb"]), row
    assert rows["b", "default"]["frames"] == "38"  # from frame 3
    assert rows["a", "fine"]["median_frames"] == "10"
    # One probe per input, whatever the parameter sets.
    assert sorted(p.parent.name for p in (batch / "results").glob("*/probe.json")) == [
        "a",
        "b",
        "clip",
    ]
    assert rows["clip", "fine"]["frames"] == "30"
    # The parameter sets and the inputs give different scores: no row took another's files.
    assert len({rows[k]["f_measure"] for k in rows if k[0] != "clip"}) == 4
    for png in ("fmeasure.png", "precision_recall.png", "inputs/clip.png"):
        assert (batch / "results" / "plots" / png).read_bytes()[:4] == b"\x89PNG"
    assert "F-measure" in (batch / "results" / "summary.html").read_text()

    # A direct run with the same parameters writes the same masks and scores.
    strellix = str(built("STRELLIX_CLI"))
    direct = batch / "direct"
    subprocess.run(
        [
            strellix,
            "segment",
            "b/frame%d.png",
            "-o",
            str(direct),
            "--start",
            "3",
            "--threshold",
            "0.0002",
            "--median-frames",
            "10",
            "-q",
        ],
        cwd=batch,
        check=True,
    )
    masks = sorted(p.name for p in direct.glob("mask*.png"))
    assert len(masks) == 38
    for m in masks:
        assert (direct / m).read_bytes() == (
            batch / "results/b/fine/masks" / m
        ).read_bytes(), m
    scored = subprocess.run(
        [strellix, "evaluate", str(direct), "b/groundtruth", "--json"],
        cwd=batch,
        check=True,
        capture_output=True,
        text=True,
    )
    metrics = json.loads((batch / "results/b/fine/metrics.json").read_text())
    assert all(v == metrics[k] for k, v in json.loads(scored.stdout).items())

    # Again, and with other threads: nothing to do.
    again = snakemake(batch, "--cores", "2", config=["threads=2"])
    assert again.returncode == 0 and "Nothing to be done" in again.stderr, again.stderr

    # A frame of b changes (a touch alone would not do: snakemake compares
    # the content of files under 100 kB).
    runs = mtimes(batch, "run.json")
    frame = cv2.imread(str(batch / "b/frame10.png"))
    frame[0, 0] = 255 - frame[0, 0]
    cv2.imwrite(str(batch / "b/frame10.png"), frame)
    redone = snakemake(batch, "--cores", "2")
    assert redone.returncode == 0, redone.stderr
    changed = {k for k, t in mtimes(batch, "run.json").items() if t != runs[k]}
    assert changed == {"results/b/default", "results/b/fine"}


def test_a_corrupt_input_fails_its_own_jobs_and_the_summary_marks_it(batch):
    (batch / "broken.mp4").write_bytes(os.urandom(3000))
    (batch / "a" / "frame25.png").write_bytes(
        os.urandom(500)
    )  # read after the median of "fine"
    config = (batch / "batch.yaml").read_text()
    (batch / "batch.yaml").write_text(
        config.replace("inputs:", "inputs:\n  broken:\n    source: broken.mp4")
    )
    done = snakemake(batch, "--cores", "2", "--keep-going")
    assert done.returncode != 0
    rows = summary(batch)
    assert len(rows) == 8
    for name in ("b", "clip"):
        for parameters in ("default", "fine"):
            assert rows[name, parameters]["status"] == "complete"
            assert (batch / "results" / name / parameters / "run.json").exists()
    assert (batch / "results/b/fine/metrics.json").exists()
    for parameters in ("default", "fine"):
        assert rows["broken", parameters]["status"] == "failed"
        assert "probe failed" in rows["broken", parameters]["note"]
        assert rows["a", parameters]["status"] == "failed"
        assert "a/frame25.png" in rows["a", parameters]["note"]
        assert rows["a", parameters]["f_measure"] == ""
    assert (
        "frame 24" in rows["a", "fine"]["note"]
    )  # it stopped there, the masks before it written
    assert (batch / "results/plots/fmeasure.png").exists()
