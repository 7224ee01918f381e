"""INPUT/sources.json and INPUT/truth.json: what an input's frames and its
ground truth are, in a few bytes (how many files, and a digest of their
paths, sizes and modification times).

Every job of an input would otherwise list all its frames as inputs, and a
sweep of a hundred sets over a few thousand frames gives snakemake half a
million files to check before it starts. Only this job lists them; the
others depend on its file, whose content changes whenever a file does."""
import contextlib
import hashlib
import json
import os


def stamp(paths):
    digest = hashlib.sha256()
    for path in paths:
        info = os.stat(path)
        digest.update(f"{path}\0{info.st_size}\0{info.st_mtime_ns}\n".encode())
    return {"files": len(paths), "sha256": digest.hexdigest()}


def write_stamp(paths, output):
    """Written whole or not at all."""
    with open(output + ".tmp", "w") as f:
        json.dump(stamp(paths), f)
        f.write("\n")
    os.replace(output + ".tmp", output)


if __name__ == "__main__" and "snakemake" in globals():
    with open(snakemake.log[0], "w") as log, contextlib.redirect_stderr(log):
        write_stamp(list(snakemake.input), snakemake.output[0])
