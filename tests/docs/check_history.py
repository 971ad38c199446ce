#!/usr/bin/env python3
"""Fails when the documentation or a source comment tells the history of the
work (who measured on whose machine, what the code did before a change,
commit ids, times of day) instead of what the code and the product do.

    check_history.py SOURCE_DIR

Reads every Markdown file (the README, docs/, bench/RESULTS.md, ...) and
the comments of the sources, build files and scripts; prints every hit as file:line: text and
exits 1 when there is one."""

import os
import re
import sys

# Phrases that only ever narrate. Each is precise enough to have no
# legitimate use in this tree.
PHRASES = [
    ("engineers' builds or machines", re.compile(r"\b(other|three|two|four|five) engineers\b|engineers' (builds|machines)", re.I)),
    ("what was observed earlier", re.compile(r"\bobserved before\b", re.I)),
    ("what the code did before a change", re.compile(r"(^|[.;:]\s+|(//|#|/?\*)\s*)Before,|\bbefore the (fix|change|patch)\b", re.I)),
    ("who found or fixed it", re.compile(r"\bwe (found|fixed|tried)\b|\bfound later\b", re.I)),
    ("a commit id", re.compile(r"\bcommit `?[0-9a-f]{7,40}\b", re.I)),
    ("a time of day", re.compile(r"\b\d{1,2}:\d{2} (to|and|until) \d{1,2}:\d{2}\b|(?<![:\d])\d{1,2}:\d{2} UTC\b")),
]
# In prose only (not in comments, where a state can be "no longer held"):
# a change told as such; quoted program output is left out.
PROSE_ONLY = [
    ("a change told as such", re.compile(r"\bno longer\b", re.I)),
]

SOURCE_SUFFIXES = (".cpp", ".h", ".c", ".py", ".sh", ".cmake", ".idl")
SOURCE_NAMES = ("CMakeLists.txt",)
SKIP_DIRS = {".git", "dist", "corpus", "__pycache__"}


def markdown_files(root):
    for directory, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIP_DIRS and not is_build_dir(d))
        for name in sorted(files):
            if name.endswith(".md"):
                yield os.path.join(directory, name)


def is_build_dir(name):
    return name == "build" or name.startswith("build-")


def is_script(path):
    try:
        with open(path, "rb") as f:
            return f.read(2) == b"#!"
    except OSError:
        return False


def source_files(root):
    for directory, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIP_DIRS and not is_build_dir(d))
        for name in sorted(files):
            path = os.path.join(directory, name)
            if name.endswith(SOURCE_SUFFIXES) or name in SOURCE_NAMES:
                yield path
            elif "." not in name and is_script(path):
                yield path


COMMENT = re.compile(r"(//|#|/\*)(.*)$")


def comment_of(line, in_block):
    """The comment text of a source line and whether a /* */ block is open
    after it. String literals are not parsed: a marker inside one counts."""
    stripped = line.strip()
    if in_block:
        end = stripped.find("*/")
        return stripped, end < 0
    if stripped.startswith("*"):
        return stripped, False
    m = COMMENT.search(line)
    if not m:
        return "", False
    text = m.group(0)
    opened = m.group(1) == "/*" and "*/" not in text
    return text, opened


QUOTED = re.compile(r"`[^`]*`|\"[^\"]*\"")


def hits_in(path, rel, prose):
    found = []
    in_block = False
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.readlines()
    except OSError:
        return found
    for number, line in enumerate(lines, 1):
        if prose:
            text = line
        else:
            text, in_block = comment_of(line, in_block)
            if not text:
                continue
        checks = [(w, p, text) for w, p in PHRASES]
        if prose:
            checks += [(w, p, QUOTED.sub("", text)) for w, p in PROSE_ONLY]
        for what, pattern, subject in checks:
            if pattern.search(subject):
                found.append("%s:%d: %s: %s" % (rel, number, what, line.strip()))
    return found


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    root = os.path.abspath(sys.argv[1])
    hits = []
    docs = list(markdown_files(root))
    for path in docs:
        hits += hits_in(path, os.path.relpath(path, root), prose=True)
    # This check and its own test hold the phrases as examples.
    own = os.path.dirname(os.path.abspath(__file__))
    for path in source_files(root):
        if os.path.dirname(os.path.abspath(path)) == own:
            continue
        hits += hits_in(path, os.path.relpath(path, root), prose=False)
    for h in hits:
        print(h)
    if hits:
        print("%d line(s) tell the history of the work; say what the code does instead" % len(hits))
        return 1
    print("no work history in %d documents and the source comments" % len(docs))
    return 0


if __name__ == "__main__":
    sys.exit(main())
