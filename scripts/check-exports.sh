#!/usr/bin/env bash
# Checks what each shared library of zelt exports: its own public names, and
# none of its internals nor anything of another library.
#   obdcore:   what the headers under core/include/obd declare, and none of
#              the core's internals (its detail, elm327, j1979 and simulator
#              namespaces) nor the JSON parser it uses.
#   zelt:      its own classes and functions and the two observer
#              instantiations, and none of its internals (the cache slot, the
#              value formatter) nor anything of the core or of zelt_link.
#   zelt_link: zelt::link's transports, addresses and byte pump, and nothing
#              of zelt, the core or orvane.
#   zelt_app:  zelt::app's session, scan, readings, reports and units, and
#              nothing of zelt, zelt_link, the core, orvane or the JSON
#              library.
#   orvane is header only: its part of the check is that no library exports
#   any of it but zelt's two Observer instantiations (its trace logging is
#   linked privately).
# A library that exports nothing of its own was built without its export
# markers, and fails too.
# Usage: scripts/check-exports.sh LIBRARY...   (libobdcore.so, obdcore.dll,
#        libzelt.so, zelt.dll, libzelt_link.so, zelt_link.dll,
#        libzelt_app.so, zelt_app.dll)
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
# orvane's logging facility, linked privately into the libraries that log.
orvane_internals='orvane::(detail|ITraceLogger|TraceLogger|DebugLogger|LogLine|SetTraceLogger|ResetTraceLogger|StartDebugLog|StopDebugLog|GetDebugLogger)'

check() {
  local library="$1" symbols own leaked
  symbols=$(symbols_of "$library")
  case "$(basename "$library")" in
    *obdcore*)
      # The public names of the core; an obd:: symbol outside them is an
      # internal one.
      public='obd::(sim::(SimulatedQuorvix|Scenario|ScenarioError|EmulatedAdapter|EmulatedAdapterOptions)|elm327::(AdapterQuorvix|DialogueAnonymiser)|(DataBridge|DtcReader|ParameterIdentifier|NegativeResponseName|VehicleRoot|VehicleProfile|ProfileError|Pid2Uid|Uid2Pid|[A-Za-z]*ServiceBuilder|I[A-Z][A-Za-z]*|[A-Za-z]*DataModel|[A-Za-z]*DataEntry)\b)'
      leaked=$( (grep -E "nlohmann|^${prefixes}(orvane|zelt)::" <<<"$symbols" || true
                 grep -E "^${prefixes}obd::" <<<"$symbols" | grep -vE "^${prefixes}${public}" || true) )
      own=$(grep -cE "^${prefixes}obd::" <<<"$symbols" || true) ;;
    *zelt_app*)
      # The type information of another library's exception it catches
      # (zelt::link::AddressError) is emitted where it is used, with that
      # library's visibility: a copy, not an export of zelt_app's.
      leaked=$(grep -vE "^typeinfo (name )?for " <<<"$symbols" |
        grep -E "^${prefixes}(zelt::app::detail|obd::|orvane::|nlohmann::)|^${prefixes}zelt::([^a]|a[^p]|ap[^p])" || true)
      own=$(grep -cE "^${prefixes}zelt::app::" <<<"$symbols" || true) ;;
    *zelt_link*)
      leaked=$(grep -E "^${prefixes}(zelt::link::detail|obd::|orvane::)|^${prefixes}zelt::([^l]|l[^i])" <<<"$symbols" || true)
      own=$(grep -cE "^${prefixes}zelt::link::" <<<"$symbols" || true) ;;
    *zelt*)
      leaked=$( (grep -E "zelt::detail|zelt::link::|FormatSensorValue|${orvane_internals}|^${prefixes}obd::" <<<"$symbols" || true
                 grep -E "^${prefixes}orvane::" <<<"$symbols" |
                   grep -vE "^${prefixes}orvane::Observer<obd::I(Connection|Troubleshooting)ServiceObserver>" || true) )
      own=$(grep -cE "^${prefixes}(zelt|orvane)::" <<<"$symbols" || true) ;;
    *)
      echo "check-exports: $library is none of zelt's libraries" >&2
      return 1 ;;
  esac
  if [[ -n "$leaked" ]]; then
    echo "check-exports: $library exports internals:" >&2
    echo "$leaked" >&2
    return 1
  fi
  if [[ "$own" -eq 0 ]]; then
    echo "check-exports: $library exports nothing of its own" >&2
    return 1
  fi
  echo "check-exports: $library exports $own symbols of its own ($(wc -l <<<"$symbols") in all) and no internals"
}

status=0
for library in "$@"; do
  check "$library" || status=1
done
exit $status
