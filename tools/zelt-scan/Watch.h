#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "Session.h"
#include "Units.h"
#include "obd/ParameterIdentifier.h"

namespace zelt::scan {

constexpr long long kMaxIntervalMs = 3600000;  // an hour
constexpr long long kMaxCount = 1000000;

enum class WatchFormat { Text, Json, Csv };

struct WatchOptions {
    std::vector<obd::ParameterIdentifier::Id> pids;
    std::chrono::milliseconds interval{1000};
    int count = 10;  // 0: until interrupted (Ctrl-C)
    WatchFormat format = WatchFormat::Text;
    UnitSystem units = UnitSystem::Metric;
};

// Parses "0C,0x0D,5" (hexadecimal parameter numbers, with or without "0x").
// Throws UsageError for anything else.
std::vector<obd::ParameterIdentifier::Id> ParsePidList(const std::string& list);

// The sensor values of one parameter in one reading.
using Sensors = std::vector<std::shared_ptr<SensorModel>>;
// The watched parameters, each described by a record read once; its sensors
// name the columns of a reading.
using Described = std::vector<std::shared_ptr<ParameterModel>>;

// Describes `pids`. Throws UsageError for a parameter the vehicle does not
// support, std::runtime_error when the adapter went while it was asked.
Described Describe(Session& session, const std::vector<obd::ParameterIdentifier::Id>& pids);

// Now in ISO 8601, UTC, with milliseconds: 2024-03-05T09:07:02.125Z.
std::string IsoTime();

// One reading (`values[i]` of `described[i]`) as a schema 1 reading object;
// a parameter without an answer is marked missing.
nlohmann::ordered_json ReadingJson(int reading, const std::string& time, const Described& described,
                                   const std::vector<Sensors>& values, UnitSystem units);

// The CSV header row (a column per sensor, its unit in the header) and one
// row per reading, each ending in a line break.
std::string CsvHeader(const Described& described, UnitSystem units);
std::string CsvRow(int reading, const std::string& time, const Described& described,
                   const std::vector<Sensors>& values, UnitSystem units);

// Reads the watched parameters `count` times, `interval` apart, always
// afresh, and writes each reading with its time (ISO 8601, UTC, with
// milliseconds), flushed at once: one line of text, one JSON object per
// line, or a CSV row after a header row. A parameter without an answer is
// shown as missing, with a warning on `warnings`. Ctrl-C ends the watch
// after the reading under way; the caller then ends normally.
//
// Throws UsageError for a parameter the vehicle does not support,
// std::runtime_error when a reading cannot be written or the adapter went
// while the tool asked for the supported parameters. Stops without writing
// the reading during which the adapter went; the caller reports why.
void Watch(Session& session, const WatchOptions& options, std::ostream& out,
           std::ostream& warnings);

}  // namespace zelt::scan
