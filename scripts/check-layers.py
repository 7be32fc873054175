#!/usr/bin/env python3
"""Checks that every folder includes only its own layer and the layers below.

The layers, lowest first. A folder may include the folders of its own layer
and of every layer below it, never one above; the agent and the fleet
server, both at the top, never include each other. tests/ (the shared test
helpers) may be included from any folder's tests. Exits 1 and names every
include that breaks the rule.
"""
import pathlib
import re
import sys

LAYERS = [
    ["platform"],
    ["core"],
    ["service", "diag", "inventory", "disk", "popup"],
    ["http", "report", "update", "ctl"],
    ["agent", "server", "packaging"],
]
# Folders of one layer that stay apart: the fleet server is a program of its
# own, not a part of the agent.
APART = {"server": {"agent"}, "agent": {"server"}}
LEVEL = {folder: level for level, folders in enumerate(LAYERS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"')


def main() -> int:
    root = pathlib.Path(__file__).resolve().parent.parent
    broken = []
    for folder, level in LEVEL.items():
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cc"):
                continue
            is_test = (path.name.endswith("_test.cc") or path.name.endswith("_pgtest.cc")
                       or path.stem.endswith("_testing"))
            for number, line in enumerate(path.read_text().splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = match.group(1)
                if target == "tests":
                    allowed = is_test
                elif target in APART.get(folder, ()):
                    allowed = False
                elif target in LEVEL:
                    allowed = LEVEL[target] <= level
                else:
                    continue  # a library's own header, such as gtest/gtest.h
                if not allowed:
                    broken.append(f"{path.relative_to(root)}:{number}: {folder} (layer {level}) "
                                  f"includes {target}: {line.strip()}")
    for line in broken:
        print(line)
    if broken:
        print(f"{len(broken)} include(s) reach a higher layer", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
