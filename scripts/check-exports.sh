#!/usr/bin/env bash
# Checks what a shared library of zelt exports.
#   zelt: its own classes and functions and the two observer instantiations,
#         and none of its internals (the cache slot, the value formatter, the
#         logging facility) nor anything of the core.
#   obdcore: what the headers under core/include/obd declare, and none of the
#         core's internals (its detail, elm327, j1979 and simulator
#         namespaces) nor the JSON parser it uses.
# Usage: scripts/check-exports.sh LIBRARY...   (libzelt.so, zelt.dll,
#        libobdcore.so, obdcore.dll)
set -euo pipefail

symbols_of() {
  case "$1" in
    *.dll)
      x86_64-w64-mingw32-objdump -p "$1" |
        sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^\s*\[ *[0-9]*\] //p' | c++filt ;;
    *)
      nm -DC --defined-only "$1" | cut -d' ' -f3- ;;
  esac
}

# A symbol's subject: the demangled name without "typeinfo for " and the like.
prefixes='(typeinfo for |typeinfo name for |vtable for |non-virtual thunk to |virtual thunk to |VTT for |construction vtable for )?'

check() {
  local library="$1" forbidden own
  local symbols
  symbols=$(symbols_of "$library")
  case "$(basename "$library")" in
    *obdcore*)
      # The public names of the core; an obd:: symbol outside them is an
      # internal one.
      public='obd::(sim::(SimulatedQuorvix|Scenario|ScenarioError|EmulatedAdapter|EmulatedAdapterOptions)|elm327::AdapterQuorvix|(DataBridge|DtcReader|ParameterIdentifier|VehicleProfile|ProfileError|Pid2Uid|Uid2Pid|[A-Za-z]*ServiceBuilder|I[A-Z][A-Za-z]*|[A-Za-z]*DataModel|[A-Za-z]*DataEntry)\b)'
      leaked=$( (grep -E 'nlohmann' <<<"$symbols" || true
                 grep -E "^${prefixes}obd::" <<<"$symbols" | grep -vE "^${prefixes}${public}" || true) )
      own=$(grep -cE "^${prefixes}obd::" <<<"$symbols" || true) ;;
    *)
      forbidden='zelt::detail|FormatSensorValue|orvane::(detail|ITraceLogger|TraceLogger|DebugLogger|LogLine|SetTraceLogger|ResetTraceLogger|StartDebugLog|StopDebugLog|GetDebugLogger)|^(typeinfo for |typeinfo name for |vtable for )?obd::'
      leaked=$(grep -E "$forbidden" <<<"$symbols" || true)
      own=$(grep -cE "^${prefixes}(zelt|orvane)::" <<<"$symbols" || true) ;;
  esac
  if [[ -n "$leaked" ]]; then
    echo "check-exports: $library exports internals:" >&2
    echo "$leaked" >&2
    return 1
  fi
  echo "check-exports: $library exports $own symbols of its own ($(wc -l <<<"$symbols") in all) and no internals"
}

status=0
for library in "$@"; do
  check "$library" || status=1
done
exit $status
