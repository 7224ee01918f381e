# The batch, read and checked before any job runs (scripts/batch.py), and
# what every rule needs to know about an input and a parameter set.
import json
import math
import os
import re
import runpy
import sys

from snakemake.common import Mode
from snakemake.exceptions import WorkflowError
from snakemake.utils import validate

sys.path.insert(0, os.path.join(workflow.basedir, "scripts"))
import batch as batch_checks  # noqa: E402
import yaml  # noqa: E402

SCHEMA_FILE = os.path.join(workflow.basedir, "schemas", "config.schema.yaml")


def given_batch():
    """The batch file's path and its contents with the command line's keys
    on top: --config batch=FILE, or the whole config (--configfile)."""
    if "batch" in config:
        path = config["batch"]
        batch = batch_checks.read_batch_file(path)
        batch.update({k: v for k, v in config.items() if k != "batch"})
        return path, batch
    if config:
        return (workflow.overwrite_configfiles or [None])[0], dict(config)
    raise WorkflowError(
        "no batch given: name one with --config batch=batch.yaml (inputs and parameters; "
        "see docs/batches.md)"
    )


def data_from_command_line():
    """`data` as --config gave it, taken from the working directory."""
    given = [a.split("=", 1)[1] for a in workflow.config_args or [] if a.startswith("data=")]
    return given[-1] if given else None


try:
    BATCH_FILE, BATCH = given_batch()
    batch_checks.check_values(BATCH)
except batch_checks.BatchError as e:
    raise WorkflowError(f"batch refused: {e}")
validate(BATCH, schema=SCHEMA_FILE, set_default=True)
with open(SCHEMA_FILE) as f:
    SET_SCHEMA = yaml.safe_load(f)["definitions"]["parameter_set"]
try:
    PARAMETER_SETS = batch_checks.parameter_sets(BATCH, SET_SCHEMA)
except batch_checks.BatchError as e:
    raise WorkflowError(f"batch refused: {e}")
if not PARAMETER_SETS:
    raise WorkflowError("batch refused: it has no parameter set: give parameters: or sweep:")

RESULTS = BATCH["results"].rstrip(os.sep) or os.curdir
STRELLIX = BATCH["strellix"]
DATA = batch_checks.data_root(BATCH_FILE, data_from_command_line(), BATCH.get("data"))
INPUTS = batch_checks.resolved_inputs(BATCH["inputs"], DATA)
OUTPUTS = {"masks": True, "mask_video": False, "overlay": False, **BATCH["outputs"]}
# The set with no parameter of its own, if the batch has one.
DEFAULTS = next((name for name, values in PARAMETER_SETS.items() if not values), None)
GRID = BATCH.get("sweep", {}).get("grid", {})

# One input's results, and one run of it with one parameter set.
INPUT_DIR = f"{RESULTS}/{{input_name}}"
RUN_DIR = f"{INPUT_DIR}/{{parameter_set}}"
LOG_DIR = f"{RUN_DIR}/logs"
PICTURE = f"{RESULTS}/plots/inputs/{{input_name}}.png"

wildcard_constraints:
    input_name="|".join(re.escape(name) for name in INPUTS),
    parameter_set="|".join(re.escape(name) for name in PARAMETER_SETS),
    files="sources|truth",


SOURCE_FILES = {}


def listed_files(input_name):
    """What strellix reads for the input, listed once per snakemake."""
    if input_name not in SOURCE_FILES:
        SOURCE_FILES[input_name] = batch_checks.source_files(input_name, INPUTS[input_name], STRELLIX)
    return SOURCE_FILES[input_name]


def check_inputs():
    """Every input can be found, before any job: its frames, its ground
    truth and its region of interest."""
    for name, entry in INPUTS.items():
        listed_files(name)
        for key in ("groundtruth", "roi"):
            path = entry.get(key)
            if isinstance(path, str) and not os.path.exists(path):
                raise batch_checks.BatchError(f"inputs.{name}.{key}: {path} does not exist")


# Once where snakemake starts; a job on a cluster node lists its own input.
if workflow.mode == Mode.default:
    try:
        check_inputs()
    except batch_checks.BatchError as e:
        raise WorkflowError(f"batch refused: {e}")


def combinations():
    """Every (input, parameter set) of the batch, in the batch's order."""
    return [(i, p) for i in INPUTS for p in PARAMETER_SETS]


def is_scored(input_name):
    return "groundtruth" in INPUTS[input_name]


def source_files(wildcards):
    """The files a run reads, so that a changed frame or video reruns its
    jobs; none for a stream."""
    return listed_files(wildcards.input_name)


def frame_range(input_name):
    entry = INPUTS[input_name]
    return [a for key in ("start", "end") if key in entry for a in (f"--{key}", str(entry[key]))]


def probe_arguments(wildcards):
    """strellix probe on the input with the default parameters: the other
    sets are sized from what it tells (see segment_memory_mb)."""
    return [INPUTS[wildcards.input_name]["source"], *frame_range(wildcards.input_name), "--json"]


def segment_arguments(wildcards):
    """strellix segment's command line after the subcommand, without the
    threads (the job adds its own, so that changing them reruns nothing).
    Everything goes into masks/, which the job empties of the rest."""
    name = wildcards.input_name
    arguments = [INPUTS[name]["source"], "-o", f"{RUN_DIR.format(**wildcards)}/masks", "--overwrite", "--quiet"]
    arguments += batch_checks.segment_options(PARAMETER_SETS[wildcards.parameter_set])
    arguments += frame_range(name)
    if not OUTPUTS["masks"] and not is_scored(name):
        arguments.append("--no-masks")
    if OUTPUTS["mask_video"]:
        arguments += ["--mask-video", "masks.mkv"]
    if OUTPUTS["overlay"]:
        arguments += ["--overlay", "overlay.mp4"]
    return arguments


def read_probe(path):
    """The probe's report, or None before the probe has run (a dry run, or
    the building of the batch): the resources are worked out again when the
    job is about to start."""
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def run_memory_bytes(probe, values):
    """What strellix segment needs for a set, from the probe of the input
    with the defaults and what one more layer or median frame adds."""
    frames = probe["input"]["frames"]
    median = values.get("median_frames")
    median = probe["median_frames"] if median is None else min(median, frames or median)
    layers = values.get("layers", probe["layers"])
    memory = probe["memory"]
    return (
        memory["bytes"]
        + (layers - probe["layers"]) * memory["per_layer"]
        + (median - probe["median_frames"]) * memory["per_median_frame"]
    )


def segment_memory_mb(wildcards, input, attempt):
    """The library's estimate for the set and the process's own share; more
    on each retry, in case the first was cut off for memory."""
    probe = read_probe(input.probe)
    estimate = run_memory_bytes(probe, PARAMETER_SETS[wildcards.parameter_set]) if probe else 0
    return (math.ceil(estimate / 2**20) + BATCH["memory_overhead_mb"]) * attempt


def evaluate_memory_mb(wildcards, attempt):
    """A ground-truth image, a mask and the region of interest at a time."""
    probe = read_probe(f"{INPUT_DIR.format(**wildcards)}/probe.json")
    pixels = probe["input"]["width"] * probe["input"]["height"] if probe else 0
    return (math.ceil(8 * pixels / 2**20) + BATCH["memory_overhead_mb"]) * attempt


def runtime_minutes(probe, cost_share, attempt):
    """Minutes a job may take: the frames at the configured cost, ten minutes
    for the start, a day when the input does not tell how long it is."""
    if not probe:
        return 10 * attempt
    frames = probe["input"]["frames"]
    if frames is None:
        return 24 * 60 * attempt
    megapixels = probe["input"]["width"] * probe["input"]["height"] / 1e6
    seconds = frames * megapixels * BATCH["seconds_per_megapixel_frame"] * cost_share
    return (10 + math.ceil(seconds / 60)) * attempt


def segment_runtime(wildcards, input, attempt):
    return runtime_minutes(read_probe(input.probe), 1.0, attempt)


def evaluate_runtime(wildcards, attempt):
    return runtime_minutes(read_probe(f"{INPUT_DIR.format(**wildcards)}/probe.json"), 0.1, attempt)


def groundtruth_files(wildcards):
    """The ground truth an input is scored against (the files there are), so
    that a changed one rescores."""
    directory = INPUTS[wildcards.input_name]["groundtruth"]
    files = [os.path.join(directory, "temporalROI.txt")]
    roi = roi_file(wildcards.input_name)
    if roi:
        files.append(roi)
    truth = os.path.join(directory, "groundtruth")
    if os.path.isdir(truth):
        files += sorted(os.path.join(truth, f) for f in os.listdir(truth) if f.startswith("gt"))
    return [f for f in files if os.path.exists(f)]


def roi_file(input_name):
    """The region of interest to score in: the configured one, none when it is
    false, ROI.bmp of the sequence when there is one."""
    entry = INPUTS[input_name]
    roi = entry.get("roi")
    if roi is False:
        return None
    if roi:
        return roi
    default = os.path.join(entry["groundtruth"], "ROI.bmp")
    return default if os.path.exists(default) else None


def combination_records():
    """What the summary needs to find each combination's files."""
    return [
        {
            "input": input_name,
            "parameters": parameter_set,
            "values": PARAMETER_SETS[parameter_set],
            "directory": RUN_DIR.format(input_name=input_name, parameter_set=parameter_set),
            "scored": is_scored(input_name),
        }
        for input_name, parameter_set in combinations()
    ]


def input_record(input_name):
    """What an input's pictures are made from: its runs, and the frames its
    source holds (files, or a video read up to the frame shown)."""
    entry = INPUTS[input_name]
    return {
        "input": input_name,
        # A stream is not read again for a picture.
        "source": None if batch_checks.URL.match(entry["source"]) else entry["source"],
        "files": [] if listed_files(input_name) == [entry["source"]] else listed_files(input_name),
        "scored": is_scored(input_name),
        "runs": {p: RUN_DIR.format(input_name=input_name, parameter_set=p) for p in PARAMETER_SETS},
        "defaults": DEFAULTS,
    }


def summary_inputs(wildcards):
    files = []
    for record in combination_records():
        files.append(f"{record['directory']}/run.json")
        if record["scored"]:
            files.append(f"{record['directory']}/metrics.json")
    return files


def plot_files():
    """The summary's plots; the heat map only for a grid of two parameters or more."""
    plots = {
        "fmeasure": f"{RESULTS}/plots/fmeasure.png",
        "precision_recall": f"{RESULTS}/plots/precision_recall.png",
        "parameters": f"{RESULTS}/plots/parameters.png",
    }
    if len(GRID) >= 2:
        plots["heatmap"] = f"{RESULTS}/plots/heatmap.png"
    return plots


def picture_files():
    """One picture per input: an example frame beside its mask (and ground
    truth, and the model's seed), and F-measure over time where scored."""
    return [PICTURE.format(input_name=i) for i in INPUTS]


def script_function(name, function):
    """A function of one of workflow/scripts, for the summary after a failure."""
    return runpy.run_path(os.path.join(workflow.basedir, "scripts", f"{name}.py"))[function]


def summarize_after_failure():
    """A failed job ends the batch (with --keep-going after every other job
    that could run); the tables, plots, pictures and page then report what
    finished and mark what did not. The batch still ends as failed."""
    path, best = f"{RESULTS}/summary.csv", f"{RESULTS}/best.csv"
    try:
        rows = script_function("summarize", "write_summary")(combination_records(), DEFAULTS, path, best)
        script_function("plot_summary", "plot_summary")(path, best, DEFAULTS, GRID, plot_files())
        draw = script_function("input_picture", "draw")
        for name in INPUTS:
            draw(input_record(name), best, PICTURE.format(input_name=name))
        script_function("summary_page", "write_page")(
            path, best, plot_files(), picture_files(), f"{RESULTS}/summary.html"
        )
    except Exception as e:  # the batch has failed already; say why there is no summary
        logger.error(f"could not write {path} after the failure: {e}")
        return
    failed = [f"{r['input']}/{r['parameters']}" for r in rows if r["status"] != "complete"]
    logger.error(f"{path} written: {len(rows) - len(failed)} of {len(rows)} complete; not complete: {', '.join(failed)}")
