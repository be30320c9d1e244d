#!/usr/bin/env bash
# Builds zelt and runs the whole test suite through ctest: the normal build,
# then under AddressSanitizer+UBSan and ThreadSanitizer, a clang build that
# checks the thread-safety annotations, the Windows x64 build under Wine, a
# consumer of the install tree and the fuzz targets. Fails on the first
# failure.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

scripts/install-deps.sh clang libclang-rt-14-dev clang-format clang-tidy \
  g++-mingw-w64-x86-64-posix wine wine64 chromium

jobs="$(nproc 2>/dev/null || echo 2)"

step() { printf '\n==== %s ====\n' "$*"; }

step "style: clang-format and clang-tidy"
scripts/check-style.sh

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
scripts/check-exports.sh build/release/lib/libobdcore.so build/release/lib/libzelt.so \
  build/release/lib/libzelt_link.so build/release/lib/libzelt_app.so

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

# Building with clang is the check of the lock annotations (the suites above
# already ran the tests): every target, so the core, the tools and the tests
# are checked as well as the library.
step "clang-thread-safety: build every target with -Werror -Wthread-safety"
cmake --preset clang-thread-safety >/dev/null
cmake --build --preset clang-thread-safety -j "$jobs"

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
# A test that failed at start with no output is run once more (see the script).
scripts/run-wine-tests.py "$jobs"
scripts/check-exports.sh build/mingw/bin/obdcore.dll build/mingw/bin/zelt.dll build/mingw/bin/zelt_link.dll \
  build/mingw/bin/zelt_app.dll

step "package: install, then build consumers and the examples against the install tree"
rm -rf build/install build/consumer build/consumer-subdirectory build/consumer-pkg-config build/examples
cmake --install build/release --prefix build/install >/dev/null
for installed in lib/libobdcore.so lib/libzelt.so lib/libzelt_link.so lib/libzelt_app.so \
                 lib/pkgconfig/orvane.pc lib/pkgconfig/obdcore.pc lib/pkgconfig/zelt.pc \
                 lib/pkgconfig/zelt_link.pc lib/pkgconfig/zelt_app.pc include/zelt/app/Session.h \
                 lib/cmake/zelt/zeltConfig.cmake include/orvane/Observer.h include/obd/IQuorvix.h \
                 include/zelt/EcuRepository.h include/zelt/link/BytePump.h bin/zelt-scan \
                 bin/elm327-emulator; do
  test -e "build/install/$installed" || { echo "not installed: $installed"; exit 1; }
done
# The installed tool finds its libraries on its own.
build/install/bin/zelt-scan >/dev/null
# So does the installed Python package, from the interpreter's place under the prefix.
PYTHONPATH="$(echo build/install/lib/python3*/*-packages)" /usr/bin/python3 -c \
  'import zelt; assert zelt.simulate().vin'
# pkg-config alone builds an application: zelt_link names the libraries below it.
c++ -std=c++17 tests/package/main.cpp -o build/consumer-pkg-config \
  $(PKG_CONFIG_PATH="$root/build/install/lib/pkgconfig" pkg-config --cflags --libs zelt_link)
LD_LIBRARY_PATH="$root/build/install/lib" build/consumer-pkg-config
cmake -S tests/package -B build/consumer -G Ninja -DCMAKE_PREFIX_PATH="$root/build/install" >/dev/null
cmake --build build/consumer
build/consumer/zelt_consumer
cmake -S tests/package/add-subdirectory -B build/consumer-subdirectory -G Ninja >/dev/null
cmake --build build/consumer-subdirectory -j "$jobs"
build/consumer-subdirectory/zelt_consumer
cmake -S examples -B build/examples -G Ninja -DCMAKE_PREFIX_PATH="$root/build/install" \
  -DCMAKE_CXX_FLAGS=-Werror >/dev/null
cmake --build build/examples -j "$jobs"
build/examples/scan-vehicle/scan-vehicle >/dev/null
# The logger runs until interrupted; it must end cleanly with its rows flushed.
timeout --signal=INT --kill-after=5 --preserve-status 3 \
  build/examples/log-live-data/log-live-data --interval 200 0C 0D >build/examples/live-data.csv
# A header and at least two readings, every row with the time and both sensors.
awk -F, 'END { exit !(NR >= 3) } NF != 3 { exit 1 }' build/examples/live-data.csv

step "python: pip install . into a virtual environment, offline"
rm -rf build/venv build/python-package
/usr/bin/python3 -m venv --system-site-packages build/venv
build/venv/bin/pip install --no-build-isolation --no-index --quiet .
# The package carries the trouble code titles and finds them.
(cd /tmp && env -u ZELT_TROUBLE_CODES "$root/build/venv/bin/python" -c \
  'import zelt; v = zelt.simulate(); assert v.vin and "/build/venv/" in zelt.__file__
assert v.trouble_codes.confirmed()[0].description == "Cylinder 1 Misfire Detected"')

step "package: the Debian package, installed with apt, scans the simulated vehicle"
# Under /usr the module belongs where Debian's python3 looks.
# The core looks for the trouble code titles under the prefix it is built for.
cmake build/release -DZELT_PYTHON_INSTALL_DIR=lib/python3/dist-packages \
  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build/release -j "$jobs" >/dev/null
rm -f build/release/zelt_*.deb
(cd build/release && cpack -G DEB >/dev/null)
apt-get install -y --no-install-recommends ./build/release/zelt_*.deb >/dev/null
(cd /tmp && unset ZELT_TROUBLE_CODES &&
  zelt-scan --json | /usr/bin/python3 -c 'import json, sys; assert json.load(sys.stdin)["ecus"]' &&
  zelt-scan | grep -q "Cylinder 1 Misfire Detected" && test -e /usr/share/zelt/COPYING &&
  /usr/bin/python3 -c 'import zelt; assert zelt.simulate().vin' &&
  pkg-config --exists zelt_app && test -e /usr/include/zelt/app/Session.h)
apt-get remove -y zelt >/dev/null

step "docs: the API reference (an undocumented public name fails)"
doxygen docs/Doxyfile

step "fuzz: each target for 30 seconds"
scripts/run-fuzzers.sh 30

step "all suites passed"
