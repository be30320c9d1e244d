#!/usr/bin/env bash
# Builds zelt and runs the whole test suite through ctest: the normal build,
# then under AddressSanitizer+UBSan and ThreadSanitizer, and a clang build
# that checks the thread-safety annotations. Fails on the first failure.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install-deps.sh clang

jobs="$(nproc 2>/dev/null || echo 2)"

step() { printf '\n==== %s ====\n' "$*"; }

run_preset() {
  local preset="$1"
  step "$preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
}

run_preset release
step "release: tests"
ctest --preset release -j "$jobs"

run_preset asan
step "asan: tests"
ctest --preset asan -j "$jobs"

run_preset tsan
step "tsan: tests"
# ThreadSanitizer needs a memory layout that high ASLR entropy can break;
# running without address randomisation keeps it working on any kernel.
if setarch "$(uname -m)" -R true 2>/dev/null; then
  setarch "$(uname -m)" -R ctest --preset tsan -j "$jobs"
else
  ctest --preset tsan -j "$jobs"
fi

run_preset clang-thread-safety

step "all suites passed"
