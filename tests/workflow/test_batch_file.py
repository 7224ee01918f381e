"""Batch files that cannot run are refused before any job, saying why; one
that can runs from any working directory; and the schema's ranges are the
ones strellix accepts."""
import subprocess

import pytest
import yaml
from conftest import PARAMETERS, SOURCE, built, make_scene, snakemake


SCHEMA = yaml.safe_load((SOURCE / "workflow/schemas/config.schema.yaml").read_text())


def alias_bomb(levels=9):
    """Nine levels of nine aliases: 9^9 values once expanded."""
    lines = ["a0: &a0 {k: 1}"]
    for n in range(1, levels):
        refs = ", ".join(f"k{j}: *a{n - 1}" for j in range(9))
        lines.append(f"a{n}: &a{n} {{{refs}}}")
    return (
        "\n".join(lines)
        + f"\ninputs: {{x: {{source: a/frame%d.png}}}}\nparameters: {{d: *a{levels - 1}}}\n"
    )


def batch_text(inputs="{x: {source: a/frame%d.png}}", parameters="{d: {}}", more=""):
    return f"inputs: {inputs}\nparameters: {parameters}\n{more}"


REFUSED = {
    "aliases": (alias_bomb(), "line 3: YAML aliases (*a0) are not accepted"),
    "name with a line feed": (
        batch_text(inputs='{"x\\n": {source: a/frame%d.png}}'),
        "does not match",
    ),
    "not a number": (
        batch_text(parameters="{d: {threshold: .nan}}"),
        "parameters.d.threshold: nan is not a finite number",
    ),
    "too many layers": (
        batch_text(parameters="{d: {layers: 1.0e+11}}"),
        "greater than the maximum of 2147483647",
    ),
    "start out of range": (
        batch_text(inputs="{x: {source: a/frame%d.png, start: 1.0e+23}}"),
        "greater than the maximum of 1000000000000000",
    ),
    "missing frames": (
        batch_text(inputs="{x: {source: b/frame%d.png}}"),
        "inputs.x.source: strellix probe: cannot read the directory",
    ),
    "missing video": (
        batch_text(inputs="{x: {source: b.mp4}}"),
        "b.mp4 does not exist",
    ),
    "swept value out of range": (
        batch_text(more="sweep: {grid: {threshold: [0.1, 2000]}}"),
        "sweep.grid.threshold: 2000 is greater than the maximum of 1000",
    ),
    "even median aperture": (
        batch_text(more="sweep: {one_at_a_time: {post_median: [3, 4]}}"),
        "sweep.one_at_a_time.post_median: 4 is not 0 (none) or odd from 3",
    ),
}


@pytest.mark.parametrize("case", REFUSED)
def test_a_batch_that_cannot_run_is_refused_before_any_job(tmp_path, case):
    text, says = REFUSED[case]
    make_scene(tmp_path / "a", 32, 24, 1, frames=3)
    (tmp_path / "batch.yaml").write_text(f"strellix: {built('STRELLIX_CLI')}\n{text}")
    # Refused at once; the time-out is only a guard against a hang.
    done = snakemake(tmp_path, "--cores", "1", timeout=60)
    assert done.returncode != 0
    assert says in done.stderr, done.stderr
    assert not (tmp_path / "results").exists()


def test_relative_paths_are_taken_from_the_batch_file_or_from_data(tmp_path):
    make_scene(tmp_path / "sequences" / "a", 32, 24, 1, frames=3)
    (tmp_path / "batches").mkdir()
    (tmp_path / "batches" / "batch.yaml").write_text(
        f"strellix: {built('STRELLIX_CLI')}\n"
        + batch_text(
            inputs="{x: {source: a/frame%d.png, groundtruth: a}}",
            more="data: ../sequences\n",
        )
    )
    elsewhere = tmp_path / "work"
    elsewhere.mkdir()
    planned = snakemake(elsewhere, "-n", batch="../batches/batch.yaml")
    assert planned.returncode == 0, planned.stderr
    # data on the command line is taken from the working directory.
    (tmp_path / "sequences").rename(tmp_path / "moved")
    moved = snakemake(
        elsewhere, "-n", batch="../batches/batch.yaml", config=["data=../moved"]
    )
    assert moved.returncode == 0, moved.stderr
    assert snakemake(elsewhere, "-n", batch="../batches/batch.yaml").returncode != 0


def test_the_schema_ranges_are_those_strellix_accepts(tmp_path):
    """strellix takes every value at the ends of the schema's ranges (all
    the lower ends in one run, all the upper in another), and refuses each
    just beyond as out of its range."""
    make_scene(tmp_path, 32, 24, 1, frames=2)
    ranges = dict(SCHEMA["definitions"]["parameter_set"]["properties"])
    assert set(ranges) == set(PARAMETERS)
    # A flag or a word has no range: strellix segment has to know it.
    strellix = str(built("STRELLIX_CLI"))
    told = subprocess.run(
        [strellix, "segment", "--help"], capture_output=True, text=True
    )
    for key in [k for k, r in ranges.items() if "minimum" not in r]:
        assert PARAMETERS[key] in told.stdout, key
    options = {PARAMETERS[k]: r for k, r in ranges.items() if "minimum" in r}
    for frame_option in ("--start", "--end"):
        options[frame_option] = SCHEMA["definitions"]["frame_number"]

    def refused(*arguments):
        command = [strellix, "probe", str(tmp_path / "frame%d.png")]
        probe = subprocess.run([*command, *arguments], capture_output=True, text=True)
        return probe.returncode == 2 and "needs " in probe.stderr, probe.stderr

    def text(value, schema):
        return str(value) if schema["type"] == "integer" else repr(float(value))

    for end, beyond in (("minimum", -1), ("maximum", 1)):
        at_ends = [a for o, r in options.items() for a in (o, text(r[end], r))]
        assert not refused(*at_ends)[0], at_ends
        for option, schema in options.items():
            step = beyond * (1 if schema["type"] == "integer" else 1e-6)
            value = text(schema[end] + step, schema)
            assert refused(option, value)[0], (option, value)
