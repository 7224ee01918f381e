#!/usr/bin/env python3
"""Fails when an #include runs against the floors of the source tree.

The library is built in floors, each of which may include only the floors
below it and itself: core, colour, model (and fast_mode beside it), engine,
api. The programs' own io builds on core alone; the reference program
(driver) may reach into every floor of the library; the command line (cli)
and the Python module use the public header only. docs/architecture.md
draws the same picture.

Also fails on an include loop between files of one folder, which the floors
alone cannot rule out.

    tools/check_includes.py [ROOT]    exit 0 when clean, 1 with a list
"""

import pathlib
import re
import sys

LIBRARY = ["core", "colour", "model", "fast_mode", "engine", "api"]

# What each folder under src/ (and python/) may include, besides itself and
# the public header include/strellix/.
ALLOWED = {
    "core": [],
    "colour": ["core"],
    "model": ["core", "colour"],
    "fast_mode": ["core", "colour"],
    "engine": ["core", "colour", "model", "fast_mode"],
    "api": ["core", "colour", "model", "fast_mode", "engine"],
    "io": ["core"],
    "driver": LIBRARY + ["io"],
    "cli": ["io"],
    "python": [],
}

QUOTED = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SOURCES = (".cpp", ".h", ".hpp", ".inc")


def folder_of(path, root):
    """The folder a file belongs to: src/<folder>/..., python/, include/."""
    parts = path.relative_to(root).parts
    if parts[0] == "src":
        return parts[1]
    return parts[0]


def included_folder(name):
    """The folder an include names: "model/x.h" -> model; "strellix/x.hpp"
    -> include; a bare name -> None (a file beside the includer)."""
    if "/" not in name:
        return None
    head = name.split("/")[0]
    return "include" if head == "strellix" else head


def resolve(name, includer, root):
    """The file an include names, when it is one of the tree's own."""
    for base in (root / "src", root / "include", includer.parent):
        candidate = base / name
        if candidate.is_file():
            return candidate.resolve()
    return None


def scan(root):
    files = [
        p
        for top in ("src", "include", "python")
        for p in sorted((root / top).rglob("*"))
        if p.suffix in SOURCES and p.is_file()
    ]
    problems = []
    edges = {}
    for path in files:
        here = folder_of(path, root)
        text = path.read_text(encoding="utf-8", errors="replace")
        edges[path.resolve()] = []
        for name in QUOTED.findall(text):
            target = resolve(name, path, root)
            if target is not None:
                edges[path.resolve()].append(target)
            there = included_folder(name)
            if there is None or there == here:
                continue
            if here == "include" or (
                there != "include" and there not in ALLOWED.get(here, [])
            ):
                rel = path.relative_to(root)
                problems.append(f'{rel}: "{name}" ({here} may not include {there})')
    return problems, edges


def loops(edges, root):
    """Include cycles, each reported once by the file it is found from."""
    state = {}
    found = []

    def visit(node, trail):
        state[node] = "open"
        for nxt in edges.get(node, []):
            if state.get(nxt) == "open":
                cycle = trail[trail.index(nxt) :] + [nxt]
                found.append(" -> ".join(str(p.relative_to(root)) for p in cycle))
            elif nxt not in state:
                visit(nxt, trail + [nxt])
        state[node] = "done"

    for node in edges:
        if node not in state:
            visit(node, [node])
    return found


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    problems, edges = scan(root)
    problems += [f"include loop: {cycle}" for cycle in loops(edges, root)]
    for line in problems:
        print(line)
    if problems:
        print(f"check_includes: {len(problems)} include(s) against the floors")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
