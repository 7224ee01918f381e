# The batch: the configuration, checked, and what every rule needs to know
# about an input and a parameter set. Relative paths in the configuration are
# taken from the working directory, where the jobs run too.
import json
import math
import os
import re

from snakemake.exceptions import WorkflowError
from snakemake.utils import validate

if not config:
    raise WorkflowError(
        "no batch given: name one with --configfile batch.yaml (inputs and parameters; see the README, "
        "'Many videos')"
    )
validate(config, schema="../schemas/config.schema.yaml", set_default=True)

RESULTS = config["results"].rstrip("/") or "."
STRELLIX = config["strellix"]
INPUTS = config["inputs"]
PARAMETER_SETS = {name: values or {} for name, values in config["parameters"].items()}
OUTPUTS = {"masks": True, "mask_video": False, "overlay": False, **config["outputs"]}

# Directory of one input run with one parameter set, and its logs.
RUN_DIR = RESULTS + "/{input_name}/{parameter_set}"
LOG_DIR = RUN_DIR + "/logs"

wildcard_constraints:
    input_name="|".join(re.escape(name) for name in INPUTS),
    parameter_set="|".join(re.escape(name) for name in PARAMETER_SETS),

# strellix segment's option for each key of a parameter set.
PARAMETER_OPTIONS = {
    "layers": "--layers",
    "width_1d": "--width-1d",
    "width_2d": "--width-2d",
    "threshold": "--threshold",
    "learning_rate": "--learning-rate",
    "median_frames": "--median-frames",
}

IMAGE_EXTENSIONS = {".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff", ".webp", ".ppm", ".pgm", ".pnm"}
# One printf-style number field, as strellix reads a pattern; %% is a percent sign.
NUMBER_FIELD = re.compile(r"%%|%(0?\d*(?:\.\d+)?)d")


def combinations():
    """Every (input, parameter set) of the batch, in the configuration's order."""
    return [(i, p) for i in INPUTS for p in PARAMETER_SETS]


def is_scored(input_name):
    return "groundtruth" in INPUTS[input_name]


def pattern_frames(source, start, end):
    """The frame files a run on a numbered pattern reads: from `start` (or the
    lowest number there is) up to the first missing number or `end`."""
    directory, name = os.path.split(source)
    pieces = NUMBER_FIELD.split(name)
    # split() gives text, field, text, ...; a %% match gives a None field.
    fields = [k for k in range(1, len(pieces), 2) if pieces[k] is not None]
    if len(fields) != 1:
        return []
    field = fields[0]
    literal = lambda pieces: "".join(p if k % 2 == 0 else "%" for k, p in enumerate(pieces))
    before, after = literal(pieces[:field]), literal(pieces[field + 1 :])
    number_format = "%" + pieces[field] + "d"
    matcher = re.compile(re.escape(before) + r"(-?\d+)" + re.escape(after) + r"\Z")
    try:
        names = os.listdir(directory or ".")
    except OSError:
        return []
    numbers = set()
    for entry in names:
        found = matcher.match(entry)
        if found and before + number_format % int(found.group(1)) + after == entry:
            numbers.add(int(found.group(1)))
    if not numbers:
        return []
    number = start if start is not None else min(numbers)
    frames = []
    while number in numbers and (end is None or number <= end):
        frames.append(os.path.join(directory, before + number_format % number + after))
        number += 1
    return frames


def source_files(wildcards):
    """The files an input's run reads, so that a changed frame or video reruns
    its jobs. Only files that exist: a missing input fails its own jobs, not
    the building of the whole batch. A stream has none."""
    entry = INPUTS[wildcards.input_name]
    source = entry["source"]
    if re.match(r"[A-Za-z][A-Za-z0-9+.-]*://", source):
        return []
    if os.path.isdir(source):
        return sorted(
            os.path.join(source, f)
            for f in os.listdir(source)
            if os.path.splitext(f)[1].lower() in IMAGE_EXTENSIONS
        )
    if os.path.exists(source):
        return [source]
    if "%" in source:
        return pattern_frames(source, entry.get("start"), entry.get("end"))
    return []


def run_options(wildcards):
    """The options segment and probe share: the parameter set and the frame range."""
    entry = INPUTS[wildcards.input_name]
    chosen = PARAMETER_SETS[wildcards.parameter_set]
    options = []
    # In one order, so that the same set written otherwise is the same command.
    for key, option in PARAMETER_OPTIONS.items():
        if key in chosen:
            value = chosen[key]
            options += [option, repr(value) if isinstance(value, float) else str(value)]
    for key in ("start", "end"):
        if key in entry:
            options += ["--" + key, str(entry[key])]
    return options


def probe_arguments(wildcards):
    return [INPUTS[wildcards.input_name]["source"]] + run_options(wildcards) + ["--json"]


def segment_arguments(wildcards, threads):
    """strellix segment's whole command line after the subcommand. OUTDIR
    holds the probe's and the scorer's files too, and an earlier run's after a
    change: --overwrite clears only what a run writes."""
    outdir = RUN_DIR.format(**wildcards)
    arguments = [INPUTS[wildcards.input_name]["source"], "-o", outdir, "--overwrite", "--quiet"]
    arguments += ["--threads", str(threads)] + run_options(wildcards)
    if not OUTPUTS["masks"] and not is_scored(wildcards.input_name):
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


def segment_memory_mb(wildcards, input, attempt):
    """The library's estimate for this frame size and parameter set, as strellix
    probe reports it, and the process's own share; more on each retry, in case
    the first was cut off for memory."""
    probe = read_probe(input.probe)
    estimate = probe["memory"]["bytes"] if probe else 0
    return (math.ceil(estimate / 2**20) + config["memory_overhead_mb"]) * attempt


def evaluate_memory_mb(wildcards, input, attempt):
    """A ground-truth image, a mask and the region of interest at a time."""
    probe = read_probe(RUN_DIR.format(**wildcards) + "/probe.json")
    pixels = probe["input"]["width"] * probe["input"]["height"] if probe else 0
    return (math.ceil(8 * pixels / 2**20) + config["memory_overhead_mb"]) * attempt


def runtime_minutes(probe, cost_share, attempt):
    """Minutes a job may take: the frames at the configured cost, ten minutes
    for the start, a day when the input does not tell how long it is."""
    if not probe:
        return 10 * attempt
    frames = probe["input"]["frames"]
    if frames is None:
        return 24 * 60 * attempt
    megapixels = probe["input"]["width"] * probe["input"]["height"] / 1e6
    seconds = frames * megapixels * config["seconds_per_megapixel_frame"] * cost_share
    return (10 + math.ceil(seconds / 60)) * attempt


def segment_runtime(wildcards, input, attempt):
    return runtime_minutes(read_probe(input.probe), 1.0, attempt)


def evaluate_runtime(wildcards, input, attempt):
    return runtime_minutes(read_probe(RUN_DIR.format(**wildcards) + "/probe.json"), 0.1, attempt)


def groundtruth_files(wildcards):
    """The ground truth an input is scored against (existing files only, as
    for the frames)."""
    entry = INPUTS[wildcards.input_name]
    directory = entry["groundtruth"]
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
    records = []
    for input_name, parameter_set in combinations():
        directory = RUN_DIR.format(input_name=input_name, parameter_set=parameter_set)
        records.append(
            {
                "input": input_name,
                "parameters": parameter_set,
                "directory": directory,
                "scored": is_scored(input_name),
            }
        )
    return records


def summary_inputs(wildcards):
    files = []
    for record in combination_records():
        files.append(record["directory"] + "/run.json")
        if record["scored"]:
            files.append(record["directory"] + "/metrics.json")
    return files
