#pragma once

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "Session.h"
#include "obd/ParameterIdentifier.h"

namespace zelt::scan {

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
// `json`). Throws UsageError for a parameter the vehicle does not support.
void Watch(Session& session, const WatchOptions& options, std::ostream& out);

}  // namespace zelt::scan
