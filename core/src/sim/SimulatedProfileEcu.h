#pragma once

#include <cstdint>
#include <vector>

#include "orvane/Mutex.h"
#include "sim/VehicleModel.h"

namespace obd::sim {

// A module of the simulated vehicle that answers UDS requests sent to it by
// physical addressing: data identifiers (22, several per request unless the
// scenario says otherwise), local identifiers (21), trouble codes (19 02)
// and their clearing (14). It keeps silent on functional requests, as
// modules outside the emissions set do.
//
// Thread safety: answer() may be called from any thread; requests are
// served one at a time. Clearing changes the module's state for good.
class SimulatedProfileEcu {
public:
    explicit SimulatedProfileEcu(ProfileEcuModel model);

    std::uint32_t requestId() const { return model_.request; }
    std::uint32_t responseId() const { return model_.response; }
    std::uint8_t padding() const { return model_.padding; }
    double pendingSeconds() const { return model_.pendingSeconds; }

    // The messages the module sends, in order: response-pending answers
    // first, the final answer last.
    std::vector<Bytes> answer(const Bytes& request, double secondsSinceOpen);

private:
    std::vector<Bytes> readIdentifiers(const Bytes& request, double t) const
        ORVANE_REQUIRES(mutex_);
    std::vector<Bytes> readLocal(const Bytes& request, double t) const ORVANE_REQUIRES(mutex_);
    std::vector<Bytes> readCodes(const Bytes& request) const ORVANE_REQUIRES(mutex_);
    std::vector<Bytes> clearCodes(const Bytes& request) ORVANE_REQUIRES(mutex_);

    // Serialises requests; guards the codes and values of model_ (its
    // addresses and timing never change).
    mutable orvane::Mutex mutex_;
    ProfileEcuModel model_;
};

}  // namespace obd::sim
