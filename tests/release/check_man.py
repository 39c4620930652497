#!/usr/bin/env python3
"""The manual pages as man renders them: no warning from the formatter, every
section a reader looks for, and in NWD4_322's page every line of every
message the program can show, taken from the program's sources.

Usage: check_man.py SOURCE_DIR
"""

import os
import re
import subprocess
import sys

SRC = sys.argv[1]
SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "THE FOLDER", "OPTIONS", "MESSAGES", "FILES",
            "EXIT STATUS", "SEE ALSO"]
PAGES = {"NWD4_322.1": SECTIONS, "nwd_split.1": SECTIONS}
# Where the program's messages are written down.
MESSAGE_SOURCES = ["join/join_app.cc", "join/join_parts.cc", "join/part_set.cc",
                   "platform/framework.cc", "platform/posix/launch_posix.cc"]


def render(page):
    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="200")
    result = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", page], env=env,
                            capture_output=True, text=True, timeout=60)
    return result.returncode, result.stdout, result.stderr


def message_lines():
    """Every line of every non-ASCII string literal in the message sources."""
    lines = set()
    for name in MESSAGE_SOURCES:
        with open(os.path.join(SRC, name), encoding="utf-8") as f:
            text = f.read()
        for literal in re.findall(r'"((?:[^"\\\n]|\\.)*)"', text):
            if literal.isascii():
                continue
            lines.update(line for line in literal.split("\\n") if line)
    return lines


def main():
    failures = []
    for page, sections in PAGES.items():
        before = len(failures)
        status, out, err = render(os.path.join(SRC, "docs/man", page))
        if status != 0 or err:
            failures.append(f"{page}: man says {err.strip()!r} (status {status})")
        headings = [line for line in out.splitlines() if re.fullmatch(r"[A-Z][A-Z ]*", line)]
        missing = [s for s in sections if s not in headings]
        if missing:
            failures.append(f"{page}: sections missing: {missing}")
        if page == "NWD4_322.1":
            flat = re.sub(r"\s+", " ", out)
            absent = sorted(m for m in message_lines() if m not in flat)
            if len(message_lines()) < 20:
                failures.append(f"only {len(message_lines())} message lines found in the sources")
            if absent:
                failures.append(f"{page}: messages not described: {absent}")
        print(f"{'FAIL' if len(failures) > before else 'ok  '} {page}: {len(headings)} sections")
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
