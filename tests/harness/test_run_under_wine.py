#!/usr/bin/env python3
"""scripts/run-under-wine.sh, the launcher of the Windows tests under Wine.

Usage: test_run_under_wine.py LAUNCHER

Wine's services, started by the first test process of a fresh Wine server,
keep its standard handles for as long as the server runs. Here a shell
stands in for Wine and a background `sleep` for those services: the
launcher must end with the program, show all it printed and pass its exit
status on, whatever the processes it left behind keep open.
"""
import os
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

LAUNCHER = str(Path(sys.argv[1]).resolve())

ROWS = [
    # (what the program does, its exit status, what ctest must be shown)
    ("echo started; sleep 600 & echo $! > leftover", 0, "started\n"),
    ("echo on stderr >&2; exit 3", 3, "on stderr\n"),
    ("sleep 600 & echo $! > leftover; echo failed; exit 1", 1, "failed\n"),
]


def main():
    failures = 0
    for script, status, shown in ROWS:
        with tempfile.TemporaryDirectory() as work:
            output = Path(work) / "output"
            env = dict(os.environ, ZELT_WINE_OUTPUT_DIR=str(output))
            try:
                run = subprocess.run([LAUNCHER, "/bin/sh", "-c", script], cwd=work, env=env,
                                     capture_output=True, text=True, timeout=60, check=False)
                kept = sorted(os.listdir(output)) if output.is_dir() else []
                outcome = (run.returncode, run.stdout, kept)
            except subprocess.TimeoutExpired:
                outcome = "never ended: a process left behind holds ctest's pipe"
            leftover = Path(work) / "leftover"
            if leftover.exists():
                os.kill(int(leftover.read_text()), signal.SIGKILL)
            if outcome != (status, shown, []):
                print(f"FAIL {script!r}: {outcome!r}, expected {(status, shown, [])!r}")
                failures += 1
    print(f"{len(ROWS) - failures}/{len(ROWS)} rows passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
