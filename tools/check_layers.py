#!/usr/bin/python3
"""Checks that each library under src/ includes only the layers below it.

    platform <- core <- mail, data <- job <- cli, ui

Each folder under src/ is one static library (target_link_libraries in its
CMakeLists.txt); a few files are libraries of their own and are named by
path below. `"…"` includes are checked; an include without a folder is the
file's own folder. Prints one line per include that crosses the layering,
naming the file, the line and the include, and exits 1 when there is any.

    check_layers.py [SRC_FOLDER]   (default: src/ beside tools/)
    check_layers.py --self-test
"""

import os
import re
import sys
import tempfile

# Files that form a library of their own inside a layer's folder, by path
# prefix relative to src/ (the longest match wins).
UNITS = {
    # The Qt side of the host services (velkaro_platform_qt): links core.
    "platform/qt/": "platform_qt",
    # The headless sender's host services (velkaro_platform_headless): they
    # convert texts, so they link core, which velkaro_platform must not.
    "platform/headless_platform": "platform_headless",
    # The manual pages made from the --help texts (velkaro_man_page): the
    # window program uses them too, so they depend on nothing.
    "cli/man_page": "man_page",
}

# What each library may include besides itself.
ALLOWED = {
    "platform": set(),
    "platform_qt": {"platform", "core"},
    "platform_headless": {"platform", "core"},
    "core": {"platform"},
    # mail and data stand side by side on core: neither includes the other.
    "mail": {"core", "platform"},
    "data": {"core", "platform"},
    "job": {"mail", "data", "core", "platform"},
    "man_page": set(),
    "cli": {"man_page", "job", "mail", "data", "core", "platform", "platform_headless"},
    "ui": {"man_page", "job", "mail", "data", "core", "platform", "platform_qt"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SOURCE_ENDINGS = (".h", ".cpp", ".inc")


def unit_of(path):
    """The library of a path relative to src/, or None outside the layers."""
    best = None
    for prefix, unit in UNITS.items():
        if path.startswith(prefix) and (best is None or len(prefix) > len(best)):
            best = prefix
    if best is not None:
        return UNITS[best]
    first = path.split("/", 1)[0]
    return first if first in ALLOWED and "/" in path else None


def check(src):
    """The crossing includes as (file, line number, include, reason)."""
    problems = []
    for folder, _, files in sorted(os.walk(src)):
        for name in sorted(files):
            if not name.endswith(SOURCE_ENDINGS):
                continue
            full = os.path.join(folder, name)
            rel = os.path.relpath(full, src).replace(os.sep, "/")
            unit = unit_of(rel)
            if unit is None:
                continue
            with open(full, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    match = INCLUDE.match(line)
                    if not match:
                        continue
                    included = match.group(1)
                    if "/" not in included:
                        continue  # the file's own folder
                    target = unit_of(included)
                    if target is None:
                        problems.append((rel, number, included, "is no layer's file"))
                    elif target != unit and target not in ALLOWED[unit]:
                        problems.append(
                            (rel, number, included, f"{target} is not below {unit}"))
    return problems


def report(src):
    problems = check(src)
    for rel, number, included, reason in problems:
        print(f'src/{rel}:{number}: #include "{included}": {reason}')
    if problems:
        print(f"{len(problems)} include(s) cross the layering "
              "(the table is in tools/check_layers.py)")
        return 1
    print("layering: every include is of a layer below")
    return 0


def self_test():
    """Runs the check on a small tree whose crossings are known."""
    cases = [
        # (file, its text, expected crossing includes)
        ("core/a.cpp", '#include "core/a.h"\n#include "platform/p.h"\n', []),
        ("core/b.cpp", '#include "mail/m.h"\n', ["mail/m.h"]),
        ("data/d.h", '  #  include "mail/server.h"\n#include <mail/x.h>\n', ["mail/server.h"]),
        ("mail/m.cpp", '#include "data/d.h"\n#include "local.inc"\n', ["data/d.h"]),
        ("job/j.cpp", '#include "mail/m.h"\n#include "data/d.h"\n#include "ui/v.h"\n',
         ["ui/v.h"]),
        ("job/q.cpp", '#include "platform/qt/qt_platform.h"\n', ["platform/qt/qt_platform.h"]),
        ("ui/v.cpp", '#include "platform/qt/f.h"\n#include "cli/man_page.h"\n', []),
        ("ui/w.cpp", '#include "cli/cli_options.h"\n', ["cli/cli_options.h"]),
        ("platform/p.cpp", '#include "core/encoding.h"\n', ["core/encoding.h"]),
        ("platform/headless_platform.cpp", '#include "core/encoding.h"\n', []),
        ("cli/man_page.cpp", '#include "core/encoding.h"\n', ["core/encoding.h"]),
        ("core/c.cpp", '#include "gtest/gtest.h"\n', ["gtest/gtest.h"]),
    ]
    with tempfile.TemporaryDirectory() as src:
        for rel, text, _ in cases:
            os.makedirs(os.path.dirname(os.path.join(src, rel)), exist_ok=True)
            with open(os.path.join(src, rel), "w", encoding="utf-8") as f:
                f.write(text)
        found = {}
        for rel, _, included, _ in check(src):
            found.setdefault(rel, []).append(included)
        failed = 0
        for rel, _, expected in cases:
            if found.get(rel, []) != expected:
                print(f"self-test {rel}: expected {expected}, found {found.get(rel, [])}")
                failed += 1
    print("self-test: " + ("failed" if failed else "passed"))
    return 1 if failed else 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    src = argv[1] if len(argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "src")
    return report(os.path.normpath(src))


if __name__ == "__main__":
    sys.exit(main(sys.argv))
