#!/usr/bin/env bash
# Builds zelt and runs the whole test suite through ctest: the normal build,
# then under AddressSanitizer+UBSan and ThreadSanitizer, a clang build that
# checks the thread-safety annotations, the Windows x64 build under Wine, a
# consumer of the install tree and the fuzz targets. Fails on the first
# failure.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install-deps.sh clang libclang-rt-14-dev g++-mingw-w64-x86-64-posix wine wine64

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

step "release: exported symbols"
scripts/check-exports.sh build/release/lib/libzelt.so build/release/lib/libobdcore.so

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

# The annotated cache slots live in the library: building it with clang is
# the check (the suites above already ran the tests).
step "clang-thread-safety: build the library with -Werror -Wthread-safety"
cmake --preset clang-thread-safety >/dev/null
cmake --build --preset clang-thread-safety -j "$jobs" --target zelt

run_preset mingw
step "mingw: tests under Wine"
export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Create the Wine prefix once, before any test, and keep one server with its
# background services alive for the whole run: tests started in parallel on
# a fresh prefix otherwise race to create it. The services are started here
# with their output on /dev/null, so they never hold a test's output pipe
# open (ctest would wait for it).
mkdir -p "$WINEPREFIX"
wineserver --persistent
trap 'wineserver --kill 2>/dev/null || true' EXIT
wineboot --init >/dev/null 2>&1
ctest --preset mingw -j "$jobs"
scripts/check-exports.sh build/mingw/bin/zelt.dll build/mingw/bin/obdcore.dll

step "package: install and build a consumer against the install tree"
rm -rf build/install build/consumer
cmake --install build/release --prefix build/install >/dev/null
cmake -S tests/package -B build/consumer -G Ninja -DCMAKE_PREFIX_PATH="$root/build/install" >/dev/null
cmake --build build/consumer
LD_LIBRARY_PATH="$root/build/install/lib" build/consumer/zelt_consumer

step "fuzz: each target for 30 seconds"
scripts/run-fuzzers.sh 30

step "all suites passed"
