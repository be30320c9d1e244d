#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "bus/RequestChannel.h"
#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"
#include "sim/SimulatedEcu.h"
#include "sim/VehicleModel.h"

namespace obd::sim {

// The vehicle's CAN bus with its ECUs. A request becomes a single frame to
// the functional identifier 0x7DF or to one ECU's request identifier; each
// ECU that answers sends its answer as ISO-TP frames on its response
// identifier, padded, and the bus reassembles them per ECU as a tester does.
//
// Thread safety: every operation may be called from any thread; one request
// is on the bus at a time.
class SimulatedBus : public detail::IRequestChannel {
public:
    // Seconds since some fixed point; live values are measured from the last
    // restartClock() on this scale.
    using Clock = std::function<double()>;

    explicit SimulatedBus(const VehicleModel& vehicle, Clock clock = SteadyClock());

    std::vector<detail::EcuResponse> transact(const detail::Bytes& request,
                                              std::uint32_t ecu) override;
    std::optional<double> readBatteryVoltage() override;
    void restartClock() override;

    static Clock SteadyClock();

private:
    double elapsed() const ORVANE_REQUIRES(mutex_);

    const AdapterModel adapter_;
    const Clock clock_;
    mutable orvane::Mutex mutex_;
    std::vector<std::unique_ptr<SimulatedEcu>> ecus_;  // in address order
    double origin_ ORVANE_GUARDED_BY(mutex_) = 0;
};

}  // namespace obd::sim
