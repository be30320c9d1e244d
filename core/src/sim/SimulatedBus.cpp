#include "sim/SimulatedBus.h"

#include <thread>

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
    for (const ProfileEcuModel& ecu : vehicle.profileEcus) {
        profileEcus_.push_back(std::make_unique<SimulatedProfileEcu>(ecu));
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
    if (!functional) {
        if (auto messages = profileAnswer(request, ecu)) {
            for (Bytes& message : *messages) {
                responses.push_back({ecu, std::move(message)});
            }
            return responses;
        }
    }
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

std::optional<std::vector<Bytes>> SimulatedBus::profileAnswer(const Bytes& request,
                                                              std::uint32_t response) {
    SimulatedProfileEcu* module = nullptr;
    for (const auto& candidate : profileEcus_) {
        if (candidate->responseId() == response) {
            module = candidate.get();
        }
    }
    if (module == nullptr) {
        return std::nullopt;
    }
    std::vector<Bytes> messages;
    std::vector<bus::CanFrame> requestFrames;
    try {
        requestFrames = bus::Segment(module->requestId(), request, kTesterPadding);
    } catch (const bus::IsoTpError&) {
        return messages;
    }
    if (requestFrames.size() != 1) {
        return messages;
    }
    std::vector<Bytes> answers;
    {
        orvane::MutexLock lock(mutex_);
        answers = module->answer(request, elapsed());
    }
    for (Bytes& answer : answers) {
        if (j1979::IsResponsePending(answer)) {
            // The module works on the request before its next word.
            std::this_thread::sleep_for(std::chrono::duration<double>(module->pendingSeconds()));
        }
        bus::Reassembler outbound;
        for (const bus::CanFrame& frame :
             bus::Segment(module->responseId(), answer, module->padding())) {
            if (std::optional<bus::Bytes> message = outbound.feed(frame)) {
                messages.push_back(std::move(*message));
            }
        }
    }
    return messages;
}

std::optional<std::vector<uds::Bytes>> SimulatedBus::transactPhysical(
    const uds::Bytes& request, const uds::PhysicalAddress& address, std::string& error) {
    if (address.extended) {
        error = "the simulated bus carries 11-bit CAN identifiers";
        return std::nullopt;
    }
    std::vector<uds::Bytes> messages;
    for (detail::EcuResponse& response : transact(request, address.response)) {
        messages.push_back(std::move(response.payload));
    }
    return messages;
}

}  // namespace obd::sim
