#!/usr/bin/env bash
# The style gate: every tracked C++ file is formatted as .clang-format says,
# and the project's own sources (the libraries and the tools, not the tests,
# benchmarks or fuzzers) pass the clang-tidy checks of .clang-tidy, any
# finding being an error.
# Usage: scripts/check-style.sh [BUILD_DIR]  (default build/release, whose
# compile_commands.json clang-tidy reads; configured when missing)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${1:-build/release}"
jobs="$(nproc 2>/dev/null || echo 2)"

echo "clang-format: checking the tracked C++ files"
git ls-files -z -- '*.h' '*.cpp' ':!:fuzz/corpus/**' |
  xargs -0 clang-format --dry-run --Werror

if [ ! -f "$build/compile_commands.json" ]; then
  cmake --preset release >/dev/null
fi
# Only sources the build compiles here: the Windows-only ones are not in the
# compilation database.
mapfile -t sources < <(
  git ls-files -- 'core/src/*.cpp' 'libzelt/src/*.cpp' 'framework/src/*.cpp' 'link/src/*.cpp' 'publish/src/*.cpp' 'app/src/*.cpp' 'tools/*.cpp' |
    while read -r file; do
      if grep -q "\"$root/$file\"" "$build/compile_commands.json"; then
        echo "$file"
      fi
    done)
echo "clang-tidy: checking ${#sources[@]} sources"
printf '%s\0' "${sources[@]}" |
  xargs -0 -n 4 -P "$jobs" clang-tidy --quiet -p "$build" 2>/dev/null
echo "style: clean"
