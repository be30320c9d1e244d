// Fuzzes the vehicle profile loader, obd::VehicleProfile::parse, and the
// formula evaluator with arbitrary text.
//
// Parsing must give a profile or throw obd::ProfileError whose message
// starts with the source name; any other exception, a crash or a sanitizer
// report is a finding. Every formula of a profile that loads is then
// evaluated over answers of every length up to one past what it reads, with
// bytes taken from the input, and must give a finite value or none; a
// formula is evaluated the same way on its own when the input does not
// load as a profile, so the evaluator sees arbitrary expressions too.
//
// Inputs are JSON texts or formulas; fuzz/ProfileFuzzer.dict holds the
// format's keys and the formulas' operators.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "obd/VehicleProfile.h"
#include "profiles/Formula.h"

namespace {

constexpr char kSource[] = "fuzz.json";

using zelt::fuzz::Check;

// Answers of every length up to `bytes` + 1, filled from `seed`.
std::vector<std::vector<std::uint8_t>> Answers(std::size_t bytes, const std::string& seed) {
    std::vector<std::vector<std::uint8_t>> answers;
    for (std::size_t length = 0; length <= bytes + 1; ++length) {
        std::vector<std::uint8_t> data;
        for (std::size_t i = 0; i < length; ++i) {
            data.push_back(seed.empty() ? static_cast<std::uint8_t>(i * 37)
                                        : static_cast<std::uint8_t>(seed[i % seed.size()]));
        }
        answers.push_back(std::move(data));
    }
    return answers;
}

void CheckValue(const std::optional<double>& value, const std::string& formula) {
    Check(!value || std::isfinite(*value), "a value that is not finite", formula);
}

void EvaluateFormula(const std::string& text) {
    try {
        const auto formula = obd::profiles::Formula::parse(text);
        Check(formula.bytesRead() <= 26, "a formula reading more than A to Z", text);
        for (const auto& data : Answers(formula.bytesRead(), text)) {
            const auto value = formula.evaluate(data);
            CheckValue(value, text);
            Check(data.size() >= formula.bytesRead() || !value, "a value from too few bytes", text);
        }
    } catch (const obd::profiles::FormulaError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    std::shared_ptr<const obd::VehicleProfile> profile;
    try {
        profile = obd::VehicleProfile::parse(text, kSource);
    } catch (const obd::ProfileError& error) {
        const std::string message = error.what();
        Check(message.rfind(std::string(kSource) + ": ", 0) == 0,
              "an error message that does not name the source", message);
        EvaluateFormula(text);
        return 0;
    }
    for (const auto& parameter : profile->parameters()) {
        Check(parameter.ecu < profile->ecus().size(), "a parameter of an unknown ECU",
              parameter.name);
        Check(profile->find(parameter.pid) == &parameter, "a parameter its id does not find",
              parameter.name);
        for (const auto& data : Answers(parameter.length, text)) {
            CheckValue(profile->evaluate(parameter, data), parameter.formula);
        }
    }
    return 0;
}
