#include "sim/SimulatedBus.h"

#include "bus/Addressing.h"
#include "bus/IsoTp.h"

namespace obd::sim {

namespace {

constexpr std::uint8_t kTesterPadding = 0x00;

}  // namespace

SimulatedBus::SimulatedBus(const VehicleModel& vehicle, Clock clock)
    : adapter_(vehicle.adapter), clock_(std::move(clock)) {
    for (const EcuModel& ecu : vehicle.ecus) {
        ecus_.push_back(std::make_unique<SimulatedEcu>(ecu));
    }
    origin_ = clock_();
}

SimulatedBus::Clock SimulatedBus::SteadyClock() {
    return [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
}

double SimulatedBus::elapsed() const {
    return clock_() - origin_;
}

void SimulatedBus::restartClock() {
    orvane::MutexLock lock(mutex_);
    origin_ = clock_();
}

std::optional<double> SimulatedBus::readBatteryVoltage() {
    orvane::MutexLock lock(mutex_);
    return adapter_.batteryVoltage.at(elapsed());
}

std::vector<detail::EcuResponse> SimulatedBus::transact(const detail::Bytes& request,
                                                        std::uint32_t ecu) {
    std::vector<detail::EcuResponse> responses;
    const bool functional = ecu == detail::kAllEcus;
    const std::uint32_t requestId = functional ? bus::kFunctionalRequestId : bus::RequestIdFor(ecu);
    std::vector<bus::CanFrame> requestFrames;
    try {
        requestFrames = bus::Segment(requestId, request, kTesterPadding);
    } catch (const bus::IsoTpError&) {
        return responses;
    }
    // J1979 requests fit one frame; the ECUs ignore anything longer.
    if (requestFrames.size() != 1) {
        return responses;
    }
    orvane::MutexLock lock(mutex_);
    const double t = elapsed();
    for (const auto& simulated : ecus_) {
        if (!functional && simulated->requestId() != requestId) {
            continue;
        }
        bus::Reassembler inbound;
        const std::optional<bus::Bytes> received = inbound.feed(requestFrames.front());
        std::optional<Bytes> answer = simulated->answer(*received, functional, t);
        if (!answer) {
            continue;
        }
        // The ECU waits for the tester's flow control after a first frame;
        // the tester here always allows the rest at once.
        bus::Reassembler outbound;
        for (const bus::CanFrame& frame :
             bus::Segment(simulated->responseId(), *answer, simulated->padding())) {
            if (std::optional<bus::Bytes> message = outbound.feed(frame)) {
                responses.push_back({frame.id, std::move(*message)});
            }
        }
    }
    return responses;
}

}  // namespace obd::sim
