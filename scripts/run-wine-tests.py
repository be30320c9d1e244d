#!/usr/bin/env python3
"""Runs the Windows build's tests under Wine; the Wine server must be up.

Usage: scripts/run-wine-tests.py JOBS

A test that failed having printed nothing never reached its own first line:
the process failed to start under Wine, which says nothing about the test.
Such a test runs once more, and the retry is reported. A test that printed
anything failed for real and is never run again.
"""
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
RESULTS = ROOT / "build" / "mingw" / "Testing" / "wine-results.xml"


def run(jobs, names=None):
    """Runs the tests (only `names` if given); whether all passed."""
    command = ["ctest", "--preset", "mingw", "-j", jobs, "--output-junit", str(RESULTS)]
    if names:
        command += ["-R", "^(" + "|".join(re.escape(name) for name in names) + ")$"]
    return subprocess.run(command, cwd=ROOT, check=False).returncode == 0


def failures():
    """The failed tests of the last run: (those that printed nothing, the others)."""
    silent, loud = [], []
    for case in ElementTree.parse(RESULTS).getroot().iter("testcase"):
        if case.get("status") == "fail":
            output = case.findtext("system-out") or ""
            (loud if output.strip() else silent).append(case.get("name"))
    return silent, loud


def main():
    jobs = sys.argv[1] if len(sys.argv) > 1 else "2"
    if run(jobs):
        return 0
    silent, loud = failures()
    if loud or not silent:
        return 1
    print("failed at start with no output, run once more: " + ", ".join(silent), flush=True)
    if run(jobs, silent):
        print("passed when run again: " + ", ".join(silent))
        return 0
    return 1


if __name__ == "__main__":
    sys.exit(main())
