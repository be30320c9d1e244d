#include "obd/sim/SimulatedQuorvix.h"

#include "root/Root.h"
#include "sim/SimulatedBus.h"
#include "sim/VehicleModel.h"

namespace obd::sim {

namespace {

class SimulatedAdapter : public IAdapter {
public:
    SimulatedAdapter(AdapterModel model, DataLinkProtocol protocol)
        : model_(std::move(model)), protocol_(protocol) {}

    DataLinkProtocol getProtocol() const override { return protocol_; }
    std::string getName() const override { return model_.name; }
    std::string getDescription() const override { return model_.description; }
    std::string getIdentification() const override { return model_.identification; }

private:
    const AdapterModel model_;
    const DataLinkProtocol protocol_;
};

std::unique_ptr<detail::Root> MakeRoot(const Scenario& scenario) {
    const VehicleModel& model = *scenario.model();
    return std::make_unique<detail::Root>(
        std::make_shared<SimulatedBus>(model),
        std::make_shared<SimulatedAdapter>(model.adapter, model.protocol), model.protocol);
}

}  // namespace

std::shared_ptr<SimulatedQuorvix> SimulatedQuorvix::create(const Scenario& scenario) {
    return std::shared_ptr<SimulatedQuorvix>(new SimulatedQuorvix(scenario));
}

SimulatedQuorvix::SimulatedQuorvix(const Scenario& scenario)
    : VehicleRoot(MakeRoot(scenario)), scenario_(scenario) {}

SimulatedQuorvix::~SimulatedQuorvix() = default;

bool SimulatedQuorvix::openConnection() {
    return root().manager()->openConnection(nullptr, DataLinkProtocol::Automatic, true);
}

const Scenario& SimulatedQuorvix::getScenario() const {
    return scenario_;
}

}  // namespace obd::sim
