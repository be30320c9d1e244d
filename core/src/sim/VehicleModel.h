#pragma once

// The simulated vehicle as a scenario describes it, validated and encoded:
// everything an ECU sends is kept as the bytes it will send, except live
// values, which are kept as physical values over time and encoded when read.
// Immutable once loaded; ECUs copy what they may change (service 04).

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "j1979/ReadinessMonitors.h"
#include "obd/DataLinkProtocol.h"

namespace obd::sim {

using Bytes = std::vector<std::uint8_t>;

// A physical value that may change with the time since the connection opened.
struct LiveValue {
    enum class Kind { Constant, Points, Ramp };

    Kind kind = Kind::Constant;
    double constant = 0;
    // Points: (seconds, value) pairs with increasing times, linearly
    // interpolated; held at the last value, or repeated with the last time
    // as period when `repeat` is set.
    std::vector<std::pair<double, double>> points;
    bool repeat = false;
    // Ramp: start + rate * seconds (counters, run times, distances).
    double start = 0;
    double rate = 0;

    double at(double seconds) const;
};

// The data of one service 01 parameter: either fixed data bytes (bit fields,
// enumerations) or one live value per sensor of the parameter.
struct PidSource {
    bool raw = false;
    Bytes data;                     // when raw
    std::vector<LiveValue> values;  // otherwise, in the parameter's sensor order
};

using Ignition = j1979::IgnitionType;

enum class MonitorState : std::uint8_t { Unsupported, Complete, Incomplete };

// Readiness as PID 01 and PID 41 carry it: the three continuous monitors
// (misfire, fuel system, components; byte B bits 0-2) and the eight
// non-continuous ones (bytes C and D, by bit).
struct MonitorSet {
    std::array<MonitorState, 3> continuous{};
    std::array<MonitorState, 8> nonContinuous{};
};

struct FreezeFrameModel {
    std::uint16_t code = 0;              // the code that caused the frame
    std::map<std::uint8_t, Bytes> pids;  // PID -> data bytes as stored
};

struct RoutineModel {
    bool accepted = true;
    std::uint8_t refusalCode = 0x22;  // negative response code when refused
    Bytes data;                       // data bytes of the positive answer
};

// What service 04 does to the ECU.
struct ClearModel {
    bool accepted = true;
    std::uint8_t refusalCode = 0x22;
    std::map<std::uint8_t, PidSource> pids;  // parameters restarted, measured from the clearing
    bool resetReadiness = true;              // supported monitors become incomplete
    bool clearTestResults = true;            // service 06 results are dropped
};

// A service 09 item: the count byte that leads the answer and the data after it.
struct InfoItem {
    std::uint8_t count = 1;
    Bytes data;
};

struct EcuModel {
    std::uint32_t address = 0;  // the ECU's response identifier, e.g. 0x7E8
    std::uint8_t padding = 0x55;
    std::map<std::uint8_t, PidSource> pids;  // without the derived PIDs
    bool mil = false;
    std::vector<std::uint16_t> confirmed;
    std::vector<std::uint16_t> pending;
    std::vector<std::uint16_t> permanent;
    Ignition ignition = Ignition::Spark;
    MonitorSet sinceReset;
    bool hasThisCycle = false;
    MonitorSet thisCycle;
    std::vector<FreezeFrameModel> freezeFrames;
    std::map<std::uint8_t, std::vector<Bytes>> testResults;  // MID -> 9-byte records
    std::map<std::uint8_t, RoutineModel> routines;           // TID -> behaviour
    std::map<std::uint8_t, InfoItem> info;                   // info type -> item
    ClearModel clear;
};

// A data identifier (service 22) or local identifier (service 21) of a
// profile ECU: fixed bytes, or a live raw number sent big-endian in `size`
// bytes (two's complement when negative); or a refusal.
struct IdentifierModel {
    Bytes data;
    bool live = false;
    LiveValue value;
    std::uint8_t size = 1;
    std::uint8_t refusal = 0;  // a negative response code; 0: answered
    std::uint8_t pending = 0;  // response-pending answers before the final one
};

// An identifier's `pending` for a module that answers "response pending"
// and never the final answer.
constexpr std::uint8_t kPendingForever = 0xFF;

// A trouble code as UDS service 19 reports it.
struct ModuleCodeModel {
    std::uint32_t raw = 0;  // two J2012 code bytes and the failure type byte
    std::uint8_t status = 0;
};

// A module that speaks UDS to physical requests only (ABS, airbag, body...),
// as a vehicle profile describes it.
struct ProfileEcuModel {
    std::string name;
    std::uint32_t request = 0;  // 11-bit CAN identifiers
    std::uint32_t response = 0;
    std::uint8_t padding = 0x55;
    std::map<std::uint16_t, IdentifierModel> identifiers;
    std::map<std::uint8_t, IdentifierModel> localIdentifiers;
    bool sharedRequests = true;  // several identifiers in one service 22 request
    std::vector<ModuleCodeModel> codes;
    bool clearAccepted = true;
    std::uint8_t clearRefusal = 0x22;
    double pendingSeconds = 0.05;  // between response-pending answers
};

struct AdapterModel {
    std::string name;
    std::string description;
    std::string identification;
    LiveValue batteryVoltage;
};

struct VehicleModel {
    std::string source;  // the file (or "built-in") the scenario came from
    std::string name;
    std::string description;
    DataLinkProtocol protocol = DataLinkProtocol::Iso15765Can11Bit500k;
    AdapterModel adapter;
    std::vector<EcuModel> ecus;  // in address order
    std::vector<ProfileEcuModel> profileEcus;
};

}  // namespace obd::sim
