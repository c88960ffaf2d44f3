#!/usr/bin/env python3
"""Holds the product code to its layering: every quoted include must point
down the house's order, or stay inside its own room.

Usage: check-layers.py ROOT
Prints one line per offending include (file:line: room -> room "include")
and exits 1 when there is any; exits 0 in silence otherwise. Tests, the
benchmark and generated files are not product code and are not read.
"""
import os
import re
import sys

# Each room with the rooms directly below it. An edge may skip layers
# downward (launcher -> framework is fine); nothing points up, and rooms on
# the same level (signing and output) do not include each other.
BELOW = {
    "launcher": ["package", "resources"],
    "package": ["diagnostics", "format"],
    "diagnostics": ["hardening", "format"],  # the log line is a file format
    "hardening": ["framework"],
    "framework": [],
    "resources": ["framework", "format"],  # the file error sentences are the log's words
    "format": ["pe"],
    "pe": ["bytes"],
    "bytes": [],
    "tools/packfile/cli": ["tools/packfile/commands"],
    "tools/packfile/commands": ["tools/packfile/signing", "tools/packfile/output"],
    "tools/packfile/signing": ["tools/packfile/core"],
    "tools/packfile/output": ["tools/packfile/core"],
    "tools/packfile/core": ["format", "pe", "bytes"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = (".h", ".hpp", ".c", ".cc", ".cpp", ".rc")


def reachable(room):
    """Every room that room may include, itself among them."""
    seen, todo = set(), [room]
    while todo:
        current = todo.pop()
        if current not in seen:
            seen.add(current)
            todo.extend(BELOW[current])
    return seen


def room_of(path):
    """The longest room name that path (relative to the root) lies in."""
    best = None
    for room in BELOW:
        if path == room or path.startswith(room + "/"):
            if best is None or len(room) > len(best):
                best = room
    return best


def offending_includes(root):
    allowed = {room: reachable(room) for room in BELOW}
    for room in BELOW:
        top = os.path.join(root, room)
        for folder, subfolders, files in os.walk(top):
            subfolders.sort()
            for name in sorted(files):
                if not name.endswith(SOURCES):
                    continue
                path = os.path.join(folder, name)
                relative = os.path.relpath(path, root).replace(os.sep, "/")
                own = room_of(relative)
                if own != room:
                    continue  # a deeper room walks it itself
                with open(path, encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        target = room_of(match.group(1))
                        if target is None or target in allowed[own]:
                            continue
                        yield f'{relative}:{number}: {own} -> {target} "{match.group(1)}"'


def main(argv):
    if len(argv) != 2:
        print("usage: check-layers.py ROOT", file=sys.stderr)
        return 2
    problems = list(offending_includes(argv[1]))
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
