#!/bin/sh
# Runs a Windows test program for ctest: run-under-wine.sh WINE PROGRAM [ARGS...]
#
# The program's output goes through a file, never through ctest's pipe. The
# first Windows process on a Wine prefix whose start-up has not finished
# starts Wine's services itself (services.exe, winedevice, plugplay, rpcss),
# and they inherit its standard handles. Under a persistent Wine server they
# never exit, so a pipe they hold never reaches its end, and ctest, which
# reads a test's output to the end, waits forever for a test that has long
# ended: its time limit does not end that wait. A file they may keep open.
#
# The file is removed once shown. A test ended by ctest's time limit leaves
# its file in ZELT_WINE_OUTPUT_DIR, where scripts/run-wine-tests.py shows it.
dir=${ZELT_WINE_OUTPUT_DIR:-${TMPDIR:-/tmp}}
mkdir -p "$dir" || exit 1
output=$(mktemp "$dir/$(basename "$2").XXXXXX.log") || exit 1
"$@" <"/dev/null" >"$output" 2>&1
status=$?
cat "$output"
rm -f "$output"
exit "$status"
