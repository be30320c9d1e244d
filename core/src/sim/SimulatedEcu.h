#pragma once

#include <cstdint>
#include <optional>
#include <set>

#include "j1979/Responses.h"
#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"
#include "sim/VehicleModel.h"

namespace obd::sim {

namespace nrc = j1979::nrc;

using j1979::kNegativeResponse;
using j1979::kPositiveResponseOffset;

// One ECU of the simulated vehicle. It takes a J1979 request as bytes
// (service id and its parameters, without transport framing) and answers the
// bytes a CAN vehicle would: service id + 0x40 and data, or 7F, service id
// and a negative response code. Answers to a functional (broadcast) request
// leave out what a physical request would get a negative answer for, since
// ECUs keep silent on broadcasts they cannot serve.
//
// Thread safety: answer() may be called from any thread; requests are
// served one at a time. Service 04 changes the ECU's state for good (the
// vehicle remembers a clearing when the connection is reopened).
class SimulatedEcu {
public:
    explicit SimulatedEcu(EcuModel model);

    std::uint32_t responseId() const { return responseId_; }
    std::uint32_t requestId() const;
    std::uint8_t padding() const { return padding_; }

    // `secondsSinceOpen` is the time base of live values. Nothing means the
    // ECU keeps silent.
    std::optional<Bytes> answer(const Bytes& request, bool functional, double secondsSinceOpen)
        ORVANE_EXCLUDES(mutex_);

private:
    using Answer = std::optional<Bytes>;

    Answer currentData(const Bytes& request, bool functional, double t) ORVANE_REQUIRES(mutex_);
    Answer freezeFrameData(const Bytes& request, bool functional) ORVANE_REQUIRES(mutex_);
    Answer troubleCodes(std::uint8_t service, const Bytes& request, bool functional,
                        const std::vector<std::uint16_t>& codes) ORVANE_REQUIRES(mutex_);
    Answer clearCodes(const Bytes& request, bool functional, double t) ORVANE_REQUIRES(mutex_);
    // The support bitmaps of `ids` that `request` (service 06, 08 or 09) asks for.
    Answer bitmaps(std::uint8_t service, const Bytes& request, const std::set<std::uint8_t>& ids,
                   bool functional) ORVANE_REQUIRES(mutex_);
    Answer testResults(const Bytes& request, bool functional) ORVANE_REQUIRES(mutex_);
    Answer testRoutine(const Bytes& request, bool functional) ORVANE_REQUIRES(mutex_);
    Answer vehicleInformation(const Bytes& request, bool functional) ORVANE_REQUIRES(mutex_);

    // The service 01 parameters the ECU answers, derived ones included.
    std::set<std::uint8_t> supportedPids() const ORVANE_REQUIRES(mutex_);
    std::optional<Bytes> pidData(std::uint8_t pid, double t) const ORVANE_REQUIRES(mutex_);
    Bytes monitorStatus(const MonitorSet& monitors, bool withMilAndCount) const
        ORVANE_REQUIRES(mutex_);

    Answer negative(std::uint8_t service, std::uint8_t code, bool functional) const
        ORVANE_REQUIRES(mutex_);

    // Constant after construction.
    const std::uint32_t responseId_;
    const std::uint8_t padding_;

    orvane::Mutex mutex_;  // serialises requests
    EcuModel model_ ORVANE_GUARDED_BY(mutex_);
    // PID -> time of the clearing that restarted it.
    std::map<std::uint8_t, double> restartedAt_ ORVANE_GUARDED_BY(mutex_);
};

// The four bytes of a support bitmap for the ids base+1 .. base+0x20 out of
// `ids`: the most significant bit of the first byte stands for base+1. The
// last bit (the next bitmap) is set when `ids` holds anything above base+0x20.
Bytes SupportBitmap(const std::set<std::uint8_t>& ids, std::uint8_t base);

// The bitmap ids (0x00, 0x20, ...) that `ids` needs to be announced, up to
// and including the last one.
std::set<std::uint8_t> BitmapIds(const std::set<std::uint8_t>& ids);

}  // namespace obd::sim
