#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "Session.h"
#include "obd/ParameterIdentifier.h"

namespace zelt::scan {

constexpr long long kMaxIntervalMs = 3600000;  // an hour
constexpr long long kMaxCount = 1000000;

struct WatchOptions {
    std::vector<obd::ParameterIdentifier::Id> pids;
    std::chrono::milliseconds interval{1000};
    int count = 10;
    bool json = false;
};

// Parses "0C,0x0D,5" (hexadecimal parameter numbers, with or without "0x").
// Throws UsageError for anything else.
std::vector<obd::ParameterIdentifier::Id> ParsePidList(const std::string& list);

// Reads the watched parameters `count` times, `interval` apart, always
// afresh, and writes one line per reading (one JSON object per line with
// `json`), flushed at once. Throws UsageError for a parameter the vehicle
// does not support, std::runtime_error when a reading cannot be written or
// the adapter went while the tool asked for the supported parameters. Stops
// without writing the reading during which the adapter went; the caller
// reports why.
void Watch(Session& session, const WatchOptions& options, std::ostream& out);

}  // namespace zelt::scan
