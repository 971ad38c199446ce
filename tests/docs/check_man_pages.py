#!/usr/bin/env python3
"""Each tool's --help and its manual page name the same options: every
option --help lists is described in the page's OPTIONS section and every
option described there is in --help (--help itself may be left out of the
usage text). The page also renders without groff warnings.

    check_man_pages.py MAN_DIR TOOL=EXECUTABLE...

MAN_DIR holds TOOL.1 for each TOOL."""

import os
import re
import shutil
import subprocess
import sys

OPTION = re.compile(r"(?<![\w-])--[a-z][a-z0-9-]*")
IMPLICIT = {"--help"}


def help_options(executable):
    run = subprocess.run([executable, "--help"], capture_output=True, text=True, timeout=30)
    if run.returncode != 0:
        raise RuntimeError("%s --help: exit status %d: %s" % (executable, run.returncode, run.stderr.strip()))
    return set(OPTION.findall(run.stdout)) - IMPLICIT


def roff_text(line):
    line = re.sub(r"\\f[BIRP]|\\f\(..|\\&", "", line)
    return line.replace("\\-", "-").replace("\\e", "\\")


def options_section(page):
    """The text of the page's OPTIONS section."""
    out, inside = [], False
    for line in page.splitlines():
        if line.startswith(".SH"):
            inside = line.split(None, 1)[1:] == ["OPTIONS"]
            continue
        if inside:
            out.append(roff_text(line))
    return "\n".join(out)


def groff_warnings(path):
    if shutil.which("groff") is None:
        return ""
    run = subprocess.run(["groff", "-man", "-ww", "-z", "-Tutf8", path], capture_output=True, text=True, timeout=30)
    return run.stderr.strip()


def check(man_dir, tool, executable):
    problems = []
    path = os.path.join(man_dir, tool + ".1")
    with open(path, encoding="utf-8") as f:
        section = options_section(f.read())
    if not section.strip():
        return ["%s: no OPTIONS section" % path]
    in_man = set(OPTION.findall(section)) - IMPLICIT
    in_help = help_options(executable)
    for o in sorted(in_help - in_man):
        problems.append("%s: %s is in --help but not in the manual page's OPTIONS" % (tool, o))
    for o in sorted(in_man - in_help):
        problems.append("%s: %s is in the manual page's OPTIONS but not in --help" % (tool, o))
    warnings = groff_warnings(path)
    if warnings:
        problems.append("%s: groff warns: %s" % (path, warnings))
    return problems


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    man_dir = sys.argv[1]
    problems = []
    for arg in sys.argv[2:]:
        tool, _, executable = arg.partition("=")
        problems += check(man_dir, tool, executable)
    for p in problems:
        print(p)
    if problems:
        return 1
    print("--help and the manual page agree for %s" % ", ".join(a.partition("=")[0] for a in sys.argv[2:]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
