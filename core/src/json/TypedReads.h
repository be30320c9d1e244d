#pragma once

// The typed reads the core's JSON files are written in: each checks a
// value's JSON type and range and fails with the value's path. What differs
// between the files (how a wrong type is named, what a text may hold) is a
// parameter of the read, so that each file keeps its own rules.

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "json/PathReader.h"

namespace obd::detail {

// How a value of the wrong type is reported: "expected a string, found a
// number", or "expected a string" alone.
enum class TypeFault { NameFound, Plain };

// What a text may hold.
struct TextRule {
    std::size_t maxLength = std::numeric_limits<std::size_t>::max();
    std::size_t minLength = 0;
    bool printableAscii = false;  // 0x20 to 0x7E: what goes on the bus as text
};

// The whole of `text` as an unsigned number in `base` (10 or 16, digits
// only: no sign, prefix or spaces); nothing when it is not one or does not
// fit 64 bits.
inline std::optional<std::uint64_t> ParseUnsigned(std::string_view text, int base) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value, base);
    if (text.empty() || result.ec != std::errc() || result.ptr != end) {
        return std::nullopt;
    }
    return value;
}

template <typename Error>
class JsonTypedReader : public JsonPathReader<Error> {
public:
    using Json = nlohmann::json;

    JsonTypedReader(std::string source, TypeFault typeFault)
        : JsonPathReader<Error>(std::move(source)), typeFault_(typeFault) {}

    static const char* TypeName(const Json& value) {
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

    // Fails unless `value` is of `type` (any number for number_float);
    // `wanted` says what was expected.
    void expect(const Json& value, Json::value_t type, const std::string& path,
                const char* wanted) const {
        const bool numeric = type == Json::value_t::number_float && value.is_number();
        if (value.type() != type && !numeric) {
            std::string what = std::string("expected ") + wanted;
            if (typeFault_ == TypeFault::NameFound) {
                what += ", found ";
                what += TypeName(value);
            }
            this->fail(path, what);
        }
    }

    // An object that holds only the `allowed` keys.
    void object(const Json& value, const std::string& path,
                std::initializer_list<const char*> allowed) const {
        expect(value, Json::value_t::object, path, "an object");
        this->onlyKeys(value, path, allowed);
    }

    std::string text(const Json& value, const std::string& path, const TextRule& rule = {}) const {
        expect(value, Json::value_t::string, path, "a string");
        std::string result = value.get<std::string>();
        if (result.size() < rule.minLength || result.size() > rule.maxLength) {
            this->fail(path,
                       rule.minLength == 0
                           ? "text longer than " + std::to_string(rule.maxLength) + " characters"
                           : "expected " + std::to_string(rule.minLength) + " to " +
                                 std::to_string(rule.maxLength) + " characters");
        }
        for (char c : result) {
            if (rule.printableAscii && (c < 0x20 || c > 0x7E)) {
                this->fail(path, "text holds a character other than printable ASCII");
            }
        }
        return result;
    }

    bool boolean(const Json& value, const std::string& path) const {
        expect(value, Json::value_t::boolean, path, "true or false");
        return value.get<bool>();
    }

    double number(const Json& value, const std::string& path) const {
        expect(value, Json::value_t::number_float, path, "a number");
        const double result = value.get<double>();
        if (!std::isfinite(result)) {
            this->fail(path, "number is not finite");
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
            this->fail(path, std::string("expected a whole number, found ") + TypeName(value));
        }
        if (value.is_number_integer() && value.get<std::int64_t>() < 0) {
            this->fail(path, "number " + value.dump() + " is negative");
        }
        const std::uint64_t result = value.get<std::uint64_t>();
        if (result > max) {
            this->fail(path, "number " + value.dump() + " is greater than " + std::to_string(max));
        }
        return static_cast<std::uint32_t>(result);
    }

    std::uint32_t integerText(const std::string& text, const std::string& path,
                              std::uint32_t max) const {
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const std::string_view digits = std::string_view(text).substr(hex ? 2 : 0);
        const std::optional<std::uint64_t> parsed = ParseUnsigned(digits, hex ? 16 : 10);
        // from_chars takes a leading minus for signed types only, and spaces never.
        if (!parsed || digits.size() > 8) {
            this->fail(path, "\"" + text + "\" is not a number (write hex as 0x7E8)");
        }
        const std::uint64_t result = *parsed;
        if (result > max) {
            this->fail(path, "number " + text + " is greater than " + std::to_string(max));
        }
        return static_cast<std::uint32_t>(result);
    }

private:
    TypeFault typeFault_;
};

}  // namespace obd::detail
