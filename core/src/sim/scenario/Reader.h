#pragma once

// The reads a scenario is written in: the shared typed reads with a
// scenario's rules, and the hex byte strings that go on the bus.

#include <cstddef>
#include <string>
#include <utility>

#include "bus/Hex.h"
#include "json/TypedReads.h"
#include "obd/sim/Scenario.h"
#include "sim/VehicleModel.h"

namespace obd::sim::scenario {

using Json = nlohmann::json;

class Reader : public detail::JsonTypedReader<ScenarioError> {
public:
    explicit Reader(std::string source)
        : JsonTypedReader(std::move(source), detail::TypeFault::NameFound) {}

    // Any text: names and descriptions a report shows.
    std::string anyText(const Json& value, const std::string& path) const {
        return JsonTypedReader::text(value, path);
    }

    // Text that goes on the bus: printable ASCII, at most `maxLength`.
    std::string text(const Json& value, const std::string& path, std::size_t maxLength) const {
        return JsonTypedReader::text(value, path, detail::TextRule{maxLength, 0, true});
    }

    Bytes hex(const Json& value, const std::string& path) const {
        expect(value, Json::value_t::string, path, "a hex string");
        const std::string text = value.get<std::string>();
        if (auto bytes = bus::ParseHex(text)) {
            return *bytes;
        }
        const auto bad = text.find_first_not_of("0123456789ABCDEFabcdef \t");
        if (bad != std::string::npos) {
            fail(path, "bad hex \"" + text + "\": '" + std::string(1, text[bad]) +
                           "' is not a hex digit");
        }
        fail(path, "bad hex \"" + text + "\": odd number of digits");
    }
};

}  // namespace obd::sim::scenario
