#!/usr/bin/env python3
"""A program's manual page (its --man-page) against its --help: the same
options both ways, and a page groff and man render without a warning (as
lintian renders it)."""
import os
import re
import subprocess
import sys
import tempfile

TERM = re.compile(r"^(?:  |      )([-/]\S.*?)(?: {2,}|$)")


def names(term):
    found = set()
    for word in term.split():
        word = word.rstrip(",")
        if not word or word[0] not in "-/":
            continue
        if "=" in word:
            word = word[: word.index("=") + 1] if word[0] == "/" else word[: word.index("=")]
        found.add(word)
    return found


def help_options(text):
    found = set()
    for line in text.splitlines()[1:]:
        match = TERM.match(line)
        if match:
            found |= names(match.group(1))
    return found


def man_options(roff):
    found = set()
    lines = roff.splitlines()
    in_options = False
    for i, line in enumerate(lines):
        if line.startswith(".SH "):
            in_options = line == ".SH OPTIONS"
        if in_options and line == ".TP" and i + 1 < len(lines):
            plain = re.sub(r"\\f[BIR]", "", lines[i + 1]).replace("\\-", "-").replace("\\&", "")
            found |= names(plain)
    return found


def main():
    program = sys.argv[1]
    help_text = subprocess.run([program, "--help"], check=True, capture_output=True,
                               text=True).stdout
    roff = subprocess.run([program, "--man-page"], check=True, capture_output=True,
                          text=True).stdout
    failures = []
    in_help, in_man = help_options(help_text), man_options(roff)
    if not in_help:
        failures.append("no options found in --help")
    if in_help - in_man:
        failures.append("in --help but not in the page: " + " ".join(sorted(in_help - in_man)))
    if in_man - in_help:
        failures.append("in the page but not in --help: " + " ".join(sorted(in_man - in_help)))
    if "--man-page" in in_help | in_man:
        failures.append("--man-page is meant to stay hidden")

    with tempfile.TemporaryDirectory() as folder:
        page = os.path.join(folder, os.path.basename(program) + ".1")
        with open(page, "w", encoding="utf-8") as out:
            out.write(roff)
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80", MANROFFSEQ="")
        renders = {
            "groff": ["groff", "-man", "-Tutf8", "-ww", "-z", page],
            "man": ["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page],
        }
        for tool, command in renders.items():
            run = subprocess.run(command, capture_output=True, text=True, env=env)
            if run.returncode != 0 or run.stderr.strip():
                failures.append(f"{tool} ({run.returncode}): {run.stderr.strip()}")

    for failure in failures:
        print(f"{program}: {failure}")
    if not failures:
        print(f"{program}: {len(in_help)} options in --help and the page; renders cleanly")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
