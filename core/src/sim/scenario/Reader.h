#pragma once

// The typed reads a scenario is written in: each checks a value's JSON type
// and range and fails with the value's path.

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "bus/Hex.h"
#include "j1979/Numbers.h"
#include "json/PathReader.h"
#include "obd/sim/Scenario.h"
#include "sim/VehicleModel.h"

namespace obd::sim::scenario {

using Json = nlohmann::json;

inline const char* TypeName(const Json& value) {
    switch (value.type()) {
        case Json::value_t::null:
            return "null";
        case Json::value_t::object:
            return "an object";
        case Json::value_t::array:
            return "an array";
        case Json::value_t::string:
            return "a string";
        case Json::value_t::boolean:
            return "a boolean";
        case Json::value_t::number_integer:
        case Json::value_t::number_unsigned:
        case Json::value_t::number_float:
            return "a number";
        default:
            return "an unexpected value";
    }
}

// Walks the document and reports the first fault with its path.
class Reader : public detail::JsonPathReader<ScenarioError> {
public:
    using JsonPathReader::JsonPathReader;

    void expect(const Json& value, Json::value_t type, const std::string& path,
                const char* wanted) const {
        const bool numeric = type == Json::value_t::number_float && value.is_number();
        if (value.type() != type && !numeric) {
            fail(path, std::string("expected ") + wanted + ", found " + TypeName(value));
        }
    }

    void keys(const Json& object, const std::string& path,
              std::initializer_list<const char*> allowed) const {
        expect(object, Json::value_t::object, path, "an object");
        onlyKeys(object, path, allowed);
    }

    std::string text(const Json& value, const std::string& path, std::size_t maxLength) const {
        expect(value, Json::value_t::string, path, "a string");
        std::string result = value.get<std::string>();
        if (result.size() > maxLength) {
            fail(path, "text longer than " + std::to_string(maxLength) + " characters");
        }
        for (char c : result) {
            if (c < 0x20 || c > 0x7E) {
                fail(path, "text holds a character other than printable ASCII");
            }
        }
        return result;
    }

    std::string anyText(const Json& value, const std::string& path) const {
        expect(value, Json::value_t::string, path, "a string");
        return value.get<std::string>();
    }

    bool boolean(const Json& value, const std::string& path) const {
        expect(value, Json::value_t::boolean, path, "true or false");
        return value.get<bool>();
    }

    double number(const Json& value, const std::string& path) const {
        expect(value, Json::value_t::number_float, path, "a number");
        const double result = value.get<double>();
        if (!std::isfinite(result)) {
            fail(path, "number is not finite");
        }
        return result;
    }

    // A whole number, written as a JSON number or as a string in hex ("0x7E8")
    // or decimal.
    std::uint32_t integer(const Json& value, const std::string& path, std::uint32_t max) const {
        if (value.is_string()) {
            return integerText(value.get<std::string>(), path, max);
        }
        if (!value.is_number_integer() && !value.is_number_unsigned()) {
            fail(path, std::string("expected a whole number, found ") + TypeName(value));
        }
        if (value.is_number_integer() && value.get<std::int64_t>() < 0) {
            fail(path, "number " + value.dump() + " is negative");
        }
        const std::uint64_t result = value.get<std::uint64_t>();
        if (result > max) {
            fail(path, "number " + value.dump() + " is greater than " + std::to_string(max));
        }
        return static_cast<std::uint32_t>(result);
    }

    std::uint32_t integerText(const std::string& text, const std::string& path,
                              std::uint32_t max) const {
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const std::string_view digits = std::string_view(text).substr(hex ? 2 : 0);
        const std::optional<std::uint64_t> parsed =
            j1979::detail::ParseUnsigned(digits, hex ? 16 : 10);
        // from_chars takes a leading minus for signed types only, and spaces never.
        if (!parsed || digits.size() > 8) {
            fail(path, "\"" + text + "\" is not a number (write hex as 0x7E8)");
        }
        const std::uint64_t result = *parsed;
        if (result > max) {
            fail(path, "number " + text + " is greater than " + std::to_string(max));
        }
        return static_cast<std::uint32_t>(result);
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
