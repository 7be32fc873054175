#!/usr/bin/env python3
"""Checks that every folder includes only its own layer and the layers below.

The layers, lowest first. A folder may include the folders of its own layer
and of every layer below it, never one above; the agent and the fleet
server, both at the top, never include each other. tests/ (the shared test
helpers) may be included from any folder's tests.

Below platform/, each facility folder may include itself and the facilities
that PLATFORM names for it, which must not include one another in a circle.
Tests are not part of the library and may include any facility.

Exits 1 and names every include that breaks a rule, as file:line.
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

# The facilities of platform/ and the ones each may include.
PLATFORM = {
    "text": [],
    "sync": [],
    "time": [],
    "version": ["text"],
    "files": ["text", "version"],
    "process": ["files"],
    "system": ["files", "text"],
    "registry": ["files", "text"],
    "regional": ["registry", "text", "time"],
    "eventlog": ["files", "registry", "text", "time"],
    "net": ["files", "sync", "text"],
    "service": ["files", "process", "registry", "text"],
    "ui": ["files", "sync", "text"],
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/(?:([^"/]+)/)?[^"]+"')


def circle(graph):
    """A list of facilities that include one another in a circle, or None."""
    done, path = set(), []

    def visit(node):
        if node in path:
            return path[path.index(node):] + [node]
        if node in done:
            return None
        path.append(node)
        for below in graph.get(node, []):
            found = visit(below)
            if found:
                return found
        path.pop()
        done.add(node)
        return None

    for node in graph:
        found = visit(node)
        if found:
            return found
    return None


def main() -> int:
    root = pathlib.Path(__file__).resolve().parent.parent
    broken = []
    found = circle(PLATFORM)
    if found:
        broken.append(f"{pathlib.Path(__file__).name}: platform facilities in a circle: "
                      + " -> ".join(found))
    for folder, level in LEVEL.items():
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cc"):
                continue
            name = path.relative_to(root)
            is_test = (path.name.endswith("_test.cc") or path.name.endswith("_pgtest.cc")
                       or path.stem.endswith("_testing"))
            facility = name.parts[1] if folder == "platform" and len(name.parts) > 2 else None
            if folder == "platform" and facility not in PLATFORM:
                broken.append(f"{name}: not in a platform facility that check-layers.py knows")
                continue
            for number, line in enumerate(path.read_text().splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target, below = match.groups()
                if target == "tests":
                    allowed = is_test
                elif target in APART.get(folder, ()):
                    allowed = False
                elif target in LEVEL:
                    allowed = LEVEL[target] <= level
                else:
                    continue  # a library's own header, such as gtest/gtest.h
                why = f"{folder} (layer {level}) includes {target}"
                if allowed and target == "platform":
                    if below not in PLATFORM:
                        allowed, why = False, "the include names no platform facility"
                    elif facility and not is_test:
                        allowed = below == facility or below in PLATFORM[facility]
                        why = f"platform/{facility} may not include platform/{below}"
                if not allowed:
                    broken.append(f"{name}:{number}: {why}: {line.strip()}")
    for line in broken:
        print(line)
    if broken:
        print(f"{len(broken)} problem(s) with the layers", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
