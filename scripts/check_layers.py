#!/usr/bin/env python3
"""Holds the product's layering: every `#include "folder/..."` must follow an allowed folder edge,
and Win32 headers appear only in platform/, app/ and files named *_win.*.

Usage: check_layers.py SOURCE_DIR. Prints each offending include and exits 1 when there is one."""
import pathlib
import re
import sys

# Folder -> the folders it may include, top to bottom: the entry point, the windows with the install
# sequence and the texts, the install and banner cores, the manifest, common (with the install
# language), the platform layer. patchtool sits beside the entry point and never reaches a window.
# A new edge here is a design decision.
ALLOWED = {
    "app": {"ui", "banner", "install", "manifest", "common", "platform"},
    "ui": {"banner", "install", "manifest", "common", "platform"},
    "tools": {"banner", "install", "manifest", "common", "platform"},
    "banner": {"manifest", "common", "platform"},
    # The signature of a patch covers the asset archive and the banner files beside the installer,
    # so the install core asks the banner core which files those are; never the other way round.
    "install": {"banner", "manifest", "common", "platform"},
    "manifest": {"common", "platform"},
    "common": {"platform"},
    "platform": set(),
}

WIN32_HEADERS = {"windows.h", "shellapi.h", "objidl.h", "gdiplus.h", "shobjidl.h", "shlobj.h", "wincrypt.h",
                 "winhttp.h", "commctrl.h", "bcrypt.h"}
WIN32_FOLDERS = {"platform", "app"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def Win32Allowed(folder, path):
    return folder in WIN32_FOLDERS or re.search(r"_win\.[^.]+$", path.name) is not None


def Check(root):
    problems = []
    for folder in sorted(ALLOWED):
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
            for number, line in enumerate(lines, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                kind, target = match.groups()
                where = f"{path.relative_to(root)}:{number}"
                if kind == "<":
                    if target.lower() in WIN32_HEADERS and not Win32Allowed(folder, path):
                        problems.append(f"{where}: <{target}> outside platform/, app/ and *_win.* files")
                    continue
                if "/" not in target:
                    continue  # beside the including file
                to = target.split("/", 1)[0]
                if to != folder and to not in ALLOWED[folder]:
                    problems.append(f"{where}: {folder}/ -> {to}/ (\"{target}\") is not an allowed edge")
    return problems


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    problems = Check(pathlib.Path(sys.argv[1]))
    for problem in problems:
        print(problem)
    print(f"{len(problems)} include(s) against the layering")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
