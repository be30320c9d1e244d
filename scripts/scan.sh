#!/usr/bin/env bash
# Builds zelt-scan and scans the built-in simulated vehicle. Arguments go to
# zelt-scan, e.g. scripts/scan.sh --json or scripts/scan.sh --watch 0C,0D.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install-deps.sh >&2
cmake --preset release >/dev/null
cmake --build --preset release --target zelt-scan -j "$(nproc 2>/dev/null || echo 2)" >&2
# The build tree's tool reads the trouble-code titles from the source tree.
export ZELT_TROUBLE_CODES="${ZELT_TROUBLE_CODES:-$root/data/trouble-codes/generic-trouble-codes.tsv}"
exec build/release/bin/zelt-scan "$@"
