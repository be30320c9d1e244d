#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "bus/PhysicalChannel.h"
#include "bus/RequestChannel.h"
#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"
#include "sim/SimulatedEcu.h"
#include "sim/SimulatedProfileEcu.h"
#include "sim/VehicleModel.h"

namespace obd::sim {

// The vehicle's CAN bus with its ECUs. A request becomes a single frame to
// the functional identifier 0x7DF or to one ECU's request identifier; each
// ECU that answers sends its answer as ISO-TP frames on its response
// identifier, padded, and the bus reassembles them per ECU as a tester does.
//
// Thread safety: every operation may be called from any thread; one request
// is on the bus at a time.
class SimulatedBus : public detail::IRequestChannel, public uds::IPhysicalChannel {
public:
    // Seconds since some fixed point; live values are measured from the last
    // restartClock() on this scale.
    using Clock = std::function<double()>;

    explicit SimulatedBus(const VehicleModel& vehicle, Clock clock = SteadyClock());

    std::vector<detail::EcuResponse> transact(const detail::Bytes& request,
                                              std::uint32_t ecu) override;
    std::optional<double> readBatteryVoltage() override;
    void restartClock() override;

    // Requests to one module by its CAN identifiers: the profile ECUs and
    // the OBD ECUs alike. The response-pending answers take the scenario's
    // time each, waited out here as the module would.
    std::optional<std::vector<uds::Bytes>> transactPhysical(const uds::Bytes& request,
                                                            const uds::PhysicalAddress& address,
                                                            std::string& error) override;
    std::size_t maxRequestSize() const override { return kMaxSingleFrameRequest; }
    static constexpr std::size_t kMaxSingleFrameRequest = 7;

    static Clock SteadyClock();

private:
    double elapsed() const ORVANE_REQUIRES(mutex_);
    // The messages of the profile ECU answering on `response`, framed and
    // reassembled; nothing when no profile ECU answers there.
    std::optional<std::vector<Bytes>> profileAnswer(const Bytes& request, std::uint32_t response);

    const AdapterModel adapter_;
    const Clock clock_;
    mutable orvane::Mutex mutex_;
    std::vector<std::unique_ptr<SimulatedEcu>> ecus_;  // in address order
    std::vector<std::unique_ptr<SimulatedProfileEcu>> profileEcus_;
    double origin_ ORVANE_GUARDED_BY(mutex_) = 0;
};

}  // namespace obd::sim
