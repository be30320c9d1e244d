#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "obd/DtcDataModel.h"
#include "obd/ParameterDataModel.h"
#include "services/VehicleConnection.h"

namespace obd::detail {

// Builds J1979 requests for the selected ECU and takes its answers apart:
// what every service needs, kept in one place.
class J1979Client {
public:
    explicit J1979Client(std::shared_ptr<VehicleConnection> connection);

    VehicleConnection& connection() const { return *connection_; }

    // The bytes after the positive response's service id when the selected
    // ECU answered positively and the answer begins with `echo` (the
    // request's bytes after the service id, as far as the answer repeats
    // them); otherwise nothing.
    std::optional<Bytes> query(const Bytes& request, std::size_t echo);

    // The ids the ECU supports for `service` (01, 02 with `frame`, 06, 08,
    // 09), read from the chain of support bitmaps; the bitmap ids
    // themselves are left out.
    std::set<std::uint8_t> supported(std::uint8_t service,
                                     std::optional<std::uint8_t> frame = std::nullopt);

    // Whether `pid` can be read: a service 01 PID the ECU announces, a
    // support bitmap it answers, or the adapter's battery voltage (0xF4).
    bool isPidSupported(int pid);

    // Service 01: the data bytes of `pid`.
    std::optional<Bytes> currentData(std::uint8_t pid);
    // Service 02: the data bytes of `pid` in `frame`.
    std::optional<Bytes> freezeFrameData(std::uint8_t pid, std::uint8_t frame);
    // Service 09: the count byte and the data after it.
    std::optional<std::pair<std::uint8_t, Bytes>> vehicleInformation(std::uint8_t type);

private:
    const std::shared_ptr<VehicleConnection> connection_;
};

// A parameter model from the data bytes of `pid`; null when the codec cannot
// decode them. With `statistics` the numeric sensors' lowest, highest and
// average texts summarise the readings of this connection; without (freeze
// frames) only the value text is set.
std::shared_ptr<ParameterDataModel> BuildParameter(std::uint8_t pid, const Bytes& data,
                                                   SensorStatistics* statistics, std::uint32_t ecu);

// A trouble code record from its two bytes.
std::shared_ptr<DtcDataModel> BuildTroubleCode(std::uint16_t raw, std::uint32_t ecu,
                                               DtcStatus status);

// Text from service 09 data: the characters up to the padding (zero bytes
// at either end are padding).
std::string InfoText(const Bytes& data);

}  // namespace obd::detail
