#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own.

Every #include "..." in the tree is resolved (from the top of the tree, else
from the including file's folder), and every #include <...> that names a
file of the tree, to the layer folder that holds it; a layer may include
its own headers and those of the layers below it. The
linker check (-DZEMA_LAYER_CHECK=ON) catches calls that point up; this one
catches declarations, constants and inline code taken from above.

Usage: check_layers.py [ROOT]   (ROOT defaults to the tree holding tools/)
Prints one line per offending include and exits 1 when there is any.
"""
import os
import re
import sys

# Each layer and the layers directly below it; below is transitive.
DIRECT = {
    "host": [],
    "files": ["host"],
    "components": ["host"],
    "platform": ["host"],
    "windows": ["components", "platform"],
    "wi": ["windows"],
    "interpreter/workspace": ["host"],
    "interpreter/reader": ["interpreter/workspace"],
    "interpreter/output": ["interpreter/reader"],
    "interpreter/primitives": ["interpreter/workspace"],
    "interpreter/engine": ["interpreter/primitives", "interpreter/output"],
    "interpreter/sysfns": ["interpreter/engine"],
    "interpreter/session": ["interpreter/sysfns", "files"],
}

# Folders outside the layers, free to include anything.
FREE = ("tools", "tests", "bench", "examples")

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".def", ".inc")
SKIP_DIRS = (".git",)
INCLUDE = re.compile(r'^\s*#\s*include\s*(?:"([^"]+)"|<([^>]+)>)')


def allowed(layer):
    """The layer itself and every layer below it."""
    seen = set()
    todo = [layer]
    while todo:
        name = todo.pop()
        if name not in seen:
            seen.add(name)
            todo.extend(DIRECT[name])
    return seen


def layer_of(rel):
    """The layer folder holding the file at tree path REL, '' when none."""
    folder = os.path.dirname(rel)
    best = ""
    for layer in DIRECT:
        if (folder == layer or folder.startswith(layer + "/")) and len(layer) > len(best):
            best = layer
    return best


def resolve(root, rel, target, quoted):
    """Tree path of the header TARGET as included from REL, or None."""
    for base in ("", os.path.dirname(rel)) if quoted else ("",):
        candidate = os.path.normpath(os.path.join(base, target))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1
                           else os.path.join(os.path.dirname(__file__), ".."))
    faults = []
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = sorted(d for d in dirnames
                             if d not in SKIP_DIRS and not d.startswith("build"))
        rel_dir = os.path.relpath(dirpath, root)
        if rel_dir.split(os.sep)[0] in FREE:
            continue
        for name in sorted(filenames):
            if not name.endswith(SOURCE_SUFFIXES):
                continue
            rel = os.path.normpath(os.path.join(rel_dir, name))
            own = layer_of(rel)
            if not own:
                continue
            may = allowed(own)
            with open(os.path.join(root, rel), encoding="utf-8") as f:
                for number, line in enumerate(f, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    quoted = match.group(1) is not None
                    name = match.group(1) if quoted else match.group(2)
                    target = resolve(root, rel, name, quoted)
                    if target is None:
                        if quoted:
                            faults.append(f"{rel}:{number}: {name} not found")
                        continue
                    theirs = layer_of(target)
                    if theirs and theirs not in may:
                        faults.append(f"{rel}:{number}: {own} includes "
                                      f"{target} of {theirs}, a layer above or beside it")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
