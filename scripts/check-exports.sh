#!/usr/bin/env bash
# Checks what the zelt library exports: its own classes and functions and the
# two observer instantiations, and none of its internals (the cache slot, the
# value formatter, the logging facility) nor anything of the core.
# Usage: scripts/check-exports.sh path/to/libzelt.so | path/to/zelt.dll
set -euo pipefail
library="$1"

case "$library" in
  *.dll)
    symbols=$(x86_64-w64-mingw32-objdump -p "$library" |
              sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
              sed -n 's/^\s*\[ *[0-9]*\] //p' | c++filt) ;;
  *)
    symbols=$(nm -DC --defined-only "$library" | cut -d' ' -f3-) ;;
esac

forbidden='zelt::detail|FormatSensorValue|orvane::(detail|ITraceLogger|TraceLogger|DebugLogger|LogLine|SetTraceLogger|ResetTraceLogger|StartDebugLog|StopDebugLog|GetDebugLogger)|^(typeinfo for |typeinfo name for |vtable for )?obd::'
if leaked=$(grep -E "$forbidden" <<<"$symbols"); then
  echo "check-exports: $library exports internals:" >&2
  echo "$leaked" >&2
  exit 1
fi

own=$(grep -cE '^((typeinfo for |typeinfo name for |vtable for |non-virtual thunk to )?(zelt|orvane)::)' <<<"$symbols" || true)
echo "check-exports: $library exports $own zelt/orvane symbols ($(wc -l <<<"$symbols") in all) and no internals"
