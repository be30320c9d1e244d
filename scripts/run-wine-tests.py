#!/usr/bin/env python3
"""Runs the Windows build's tests under Wine; the Wine server must be up.

Usage: scripts/run-wine-tests.py JOBS

A test that failed having printed nothing never reached its own first line:
the process failed to start under Wine, which says nothing about the test.
Such a test runs once more, and the retry is reported. A test that printed
anything failed for real and is never run again.

Tests run through scripts/run-under-wine.sh, which shows a program's output
when it ends; a test that ctest's time limit ended leaves its output in
ZELT_WINE_OUTPUT_DIR, shown here, and counts as one that printed.
"""
import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
RESULTS = ROOT / "build" / "mingw" / "Testing" / "wine-results.xml"
# As the mingw test preset sets it for the launcher.
OUTPUT_DIR = ROOT / "build" / "mingw" / "Testing" / "wine-output"


def run(jobs, names=None):
    """Runs the tests (only `names` if given); whether all passed."""
    command = ["ctest", "--preset", "mingw", "-j", jobs, "--output-junit", str(RESULTS)]
    if names:
        command += ["-R", "^(" + "|".join(re.escape(name) for name in names) + ")$"]
    return subprocess.run(command, cwd=ROOT, check=False).returncode == 0


def cut_off_output(name):
    """What a test that was ended before its launcher could show it printed."""
    text = ""
    for log in sorted(OUTPUT_DIR.glob(name + ".exe.*.log")):
        text += log.read_text(errors="replace")
        log.unlink()
    if text.strip():
        print("output of " + name + ", ended by its time limit:\n" + text, flush=True)
    return text


def failures():
    """The failed tests of the last run: (those that printed nothing, the others)."""
    silent, loud = [], []
    for case in ElementTree.parse(RESULTS).getroot().iter("testcase"):
        if case.get("status") == "fail":
            output = (case.findtext("system-out") or "") + cut_off_output(case.get("name"))
            (loud if output.strip() else silent).append(case.get("name"))
    return silent, loud


def main():
    jobs = sys.argv[1] if len(sys.argv) > 1 else "2"
    for log in OUTPUT_DIR.glob("*.log"):
        log.unlink()
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
