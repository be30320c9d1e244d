// Reads a vehicle profile (docs/profiles.md) and checks it whole before
// anything is sent: each fault is reported with its JSON path.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>

#include "bus/Addressing.h"
#include "bus/Hex.h"
#include "j1979/Codec.h"
#include "json/BoundedFile.h"
#include "json/TypedReads.h"
#include "obd/VehicleProfile.h"
#include "profiles/Formula.h"

namespace obd {

struct VehicleProfile::Impl {
    std::string source;
    std::vector<ProfileEcu> ecus;
    std::vector<ProfileParameter> parameters;
    std::vector<profiles::Formula> formulas;  // one per parameter
    std::map<std::string, std::string> codes;
};

namespace {

// A PID as --watch and the Python package take it: one or two hex digits,
// with or without 0x. A parameter name never looks like one, so that a name
// cannot hide a standard PID.
bool ReadsAsPidNumber(const std::string& name) {
    std::string digits = name;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
    }
    return !digits.empty() && digits.size() <= 2 &&
           std::all_of(digits.begin(), digits.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

using Json = nlohmann::json;

constexpr std::size_t kMaxEcus = 256;
constexpr std::size_t kMaxParameters = 4096;
constexpr std::size_t kMaxNameLength = 64;
constexpr std::size_t kMaxTextLength = 256;
constexpr std::uint32_t kMax11Bit = 0x7FF;
constexpr std::uint32_t kMax29Bit = 0x1FFFFFFF;

// A profile names a wrong type without what it found, and its texts are
// never empty.
class Reader : public detail::JsonTypedReader<ProfileError> {
public:
    explicit Reader(std::string source)
        : JsonTypedReader(std::move(source), detail::TypeFault::Plain) {}

    std::string text(const Json& value, const std::string& path, std::size_t maxLength) const {
        return JsonTypedReader::text(value, path, detail::TextRule{maxLength, 1});
    }

    // Hex digits, with or without 0x, of at most `digits` digits.
    std::uint32_t hex(const Json& value, const std::string& path, std::size_t digits) const {
        std::string text = this->text(value, path, digits + 2);
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            text.erase(0, 2);
        }
        if (text.empty() || text.size() > digits ||
            text.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
            fail(path, "\"" + value.get<std::string>() + "\" is not 1 to " +
                           std::to_string(digits) + " hex digits");
        }
        return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
    }
};

bool IsCode(const std::string& code) {
    return code.size() == 5 && std::string("PCBU").find(code[0]) != std::string::npos &&
           code[1] >= '0' && code[1] <= '3' &&
           code.find_first_not_of("0123456789ABCDEF", 2) == std::string::npos;
}

class Loader {
public:
    explicit Loader(const Reader& reader) : r_(reader) {}

    void profile(const Json& root, VehicleProfile::Impl& out) {
        r_.object(root, "", {"name", "description", "ecus", "parameters", "codes"});
        if (const Json* name = r_.optional(root, "name")) {
            r_.text(*name, "/name", kMaxTextLength);
        }
        if (const Json* description = r_.optional(root, "description")) {
            r_.text(*description, "/description", kMaxTextLength);
        }
        if (const Json* ecus = r_.optional(root, "ecus")) {
            list(*ecus, "/ecus", kMaxEcus);
            for (std::size_t i = 0; i < ecus->size(); ++i) {
                ecu((*ecus)[i], "/ecus/" + std::to_string(i), out);
            }
        }
        if (const Json* parameters = r_.optional(root, "parameters")) {
            list(*parameters, "/parameters", kMaxParameters);
            for (std::size_t i = 0; i < parameters->size(); ++i) {
                parameter((*parameters)[i], "/parameters/" + std::to_string(i), out);
            }
        }
        if (const Json* codes = r_.optional(root, "codes")) {
            r_.expect(*codes, Json::value_t::object, "/codes", "an object");
            for (auto it = codes->begin(); it != codes->end(); ++it) {
                const std::string path = "/codes/" + it.key();
                if (!IsCode(it.key())) {
                    r_.fail(path, "not a trouble code such as P1234");
                }
                out.codes[it.key()] = r_.text(it.value(), path, kMaxTextLength);
            }
        }
    }

private:
    void list(const Json& value, const std::string& path, std::size_t max) const {
        r_.expect(value, Json::value_t::array, path, "an array");
        if (value.size() > max) {
            r_.fail(path, "more than " + std::to_string(max) + " entries");
        }
    }

    // A CAN identifier: 3 hex digits for 11 bits, 8 for 29.
    std::pair<std::uint32_t, bool> canId(const Json& value, const std::string& path) const {
        const std::uint32_t id = r_.hex(value, path, 8);
        std::string digits = value.get<std::string>();
        if (digits.size() > 2 && digits[1] == 'x') {
            digits.erase(0, 2);
        }
        const bool extended = digits.size() > 3;
        if ((!extended && id > kMax11Bit) || id > kMax29Bit) {
            r_.fail(path, "\"" + value.get<std::string>() +
                              "\" is out of range (11-bit up to 7FF, 29-bit up to 1FFFFFFF)");
        }
        return {id, extended};
    }

    // The usual response identifier of a request identifier; nothing when
    // there is none to assume.
    static std::optional<std::uint32_t> ResponseOf(std::uint32_t request, bool extended) {
        if (!extended) {
            return request + bus::kRequestToResponse11 <= kMax11Bit
                       ? std::optional<std::uint32_t>(request + bus::kRequestToResponse11)
                       : std::nullopt;
        }
        if ((request >> 16 & 0xFF) == 0xDA) {
            // 18DA28F1 is answered on 18DAF128: target and source swap.
            return (request & 0xFFFF0000U) | (request & 0xFF) << 8 | (request >> 8 & 0xFF);
        }
        return std::nullopt;
    }

    void ecu(const Json& json, const std::string& path, VehicleProfile::Impl& out) {
        r_.object(json, path, {"name", "request", "response"});
        ProfileEcu ecu;
        ecu.name = r_.text(r_.required(json, "name", path), path + "/name", kMaxNameLength);
        const auto [request, extended] =
            canId(r_.required(json, "request", path), path + "/request");
        ecu.requestId = request;
        ecu.extended = extended;
        if (const Json* response = r_.optional(json, "response")) {
            const auto [id, responseExtended] = canId(*response, path + "/response");
            if (responseExtended != extended) {
                r_.fail(path + "/response", "request and response differ in width (11/29 bit)");
            }
            ecu.responseId = id;
        } else if (const auto id = ResponseOf(request, extended)) {
            ecu.responseId = *id;
        } else {
            r_.fail(path, "missing key \"response\" (no usual response id for this request id)");
        }
        for (const ProfileEcu& other : out.ecus) {
            if (other.name == ecu.name) {
                r_.fail(path + "/name", "the name \"" + ecu.name + "\" is used twice");
            }
            if (other.requestId == ecu.requestId) {
                r_.fail(path + "/request", "the request id is used twice");
            }
        }
        out.ecus.push_back(std::move(ecu));
    }

    // The ECU a parameter names: an ECU's name, or a request id (an ECU of
    // its own when the profile does not list it).
    std::size_t ecuOf(const Json& value, const std::string& path, VehicleProfile::Impl& out) {
        const std::string text = r_.text(value, path, kMaxNameLength);
        for (std::size_t i = 0; i < out.ecus.size(); ++i) {
            if (out.ecus[i].name == text) {
                return i;
            }
        }
        if (text.find_first_not_of("0123456789ABCDEFabcdefx") != std::string::npos) {
            r_.fail(path, "no ECU is named \"" + text + "\" and it is not a request id");
        }
        const auto [request, extended] = canId(value, path);
        for (std::size_t i = 0; i < out.ecus.size(); ++i) {
            if (out.ecus[i].requestId == request && out.ecus[i].extended == extended) {
                return i;
            }
        }
        const auto response = ResponseOf(request, extended);
        if (!response) {
            r_.fail(path, "list the ECU with its response id under /ecus");
        }
        if (out.ecus.size() >= kMaxEcus) {
            r_.fail(path, "more than " + std::to_string(kMaxEcus) + " ECUs");
        }
        out.ecus.push_back(ProfileEcu{text, request, *response, extended});
        return out.ecus.size() - 1;
    }

    void parameter(const Json& json, const std::string& path, VehicleProfile::Impl& out) {
        r_.object(
            json, path,
            {"name", "ecu", "service", "id", "formula", "unit", "minimum", "maximum", "length"});
        ProfileParameter parameter;
        parameter.pid = static_cast<ParameterIdentifier::Id>(
            kFirstProfileParameter + static_cast<int>(out.parameters.size()));
        parameter.name = r_.text(r_.required(json, "name", path), path + "/name", kMaxNameLength);
        if (parameter.name.find(',') != std::string::npos) {
            r_.fail(path + "/name",
                    "a name may not hold a comma (--watch separates names by commas)");
        }
        if (ReadsAsPidNumber(parameter.name)) {
            r_.fail(path + "/name", "the name \"" + parameter.name +
                                        "\" reads as a PID number, which it would hide; "
                                        "name the parameter otherwise");
        }
        for (const ProfileParameter& other : out.parameters) {
            if (other.name == parameter.name) {
                r_.fail(path + "/name", "the name \"" + parameter.name + "\" is used twice");
            }
        }
        parameter.ecu = ecuOf(r_.required(json, "ecu", path), path + "/ecu", out);
        const std::uint32_t service =
            r_.hex(r_.required(json, "service", path), path + "/service", 2);
        if (service != 0x22 && service != 0x21 && service != 0x01) {
            r_.fail(path + "/service", "service " + bus::HexNumber(service) +
                                           " is not read by a profile (22, 21 or 01)");
        }
        parameter.service = static_cast<std::uint8_t>(service);
        parameter.id = static_cast<std::uint16_t>(
            r_.hex(r_.required(json, "id", path), path + "/id", service == 0x22 ? 4 : 2));
        if (service == 0x01 && j1979::FindPid(static_cast<std::uint8_t>(parameter.id)) != nullptr) {
            r_.fail(path + "/id", "PID " + bus::HexNumber(parameter.id) +
                                      " is a standard PID; a profile adds PIDs the table lacks");
        }
        const std::string formulaPath = path + "/formula";
        const std::string formulaText =
            r_.text(r_.required(json, "formula", path), formulaPath, profiles::kMaxFormulaLength);
        profiles::Formula formula;
        try {
            formula = profiles::Formula::parse(formulaText);
        } catch (const profiles::FormulaError& error) {
            r_.fail(formulaPath, error.what());
        }
        parameter.formula = formulaText;
        parameter.length = formula.bytesRead();
        if (const Json* length = r_.optional(json, "length")) {
            const double bytes = r_.number(*length, path + "/length");
            if (bytes < 1 || bytes > 255 || bytes != std::floor(bytes)) {
                r_.fail(path + "/length", "expected a whole number of bytes from 1 to 255");
            }
            if (bytes < static_cast<double>(formula.bytesRead())) {
                r_.fail(path + "/length", "the formula reads more bytes than that");
            }
            parameter.length = static_cast<std::size_t>(bytes);
        }
        if (const Json* unit = r_.optional(json, "unit")) {
            if (!unit->is_string() || unit->get<std::string>().size() > kMaxNameLength) {
                r_.fail(path + "/unit", "expected a string of at most 64 characters");
            }
            parameter.unit = unit->get<std::string>();
        }
        if (const Json* minimum = r_.optional(json, "minimum")) {
            parameter.minimum = r_.number(*minimum, path + "/minimum");
        }
        if (const Json* maximum = r_.optional(json, "maximum")) {
            parameter.maximum = r_.number(*maximum, path + "/maximum");
        }
        if (parameter.minimum && parameter.maximum && *parameter.minimum > *parameter.maximum) {
            r_.fail(path + "/maximum", "the maximum is below the minimum");
        }
        out.parameters.push_back(std::move(parameter));
        out.formulas.push_back(std::move(formula));
    }

    const Reader& r_;
};

}  // namespace

VehicleProfile::VehicleProfile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
VehicleProfile::~VehicleProfile() = default;

std::shared_ptr<const VehicleProfile> VehicleProfile::parse(const std::string& text,
                                                            const std::string& source) {
    const Reader reader(source);
    const Json root = reader.parse(text);
    auto impl = std::make_unique<Impl>();
    impl->source = source;
    Loader(reader).profile(root, *impl);
    return std::shared_ptr<const VehicleProfile>(new VehicleProfile(std::move(impl)));
}

std::shared_ptr<const VehicleProfile> VehicleProfile::loadFile(const std::string& path) {
    std::string text;
    switch (detail::ReadBoundedFile(path, kMaxFileSize, text)) {
        case detail::FileRead::Read:
            break;
        case detail::FileRead::TooLarge:
            throw ProfileError(path + ": larger than 4 MiB");
        case detail::FileRead::CannotOpen:
        case detail::FileRead::CannotRead:
            throw ProfileError(path + ": cannot be read");
    }
    return parse(text, path);
}

const std::string& VehicleProfile::source() const {
    return impl_->source;
}

const std::vector<ProfileEcu>& VehicleProfile::ecus() const {
    return impl_->ecus;
}

const std::vector<ProfileParameter>& VehicleProfile::parameters() const {
    return impl_->parameters;
}

const ProfileParameter* VehicleProfile::find(ParameterIdentifier::Id pid) const {
    const auto index = static_cast<std::int64_t>(pid) - kFirstProfileParameter;
    if (index < 0 || index >= static_cast<std::int64_t>(impl_->parameters.size())) {
        return nullptr;
    }
    return &impl_->parameters[static_cast<std::size_t>(index)];
}

const ProfileParameter* VehicleProfile::find(const std::string& name) const {
    for (const ProfileParameter& parameter : impl_->parameters) {
        if (parameter.name == name) {
            return &parameter;
        }
    }
    return nullptr;
}

std::string VehicleProfile::describeCode(const std::string& code) const {
    const auto found = impl_->codes.find(code);
    return found == impl_->codes.end() ? std::string() : found->second;
}

std::optional<double> VehicleProfile::evaluate(const ProfileParameter& parameter,
                                               const std::vector<std::uint8_t>& data) const {
    const auto index =
        static_cast<std::size_t>(static_cast<int>(parameter.pid) - kFirstProfileParameter);
    if (index >= impl_->formulas.size()) {
        return std::nullopt;
    }
    return impl_->formulas[index].evaluate(data);
}

}  // namespace obd
