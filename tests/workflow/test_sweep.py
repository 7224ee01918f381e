"""A sweep in a few lines of batch file: its sets named by their values, the
best sets chosen on the tuning half of the scored frames and scored on the
held-out half as a direct strellix run scores them, the masks deleted once
scored; and its summary page as a browser shows it."""
import csv
import json
import shutil
import subprocess

import pytest
import yaml
from batch import segment_options
from conftest import PARAMETERS, built, make_scene, snakemake, write_config


cv2 = pytest.importorskip("cv2")
CHROMIUM_FLAGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
]


def read_csv(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


@pytest.fixture(scope="module")
def sweep(tmp_path_factory):
    work = tmp_path_factory.mktemp("sweep")
    make_scene(work / "a", 64, 48, 1)
    make_scene(work / "b", 80, 60, 2)
    write_config(
        work,
        {
            "a": {"source": "a/frame%d.png", "groundtruth": "a"},
            "b": {"source": "b/frame%d.png", "groundtruth": "b"},
        },
        parameters={
            "fine": {"threshold": 0.0002, "median_frames": 10},
            "marked": {"shadow_value": 127, "post_median": 3, "cold_start": True},
        },
        sweep={
            "grid": {"threshold": [0.0005, 0.005], "width_2d": [0, 2]},
            "one_at_a_time": {"learning_rate": [0.2]},
        },
        outputs={"masks": False},
    )
    done = snakemake(work, "--cores", "2")
    assert done.returncode == 0, done.stderr
    return work


def test_a_sweep_reports_held_out_scores_a_direct_run_confirms(sweep):
    rows = read_csv(sweep / "results" / "summary.csv")
    sets = list(dict.fromkeys(r["parameters"] for r in rows))
    assert sets == [
        "fine",
        "marked",
        "default",
        "width_2d=0,threshold=0.0005",
        "width_2d=2,threshold=0.0005",
        "width_2d=0,threshold=0.005",
        "width_2d=2,threshold=0.005",
        "learning_rate=0.2",
    ]
    assert all(r["status"] == "complete" for r in rows) and len(rows) == 16
    # Scored, then deleted; what the page shows is kept.
    assert not list((sweep / "results").glob("*/*/masks"))
    assert len(list((sweep / "results").glob("*/*/example_mask.png"))) == 16
    # A flag reaches strellix (its run.json says so), and masks that mark
    # shadows are scored with their shadow value.
    marked = next(r for r in rows if r["parameters"] == "marked")
    assert (marked["shadow_value"], marked["post_median"], marked["cold_start"]) == (
        "127",
        "3",
        "true",
    )
    scoring = (sweep / "results" / "a" / "marked" / "logs" / "evaluate.log").read_text()
    assert "--shadow-value 127" in scoring

    best = {b["input"]: b for b in read_csv(sweep / "results" / "best.csv")}
    for name in ("a", "b"):
        mine = [r for r in rows if r["input"] == name]
        chosen = max(mine, key=lambda r: float(r["tuning_f"]))
        assert best[name]["parameters"] == chosen["parameters"]
        defaults = next(r for r in mine if r["parameters"] == "default")
        assert best[name]["defaults_held_out_f"] == defaults["held_out_f"]
    mean = best["mean of 2"]
    by_set = {s: [r for r in rows if r["parameters"] == s] for s in sets}
    top = max(sets, key=lambda s: sum(float(r["tuning_f"]) for r in by_set[s]))
    assert mean["parameters"] == top

    # The chosen set's held-out score: the second half of frames 21-40
    # (temporalROI.txt), as strellix scores a direct run of it.
    chosen = next(
        r
        for r in rows
        if (r["input"], r["parameters"]) == ("a", best["a"]["parameters"])
    )
    strellix = str(built("STRELLIX_CLI"))
    used = {k: yaml.safe_load(chosen[k]) for k in PARAMETERS if chosen[k] != ""}
    options = segment_options(used)
    direct = sweep / "direct"
    subprocess.run(
        [strellix, "segment", "a/frame%d.png", "-o", str(direct), "-q", *options],
        cwd=sweep,
        check=True,
    )
    held_out = subprocess.run(
        [
            strellix,
            "evaluate",
            str(direct),
            "a/groundtruth",
            "--first",
            "31",
            "--last",
            "40",
            "--json",
        ],
        cwd=sweep,
        check=True,
        capture_output=True,
        text=True,
    )
    assert float(best["a"]["held_out_f"]) == pytest.approx(
        json.loads(held_out.stdout)["f_measure"], abs=1e-9
    )

    # Nothing to do again: the deleted masks are not made again.
    again = snakemake(sweep, "--cores", "2")
    assert again.returncode == 0 and "Nothing to be done" in again.stderr, again.stderr


CHECK_PAGE = """<!DOCTYPE html><html><body>
<iframe id="page" src="summary.html" style="width:1280px;height:900px;border:0"></iframe>
<script>
document.getElementById("page").onload = function () {
  var page = this.contentDocument, loaded = 0;
  for (var k = 0; k < page.images.length; ++k)
    if (page.images[k].complete && page.images[k].naturalWidth > 0) ++loaded;
  document.body.setAttribute("data-seen",
    loaded + " " + page.images.length + " " + page.documentElement.scrollWidth);
};
</script></body></html>
"""


def chromium(tmp_path, *arguments):
    profile = tmp_path / "profile"
    profile.mkdir(exist_ok=True)
    command = ["chromium", *CHROMIUM_FLAGS, f"--user-data-dir={profile}", *arguments]
    return subprocess.run(command, capture_output=True, text=True, timeout=120)


def test_the_summary_page_shows_in_a_browser_at_1280_pixels(sweep, tmp_path):
    if not shutil.which("chromium"):
        pytest.skip("chromium is not installed (apt-get install chromium)")
    results = sweep / "results"
    (results / "check.html").write_text(CHECK_PAGE)
    dom = chromium(
        tmp_path,
        "--allow-file-access-from-files",
        "--virtual-time-budget=10000",
        "--dump-dom",
        (results / "check.html").as_uri(),
    )
    seen = dom.stdout.split('data-seen="')[1].split('"')[0].split()
    loaded, images, width = (int(v) for v in seen)
    # Two inputs' pictures and four plots (the grid has two parameters).
    assert loaded == images == 6
    assert width <= 1280

    shot = tmp_path / "page.png"
    chromium(
        tmp_path,
        "--window-size=1280,1600",
        f"--screenshot={shot}",
        (results / "summary.html").as_uri(),
    )
    grey = cv2.imread(str(shot), cv2.IMREAD_GRAYSCALE)
    assert grey is not None and grey.shape == (1600, 1280)
    assert (
        grey < 200
    ).mean() > 0.02 and grey.std() > 20  # text, tables and pictures, not a blank page
