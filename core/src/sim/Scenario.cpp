#include "obd/sim/Scenario.h"

#include <string>

#include "json/BoundedFile.h"
#include "sim/ScenarioLoader.h"
#include "sim/VehicleModel.h"

namespace obd::sim {

// Compiled in from scenarios/default.json by the build.
const std::string& DefaultScenarioText();

Scenario::Scenario(std::shared_ptr<const VehicleModel> model) : model_(std::move(model)) {}

Scenario Scenario::loadFile(const std::string& path) {
    const std::string text =
        detail::ReadNamedFile<ScenarioError>(path, kMaxFileBytes, "any scenario needs");
    return Scenario(LoadScenario(text, path));
}

Scenario Scenario::parse(const std::string& text, const std::string& source) {
    return Scenario(LoadScenario(text, source));
}

Scenario Scenario::builtIn() {
    // Loaded once; every root shares the immutable model.
    static const Scenario scenario(LoadScenario(DefaultScenarioText(), "built-in default.json"));
    return scenario;
}

const std::string& Scenario::builtInText() {
    return DefaultScenarioText();
}

const std::string& Scenario::name() const {
    return model_->name;
}

const std::string& Scenario::description() const {
    return model_->description;
}

std::vector<std::uint32_t> Scenario::ecuAddresses() const {
    std::vector<std::uint32_t> addresses;
    for (const EcuModel& ecu : model_->ecus) {
        addresses.push_back(ecu.address);
    }
    return addresses;
}

}  // namespace obd::sim
