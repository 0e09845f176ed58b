#!/usr/bin/env python3
"""Checks src/app/write_version.cmake, which the build runs at every build to write the
programs' version file, on throwaway git repositories.

  check_version_file.py CMAKE SCRIPT

The commit written must be the source folder's HEAD at the time of the build, never an older
one; an unchanged commit must leave the file untouched (so nothing is compiled or linked
again); a source folder that is not the top of a git work tree gets no commit, also when it
lies inside another repository or GIT_DIR points at one. Exit status: 0 all hold, 1 a case
failed (each failure on a line of its own), 2 wrong usage.
"""

import os
import re
import subprocess
import sys
import tempfile


def Git(folder, *args):
    return subprocess.run(
        ["git", "-C", folder, "-c", "user.name=Test", "-c", "user.email=test@example.invalid",
         "-c", "commit.gpgsign=false", *args],
        check=True, capture_output=True, text=True).stdout.strip()


def NewRepository(folder):
    os.makedirs(folder, exist_ok=True)
    Git(folder, "init", "-q")
    return Commit(folder)


def Commit(folder):
    with open(os.path.join(folder, "file.txt"), "a") as f:
        f.write("change\n")
    Git(folder, "add", "file.txt")
    Git(folder, "commit", "-q", "-m", "change")
    return Git(folder, "rev-parse", "HEAD")


class Checker:
    def __init__(self, cmake, script, work):
        self.cmake, self.script = cmake, script
        self.output = os.path.join(work, "build", "generated", "version.cc")
        os.makedirs(os.path.dirname(self.output))
        self.failures = []

    def Write(self, source_dir, environment=None):
        """Runs the script as the build does; returns the file's (version, commit)."""
        run = subprocess.run(
            [self.cmake, f"-DSOURCE_DIR={source_dir}", f"-DOUTPUT={self.output}",
             "-DVERSION=4.2", "-P", self.script],
            capture_output=True, text=True, env=environment)
        if run.returncode != 0:
            self.failures.append(f"the script fails on {source_dir}: {run.stderr.strip()}")
            return None, None
        with open(self.output) as f:
            text = f.read()
        version = re.search(r'kVersion\[\] = "([^"]*)"', text)
        commit = re.search(r'kBuildCommit\[\] = "([^"]*)"', text)
        return version and version.group(1), commit and commit.group(1)

    def Expect(self, case, got, want):
        if got != want:
            self.failures.append(f"{case}: got {got!r}, want {want!r}")


def Main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory() as work:
        check = Checker(argv[1], os.path.abspath(argv[2]), work)
        source = os.path.join(work, "source")
        head = NewRepository(source)
        check.Expect("a git work tree", check.Write(source), ("4.2", head[:12]))

        # An unchanged commit leaves the file as it was: an old time stamp stays.
        os.utime(check.output, (1000000000, 1000000000))
        check.Write(source)
        check.Expect("a second build on the same commit leaves the file's time",
                     os.stat(check.output).st_mtime, 1000000000)

        newer = Commit(source)
        check.Expect("a build after a new commit", check.Write(source), ("4.2", newer[:12]))

        inner = os.path.join(source, "unpacked")  # a tarball unpacked inside a repository
        os.makedirs(inner)
        check.Expect("a folder inside another repository", check.Write(inner), ("4.2", ""))

        plain = os.path.join(work, "plain")
        os.makedirs(plain)
        environment = dict(os.environ, GIT_CEILING_DIRECTORIES=work)
        check.Expect("a folder outside any repository", check.Write(plain, environment),
                     ("4.2", ""))

        other = os.path.join(work, "other")
        NewRepository(other)
        environment = dict(os.environ, GIT_DIR=os.path.join(other, ".git"))
        check.Expect("GIT_DIR naming another repository", check.Write(source, environment),
                     ("4.2", newer[:12]))
    for failure in check.failures:
        print(failure)
    return 1 if check.failures else 0


if __name__ == "__main__":
    sys.exit(Main(sys.argv))
