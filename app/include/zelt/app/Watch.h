#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "obd/ParameterIdentifier.h"
#include "obd/VehicleProfile.h"
#include "zelt/app/Export.h"
#include "zelt/app/OutputFormat.h"
#include "zelt/app/Readings.h"
#include "zelt/app/Session.h"
#include "zelt/app/Units.h"

namespace zelt::app {

constexpr long long kMaxIntervalMs = 3600000;  // an hour
constexpr long long kMaxCount = 1000000;

// What to watch and how to print it.
struct WatchOptions {
    std::vector<obd::ParameterIdentifier::Id> pids;  // the parameters, in this order
    std::chrono::milliseconds interval{1000};        // between the starts of readings
    int count = 10;                                  // 0: until interrupted (Ctrl-C)
    OutputFormat format = OutputFormat::Text;        // text lines, JSON lines or CSV
    UnitSystem units = UnitSystem::Metric;           // of the values printed
    // The ECUs to read; empty: every ECU that answered.
    std::vector<std::uint32_t> ecus;
};

// Parses "0C,0x0D,5" (hexadecimal parameter numbers, with or without "0x")
// and, with a profile, its parameter names as written there; a parameter
// given twice is kept once. Throws InputError for anything else.
ZELT_APP_API std::vector<obd::ParameterIdentifier::Id> ParsePidList(
    const std::string& list, const obd::VehicleProfile* profile = nullptr);

// Reads the watched parameters from each ECU that offers them `count`
// times, `interval` apart, always afresh, and writes each reading with its
// time (ISO 8601, UTC, with milliseconds), flushed at once: one line of
// text, one JSON object per line, or a CSV row after a header row. With
// several ECUs each value is labelled with its ECU ("[ECU 0x7E9]" in text
// and CSV, "ecu" in JSON); a sensor name two PIDs share gets its PID. A
// parameter without an answer is shown as missing, with a warning on
// `warnings`. Ctrl-C ends the watch after the reading under way; the caller
// then ends normally.
//
// Throws InputError for a parameter no watched ECU offers,
// std::runtime_error when a reading cannot be written or the adapter went
// while the tool asked for the supported parameters. Stops without writing
// the reading during which the adapter went; the caller reports why.
ZELT_APP_API void Watch(Session& session, const WatchOptions& options, std::ostream& out,
                        std::ostream& warnings);

}  // namespace zelt::app
