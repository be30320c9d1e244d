#include "obd/sim/EmulatedAdapter.h"

#include <iterator>
#include <stdexcept>
#include <string>

#include "emulator/Emulator.h"
#include "orvane/Mutex.h"
#include "sim/SimulatedBus.h"
#include "sim/VehicleModel.h"

namespace obd::sim {

namespace {

elm327::EmulatorOptions Emulated(const VehicleModel& model, const EmulatedAdapterOptions& options) {
    if (options.protocol < 0 || options.protocol > 9) {
        throw std::invalid_argument("no ELM327 protocol numbered " +
                                    std::to_string(options.protocol) + " (1 to 9)");
    }
    elm327::EmulatorOptions emulated;
    emulated.vehicleProtocol =
        options.protocol != 0 ? static_cast<DataLinkProtocol>(options.protocol) : model.protocol;
    emulated.identification = model.adapter.identification;
    emulated.description = model.adapter.description;
    // "genuine" is the scenario's own adapter, as it names itself.
    if (options.clone != "genuine" && !elm327::ApplyCloneProfile(options.clone, emulated)) {
        throw std::invalid_argument("no make of adapter called \"" + options.clone + "\"");
    }
    emulated.latency = options.latency;
    emulated.bytesPerSecond = options.bytesPerSecond;
    emulated.answerWait = options.answerWait;
    emulated.errorFrom = options.errorFrom;
    emulated.errorText = options.errorText;
    return emulated;
}

}  // namespace

struct EmulatedAdapter::Impl {
    Impl(const Scenario& scenario, const EmulatedAdapterOptions& options)
        : scenario(scenario),
          vehicle(*scenario.model()),
          options(Emulated(*scenario.model(), options)),
          emulator(std::make_unique<elm327::Emulator>(vehicle, this->options)) {}

    const Scenario scenario;  // keeps the model the bus refers to alive
    SimulatedBus vehicle;
    const elm327::EmulatorOptions options;
    orvane::Mutex mutex;
    std::unique_ptr<elm327::Emulator> emulator ORVANE_GUARDED_BY(mutex);
};

EmulatedAdapter::EmulatedAdapter(const Scenario& scenario, const EmulatedAdapterOptions& options)
    : impl_(std::make_unique<Impl>(scenario, options)) {}

EmulatedAdapter::~EmulatedAdapter() = default;

std::vector<std::string> EmulatedAdapter::cloneProfiles() {
    return {std::begin(elm327::kCloneProfiles), std::end(elm327::kCloneProfiles)};
}

bool EmulatedAdapter::hungUp() const {
    orvane::MutexLock lock(impl_->mutex);
    return impl_->emulator->hungUp();
}

std::string EmulatedAdapter::receive(std::string_view bytes) {
    orvane::MutexLock lock(impl_->mutex);
    return impl_->emulator->receive(bytes);
}

void EmulatedAdapter::injectError(std::string text) {
    orvane::MutexLock lock(impl_->mutex);
    impl_->emulator->injectError(std::move(text));
}

void EmulatedAdapter::reset() {
    orvane::MutexLock lock(impl_->mutex);
    impl_->emulator = std::make_unique<elm327::Emulator>(impl_->vehicle, impl_->options);
    impl_->vehicle.restartClock();
}

}  // namespace obd::sim
