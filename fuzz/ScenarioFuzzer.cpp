// Fuzzes the scenario loader, obd::sim::Scenario::parse, with arbitrary text.
//
// Parsing must give a scenario or throw obd::sim::ScenarioError whose message
// starts with the source name; any other exception, a crash or a sanitizer
// report is a finding.
//
// A scenario that loads is complete, so each of its ECUs is then asked,
// through the simulated CAN bus that frames the answers as ISO-TP messages,
// for everything the scenario gives it: every service 01 parameter (at the
// start and a year later, and again after clearing codes), every freeze frame
// parameter, the trouble codes, every service 06 monitor, every routine and
// every info type. Each must be answered and fit the transport (an answer the
// bus cannot frame throws and ends the run as a crash), and what is answered
// must decode with the J1979 codec.
//
// Inputs are JSON texts; fuzz/ScenarioFuzzer.dict holds the format's keys.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bus/Hex.h"
#include "j1979/Codec.h"
#include "obd/sim/Scenario.h"
#include "sim/SimulatedBus.h"
#include "sim/SimulatedEcu.h"
#include "sim/VehicleModel.h"

namespace {

namespace j1979 = obd::j1979;
using obd::sim::Bytes;
using obd::sim::EcuModel;
using obd::sim::SimulatedBus;

constexpr char kSource[] = "fuzz.json";
constexpr double kStart = 0;
constexpr double kYearLater = 365.0 * 24 * 3600;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "FINDING: %s: %s\n", what, detail.c_str());
    std::abort();
}

void Check(bool condition, const char* what, const std::string& detail = std::string()) {
    if (!condition) {
        Fail(what, detail);
    }
}

// One ECU of the vehicle, reached over the bus at a time the run sets.
struct Target {
    SimulatedBus& bus;
    std::uint32_t address;
    double& now;

    std::optional<Bytes> answer(const Bytes& request, double t) const {
        now = t;
        const auto responses = bus.transact(request, address);
        Check(responses.size() <= 1, "more than one answer from one ECU");
        if (responses.empty()) {
            return std::nullopt;
        }
        Check(responses.front().ecu == address, "an answer from another ECU");
        return responses.front().payload;
    }
};

std::string Hex(const Bytes& bytes) {
    return obd::bus::ToHex(bytes) + ' ';
}

// The ECU's positive answer to `request`; anything else is a finding.
Bytes Positive(const Target& ecu, const Bytes& request, double t) {
    const std::optional<Bytes> answer = ecu.answer(request, t);
    Check(answer.has_value(), "no answer", "to " + Hex(request));
    Check(!answer->empty() && (*answer)[0] == request[0] + obd::sim::kPositiveResponseOffset,
          "a negative answer", Hex(*answer) + "to " + Hex(request));
    return *answer;
}

void CheckPidData(std::uint8_t pid, const Bytes& data, const Bytes& answer) {
    try {
        j1979::DecodePid(pid, data);
    } catch (const j1979::CodecError& error) {
        Fail("an answer that does not decode", Hex(answer) + ": " + error.what());
    }
}

void CheckCurrentData(const Target& ecu, const EcuModel& model, double t) {
    std::vector<std::uint8_t> pids{0x00, 0x01};
    for (const auto& entry : model.pids) {
        pids.push_back(entry.first);
    }
    for (const std::uint8_t pid : pids) {
        const Bytes answer = Positive(ecu, {0x01, pid}, t);
        Check(answer.size() >= 2 && answer[1] == pid, "an answer for another PID", Hex(answer));
        CheckPidData(pid, Bytes(answer.begin() + 2, answer.end()), answer);
    }
}

void CheckFreezeFrames(const Target& ecu, const EcuModel& model) {
    for (std::size_t frame = 0; frame < model.freezeFrames.size() && frame <= 0xFF; ++frame) {
        const auto number = static_cast<std::uint8_t>(frame);
        for (const auto& entry : model.freezeFrames[frame].pids) {
            const Bytes answer = Positive(ecu, {0x02, entry.first, number}, kStart);
            Check(answer.size() >= 3 && answer[1] == entry.first && answer[2] == number,
                  "a freeze frame answer for another PID or frame", Hex(answer));
            CheckPidData(entry.first, Bytes(answer.begin() + 3, answer.end()), answer);
        }
    }
}

void CheckTroubleCodes(const Target& ecu, std::uint8_t service,
                       const std::vector<std::uint16_t>& codes) {
    const Bytes answer = Positive(ecu, {service}, kStart);
    Check(answer.size() >= 2 && answer.size() == 2 + 2 * std::size_t{answer[1]} &&
              answer[1] == std::min<std::size_t>(codes.size(), 0xFF),
          "a trouble code answer that does not match its codes", Hex(answer));
}

void CheckTestResults(const Target& ecu, const EcuModel& model) {
    for (const auto& entry : model.testResults) {
        const Bytes answer = Positive(ecu, {0x06, entry.first}, kStart);
        Check((answer.size() - 1) % 9 == 0, "a service 06 answer of whole records", Hex(answer));
        for (std::size_t offset = 1; offset + 9 <= answer.size(); offset += 9) {
            Check(answer[offset] == entry.first, "a record of another monitor", Hex(answer));
            try {
                j1979::DecodeMonitorTestResult(&answer[offset], 9);
            } catch (const j1979::CodecError& error) {
                Fail("a test record that does not decode", Hex(answer) + ": " + error.what());
            }
        }
    }
}

void CheckRoutines(const Target& ecu, const EcuModel& model) {
    for (const auto& [tid, routine] : model.routines) {
        const std::optional<Bytes> answer = ecu.answer({0x08, tid}, kStart);
        const Bytes expected = routine.accepted
                                   ? Bytes{0x48, tid}
                                   : Bytes{obd::sim::kNegativeResponse, 0x08, routine.refusalCode};
        Check(answer.has_value() && answer->size() >= expected.size() &&
                  std::equal(expected.begin(), expected.end(), answer->begin()),
              "a routine answer that does not match the scenario",
              answer.has_value() ? Hex(*answer) : std::string("none"));
    }
}

void CheckInfo(const Target& ecu, const EcuModel& model) {
    for (const auto& entry : model.info) {
        const Bytes answer = Positive(ecu, {0x09, entry.first}, kStart);
        Check(answer.size() >= 3 && answer[1] == entry.first, "an info answer for another type",
              Hex(answer));
    }
}

void CheckEcu(SimulatedBus& bus, double& now, const EcuModel& model) {
    const Target ecu{bus, model.address, now};
    CheckCurrentData(ecu, model, kStart);
    CheckCurrentData(ecu, model, kYearLater);
    CheckFreezeFrames(ecu, model);
    CheckTroubleCodes(ecu, 0x03, model.confirmed);
    CheckTroubleCodes(ecu, 0x07, model.pending);
    CheckTroubleCodes(ecu, 0x0A, model.permanent);
    CheckTestResults(ecu, model);
    CheckRoutines(ecu, model);
    CheckInfo(ecu, model);

    // Clearing restarts the parameters the scenario names; they still answer.
    const std::optional<Bytes> cleared = ecu.answer({0x04}, kYearLater);
    Check(cleared.has_value(), "no answer to clearing codes");
    if ((*cleared)[0] == 0x44) {
        CheckCurrentData(ecu, model, kYearLater + 1);
        CheckCurrentData(ecu, model, 2 * kYearLater);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    std::optional<obd::sim::Scenario> scenario;
    try {
        scenario = obd::sim::Scenario::parse(text, kSource);
    } catch (const obd::sim::ScenarioError& error) {
        const std::string message = error.what();
        Check(message.rfind(std::string(kSource) + ": ", 0) == 0,
              "an error message that does not name the source", message);
        return 0;
    }
    // Any other exception leaves this function and ends the run as a crash.

    const std::vector<std::uint32_t> addresses = scenario->ecuAddresses();
    Check(!addresses.empty(), "a scenario without ECUs");
    for (std::size_t index = 0; index < addresses.size(); ++index) {
        Check(addresses[index] >= 0x7E8 && addresses[index] <= 0x7EF,
              "an ECU address outside 0x7E8..0x7EF", std::to_string(addresses[index]));
        Check(index == 0 || addresses[index - 1] < addresses[index],
              "ECU addresses not ascending and unique");
    }
    double now = kStart;
    SimulatedBus bus(*scenario->model(), [&now] { return now; });
    bus.restartClock();
    for (const EcuModel& ecu : scenario->model()->ecus) {
        CheckEcu(bus, now, ecu);
    }
    return 0;
}
