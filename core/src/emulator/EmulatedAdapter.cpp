#include "obd/sim/EmulatedAdapter.h"

#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

#include "emulator/Emulator.h"
#include "emulator/ReplayedVehicle.h"
#include "json/BoundedFile.h"
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

// A recorded car keeps its own protocol and the adapter's name; only the
// link's pace and the make of adapter are the options'.
elm327::EmulatorOptions Replayed(const elm327::ReplayedDialogue& dialogue,
                                 const EmulatedAdapterOptions& options) {
    elm327::EmulatorOptions emulated;
    if (!dialogue.identification.empty()) {
        emulated.identification = dialogue.identification;
    }
    if (options.clone != "genuine" && !elm327::ApplyCloneProfile(options.clone, emulated)) {
        throw std::invalid_argument("no make of adapter called \"" + options.clone + "\"");
    }
    emulated.vehicleProtocol = dialogue.protocol;
    if (!dialogue.failure.empty()) {
        emulated.searchFailure = dialogue.failure;
    }
    emulated.latency = options.latency;
    emulated.bytesPerSecond = options.bytesPerSecond;
    return emulated;
}

}  // namespace

struct EmulatedAdapter::Impl {
    Impl(const Scenario& scenario, const EmulatedAdapterOptions& options)
        : scenario(scenario),
          vehicle(std::make_unique<SimulatedBus>(*scenario.model())),
          options(Emulated(*scenario.model(), options)),
          emulator(std::make_unique<elm327::Emulator>(*vehicle, this->options)) {}
    Impl(elm327::ReplayedDialogue dialogue, const EmulatedAdapterOptions& options)
        : vehicle(std::make_unique<elm327::ReplayedVehicle>(std::move(dialogue))),
          options(Replayed(static_cast<elm327::ReplayedVehicle&>(*vehicle).dialogue(), options)),
          emulator(std::make_unique<elm327::Emulator>(*vehicle, this->options)),
          inferred(static_cast<elm327::ReplayedVehicle&>(*vehicle).dialogue().inferred) {}

    const std::optional<Scenario> scenario;  // keeps the model the bus refers to alive
    const std::unique_ptr<detail::IRequestChannel> vehicle;
    const elm327::EmulatorOptions options;
    orvane::Mutex mutex;
    std::unique_ptr<elm327::Emulator> emulator ORVANE_GUARDED_BY(mutex);
    const std::vector<std::string> inferred;
};

EmulatedAdapter::EmulatedAdapter(const Scenario& scenario, const EmulatedAdapterOptions& options)
    : impl_(std::make_unique<Impl>(scenario, options)) {}

EmulatedAdapter::EmulatedAdapter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<EmulatedAdapter> EmulatedAdapter::replay(std::string_view transcript,
                                                         const EmulatedAdapterOptions& options) {
    if (transcript.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        throw std::invalid_argument("neither a transcript nor a zelt-scan recording (empty)");
    }
    return std::unique_ptr<EmulatedAdapter>(
        new EmulatedAdapter(std::make_unique<Impl>(elm327::ReadTranscript(transcript), options)));
}

std::unique_ptr<EmulatedAdapter> EmulatedAdapter::replayFile(
    const std::string& path, const EmulatedAdapterOptions& options) {
    const std::string text = detail::ReadNamedFile<std::invalid_argument>(
        path, kMaxReplayFileBytes, "a dialogue this emulator replays");
    try {
        return replay(text, options);
    } catch (const std::invalid_argument& error) {
        throw std::invalid_argument(path + ": " + error.what());
    }
}

EmulatedAdapter::~EmulatedAdapter() = default;

std::vector<std::string> EmulatedAdapter::cloneProfiles() {
    return {std::begin(elm327::kCloneProfiles), std::end(elm327::kCloneProfiles)};
}

bool EmulatedAdapter::hungUp() const {
    orvane::MutexLock lock(impl_->mutex);
    return impl_->emulator->hungUp();
}

std::vector<std::string> EmulatedAdapter::inferred() const {
    return impl_->inferred;
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
    impl_->emulator = std::make_unique<elm327::Emulator>(*impl_->vehicle, impl_->options);
    impl_->vehicle->restartClock();
}

}  // namespace obd::sim
