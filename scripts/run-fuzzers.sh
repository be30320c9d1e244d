#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang with AddressSanitizer and
# UBSan) and runs each one for a bounded time, starting from a copy of its
# seed corpus in fuzz/corpus/<Name>/ so that the repository stays untouched.
# Fails when any target has a finding: a crash, a sanitizer report, an
# exception that escapes, a leak, an input that runs too long or too much
# memory. The inputs that failed are kept in build/fuzz/findings/<Name>/.
# Usage: scripts/run-fuzzers.sh [seconds per target, default 30]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

seconds="${1:-30}"
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [seconds per target]" >&2
  exit 2
fi

scripts/install-deps.sh clang libclang-rt-14-dev

jobs="$(nproc 2>/dev/null || echo 2)"

step() { printf '\n==== %s ====\n' "$*"; }

step "fuzz: configure and build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

shopt -s nullglob
fuzzers=(build/fuzz/bin/fuzz.*)
if [ ${#fuzzers[@]} -eq 0 ]; then
  echo "no fuzz targets were built" >&2
  exit 1
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
findings="$root/build/fuzz/findings"
rm -rf "$findings"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

failed=()
summary=()
for fuzzer in "${fuzzers[@]}"; do
  name="${fuzzer##*/fuzz.}"
  corpus="$work/$name/corpus"
  artifacts="$work/$name/artifacts"
  log="$work/$name/log"
  mkdir -p "$corpus" "$artifacts"
  if [ -d "fuzz/corpus/$name" ]; then
    cp -R "fuzz/corpus/$name/." "$corpus/"
  else
    echo "warning: no seed corpus fuzz/corpus/$name" >&2
  fi

  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$artifacts/")
  # A dictionary of the input's keywords, where the input is a text format.
  if [ -f "fuzz/$name.dict" ]; then
    options+=(-dict="fuzz/$name.dict")
  fi

  step "$name: fuzzing for $seconds s"
  status=0
  "$fuzzer" "${options[@]}" "$corpus" >"$log" 2>&1 || status=$?
  executions="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  executions="${executions:-?}"
  if [ "$status" -eq 0 ]; then
    result="clean"
    grep '^stat::' "$log" || true
  else
    result="FINDING (exit status $status)"
    failed+=("$name")
    tail -n 80 "$log"
    mkdir -p "$findings/$name"
    cp "$log" "$findings/$name/log"
    cp -R "$artifacts/." "$findings/$name/"
    for input in "$artifacts"/*; do
      echo "reproduce with: $fuzzer $findings/$name/${input##*/}"
    done
  fi
  summary+=("$(printf '%-24s %14s  %s' "$name" "$executions" "$result")")
done

step "fuzz: executions per target ($seconds s each)"
printf '%-24s %14s  %s\n' "target" "executions" "result"
printf '%s\n' "${summary[@]}"

if [ ${#failed[@]} -gt 0 ]; then
  echo "findings in: ${failed[*]} (inputs kept in $findings)" >&2
  exit 1
fi
step "fuzz: no findings"
