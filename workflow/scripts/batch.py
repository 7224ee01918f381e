"""The batch file, read and checked before any job: its size, its numbers,
its parameter sets (named ones and those a sweep makes), where its paths
lead, and the files each input is read from.

A batch file is read with a YAML loader that refuses aliases, so that a
few lines cannot expand into billions of values; a batch given otherwise
(Snakemake's --configfile) is capped at MAX_VALUES values instead."""
import itertools
import json
import math
import os
import re
import subprocess

import jsonschema
import yaml

# strellix segment's option for each parameter a set may give. A parameter
# is this one entry and one line of the schema (definitions.parameter_set):
# a number or a word is given after its option, a true/false (a flag of
# strellix) as the option alone when true.
PARAMETERS = {
    "layers": "--layers",
    "width_1d": "--width-1d",
    "width_2d": "--width-2d",
    "threshold": "--threshold",
    "learning_rate": "--learning-rate",
    "median_frames": "--median-frames",
    "shadow_value": "--shadow-value",
    "post_median": "--post-median",
    "cold_start": "--cold-start",
    "numerics": "--numerics",
}
# Far above any real batch (a thousand inputs take some ten thousand
# values), far below what would keep the checks busy for a second.
MAX_VALUES = 100_000
MAX_FILE_BYTES = 4 << 20
MAX_SETS = 10_000
# Text with a scheme, "rtsp://...": a stream, which has no files.
URL = re.compile(r"[A-Za-z][A-Za-z0-9+.-]*://")


class BatchError(Exception):
    """A batch that cannot run, with what is wrong and where."""


class _NoAliasLoader(yaml.SafeLoader):
    """YAML's safe loader, refusing aliases (and so merge keys) where they
    appear, before anything is built from them."""

    def compose_node(self, parent, index):
        if self.check_event(yaml.AliasEvent):
            event = self.peek_event()
            raise BatchError(
                f"line {event.start_mark.line + 1}: YAML aliases (*{event.anchor}) are not accepted "
                "in a batch file; write the values out"
            )
        return super().compose_node(parent, index)


def read_batch_file(path):
    """The batch file's mapping; BatchError for anything else."""
    try:
        size = os.path.getsize(path)
        if size > MAX_FILE_BYTES:
            raise BatchError(
                f"{path} is {size} bytes; a batch file is at most {MAX_FILE_BYTES}"
            )
        with open(path, encoding="utf-8") as f:
            batch = yaml.load(f, Loader=_NoAliasLoader)
    except BatchError as e:
        raise BatchError(f"{path}: {e}") if not str(e).startswith(path) else e
    except (OSError, UnicodeDecodeError, yaml.YAMLError) as e:
        raise BatchError(f"cannot read the batch file {path}: {e}")
    if not isinstance(batch, dict):
        raise BatchError(
            f"{path} holds no mapping: a batch file has inputs: and parameters: or sweep:"
        )
    return batch


def check_values(tree):
    """Refuses a batch of more than MAX_VALUES values, counting the
    repeats of shared values (what aliases expand to), and any number that
    is not finite, naming where it is."""
    counted = 0
    pending = [("", tree)]
    while pending:
        where, value = pending.pop()
        counted += 1
        if counted > MAX_VALUES:
            raise BatchError(
                f"the batch holds more than {MAX_VALUES} values (repeated YAML aliases?); "
                "it is refused before it is expanded further"
            )
        if isinstance(value, dict):
            pending.extend((f"{where}.{k}".lstrip("."), v) for k, v in value.items())
        elif isinstance(value, list):
            pending.extend((f"{where}[{k}]", v) for k, v in enumerate(value))
        elif isinstance(value, float) and not math.isfinite(value):
            raise BatchError(f"{where}: {value} is not a finite number")


def value_text(value):
    """A value as strellix reads it and as a set's name shows it: floats in
    their shortest exact form, whole numbers without a point."""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float):
        return repr(int(value)) if value.is_integer() else repr(value)
    return str(value)


def set_name(values):
    """The stable name of a swept set: its values in the table's order."""
    if not values:
        return "default"
    return ",".join(f"{k}={value_text(values[k])}" for k in PARAMETERS if k in values)


def checked_set(values, where, set_schema):
    """A parameter set checked against the schema's definition (so a sweep's
    lists meet the same ranges as a named set), whole numbers made ints."""
    values = dict(values or {})
    errors = sorted(jsonschema.Draft7Validator(set_schema).iter_errors(values), key=str)
    if errors:
        e = errors[0]
        at = ".".join(str(p) for p in e.absolute_path)
        # "is not valid under any of the given schemas" says nothing: a
        # value with alternatives says them in its description.
        said = e.schema.get("description") if e.validator == "anyOf" else None
        message = f"{e.instance!r} is not {said}" if said else e.message
        raise BatchError(f"{where}{'.' + at if at else ''}: {message}")
    for key, value in values.items():
        kind = set_schema["properties"][key].get("type")
        if kind == "integer" and isinstance(value, float):
            values[key] = int(value)
    return values


def swept_sets(sweep, set_schema):
    """The sets a sweep makes: the base; every combination of the grid's
    lists; each value of one_at_a_time's lists alone. All on the base."""
    base = checked_set(sweep.get("base"), "sweep.base", set_schema)
    grid = sweep.get("grid", {})
    single = sweep.get("one_at_a_time", {})
    count = math.prod(len(v) for v in grid.values()) + sum(
        len(v) for v in single.values()
    )
    if count > MAX_SETS:
        raise BatchError(f"the sweep makes {count} parameter sets; at most {MAX_SETS}")
    made = [base]
    keys = list(grid)
    for combination in itertools.product(*(grid[k] for k in keys)) if keys else []:
        values = {**base, **dict(zip(keys, combination))}
        made.append(checked_set(values, "sweep.grid", set_schema))
    for key, values in single.items():
        for value in values:
            made.append(
                checked_set({**base, key: value}, "sweep.one_at_a_time", set_schema)
            )
    return made


def parameter_sets(batch, set_schema):
    """Name -> values of every set: the named ones, then those of the sweep
    (with the defaults among them) that no named set already has."""
    sets = {
        name: checked_set(values, f"parameters.{name}", set_schema)
        for name, values in batch.get("parameters", {}).items()
    }
    if "sweep" not in batch:
        return sets
    known = [sorted(v.items()) for v in sets.values()]
    for values in [{}] + swept_sets(batch["sweep"], set_schema):
        if sorted(values.items()) in known:
            continue
        name = set_name(values)
        if name in sets:
            raise BatchError(
                f"parameters.{name}: the name is taken by the sweep's set of that name"
            )
        sets[name] = values
        known.append(sorted(values.items()))
    return sets


def segment_options(values):
    """strellix segment's options for a parameter set, in the table's order
    so that the same set written otherwise is the same command."""
    options = []
    for key, option in PARAMETERS.items():
        value = values.get(key)
        if isinstance(value, bool):
            options += [option] if value else []
        elif value is not None:
            options += [option, value_text(value)]
    return options


def data_root(batch_file, command_line_data, batch_data):
    """The directory relative input paths are taken from: `data` from the
    command line (relative to the working directory), else `data` of the
    batch file (relative to the file), else the batch file's directory."""
    base = os.path.dirname(os.path.abspath(batch_file)) if batch_file else os.getcwd()
    if command_line_data:
        return os.path.abspath(command_line_data)
    return os.path.normpath(os.path.join(base, batch_data)) if batch_data else base


def resolved_inputs(inputs, root):
    """The inputs with their relative paths (source, groundtruth, roi)
    taken from `root`; a stream's URL is left as it is."""
    resolved = {}
    for name, entry in inputs.items():
        entry = dict(entry)
        for key in ("source", "groundtruth", "roi"):
            value = entry.get(key)
            if isinstance(value, str) and not URL.match(value):
                entry[key] = os.path.normpath(os.path.join(root, value))
        resolved[name] = entry
    return resolved


def source_files(name, entry, strellix):
    """The files a run of the input reads, as strellix itself lists them (a
    pattern's or a directory's frames, a video file itself, none for a
    stream); BatchError naming the input when there is none to read."""
    source = entry["source"]
    if URL.match(source):
        return []
    if os.path.isfile(source):
        return [source]
    if not os.path.isdir(source) and "%" not in source:
        raise BatchError(f"inputs.{name}.source: {source} does not exist")
    command = [strellix, "probe", source, "--files", "--json"]
    for key in ("start", "end"):
        if key in entry:
            command += [f"--{key}", str(entry[key])]
    try:
        listed = subprocess.run(command, capture_output=True, text=True, timeout=300)
    except (OSError, subprocess.TimeoutExpired) as e:
        raise BatchError(f"cannot run strellix ({strellix}) to list inputs.{name}: {e}")
    if listed.returncode != 0:
        said = listed.stderr.strip().splitlines()
        raise BatchError(
            f"inputs.{name}.source: {said[-1] if said else 'strellix probe failed'}"
        )
    return json.loads(listed.stdout)["files"]
