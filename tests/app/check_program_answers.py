#!/usr/bin/env python3
"""Checks that the programs answer --version, --help and -h: exit 0, the answer on standard
output, nothing on standard error, no file made, and no display needed.

  check_program_answers.py SOURCE_DIR VERSION PROGRAM...

Each PROGRAM (quillmere, quillmere-cli, quillmere-recfile) runs without DISPLAY,
WAYLAND_DISPLAY and QT_QPA_PLATFORM, in an empty working folder with an empty HOME. --version
must print the one line "NAME VERSION", followed by " (commit <12 hex digits>)" when SOURCE_DIR
is a git work tree and git is there. Exit status: 0 all answered, 1 a case failed (each failure
on a line of its own), 2 wrong usage.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

# (arguments, what standard output must match; {name} and {version} are filled in). The switch
# also counts after other arguments, before any of them is judged: the window answers before it
# needs a display, quillmere-recfile without --dir or --settings.
CASES = {
    "quillmere": [
        (["--version"], "{name} {version}{commit}\n"),
        (["--help"], "usage: {name} "),
        (["-h"], "usage: {name} "),
        (["/a07", "-platform", "xcb", "--help"], "usage: {name} "),
    ],
    "quillmere-cli": [
        (["--version"], "{name} {version}{commit}\n"),
        (["--help"], "usage: {name} "),
        (["-h"], "usage: {name} "),
        (["import", "--csv", "x.csv", "--version"], "{name} {version}{commit}\n"),
    ],
    "quillmere-recfile": [
        (["--version"], "{name} {version}{commit}\n"),
        (["--help"], "usage: {name} "),
        (["-h"], "usage: {name} "),
        (["list", "--help"], "usage: {name} "),
        (["--dir", "/nonexistent", "--version"], "{name} {version}{commit}\n"),
    ],
}


def IsGitWorkTree(folder):
    if shutil.which("git") is None:
        return False
    run = subprocess.run(["git", "-C", folder, "rev-parse", "--show-toplevel"],
                         capture_output=True, text=True)
    return run.returncode == 0 and os.path.realpath(run.stdout.strip()) == os.path.realpath(folder)


def Main(argv):
    if len(argv) < 4:
        print(__doc__, file=sys.stderr)
        return 2
    source_dir, version, programs = argv[1], argv[2], argv[3:]
    commit = r" \(commit [0-9a-f]{12}\)" if IsGitWorkTree(source_dir) else ""
    failures = []
    for path in programs:
        name = os.path.basename(path)
        if name not in CASES:
            failures.append(f"{path}: no cases for a program named {name}")
            continue
        for args, pattern in CASES[name]:
            want = re.escape(pattern.format(name=name, version=version, commit="@")).replace(
                "@", commit)
            if not pattern.endswith("\n"):
                want += ".*"
            shown = " ".join([name] + args)
            with tempfile.TemporaryDirectory() as work:
                home = os.path.join(work, "home")
                cwd = os.path.join(work, "cwd")
                os.mkdir(home)
                os.mkdir(cwd)
                environment = {k: v for k, v in os.environ.items()
                               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM",
                                            "XDG_CONFIG_HOME")}
                environment["HOME"] = home
                run = subprocess.run([os.path.abspath(path)] + args, cwd=cwd, env=environment,
                                     capture_output=True, text=True, timeout=60)
                made = sorted(os.listdir(home) + os.listdir(cwd))
            if run.returncode != 0:
                failures.append(f"{shown}: exit {run.returncode}, not 0")
            if not re.fullmatch(want, run.stdout, re.DOTALL):
                failures.append(f"{shown}: standard output [{run.stdout[:200]}] does not match "
                                f"[{want}]")
            if run.stderr:
                failures.append(f"{shown}: standard error is not empty: [{run.stderr[:200]}]")
            if made:
                failures.append(f"{shown}: made {', '.join(made)}")
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(Main(sys.argv))
