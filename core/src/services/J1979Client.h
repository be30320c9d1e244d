#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "obd/DtcDataModel.h"
#include "obd/ParameterDataModel.h"
#include "services/VehicleConnection.h"

namespace obd::detail {

// Builds J1979 requests for one ECU and takes its answers apart: what every
// service needs, kept in one place.
//
// Every request goes to the ECU the caller names. An operation that sends
// several requests takes the selected ECU once, at its start (selectedEcu()),
// and passes it to each: were it read per request, selecting another ECU
// from another thread midway would mix two ECUs' answers in one result.
class J1979Client {
public:
    explicit J1979Client(std::shared_ptr<VehicleConnection> connection);

    VehicleConnection& connection() const { return *connection_; }
    // The ECU an operation starting now talks to; 0 when closed.
    std::uint32_t selectedEcu() const { return connection_->selectedEcu(); }

    // The bytes after the positive response's service id when `ecu`
    // answered positively and the answer begins with `echo` (the request's
    // bytes after the service id, as far as the answer repeats them);
    // otherwise nothing.
    std::optional<Bytes> query(std::uint32_t ecu, const Bytes& request, std::size_t echo);

    // The ids `ecu` supports for `service` (01, 02 with `frame`, 06, 08,
    // 09), read from the chain of support bitmaps once per connection and
    // ECU (once the first bitmap answered, or went unanswered without the
    // request failing) and then answered from the connection's support
    // cache; the bitmap ids themselves are left out.
    std::set<std::uint8_t> supported(std::uint32_t ecu, std::uint8_t service,
                                     std::optional<std::uint8_t> frame = std::nullopt);

    // Whether `pid` can be read: a service 01 PID or support bitmap the ECU
    // announces, or the adapter's battery voltage (0xF4).
    bool isPidSupported(std::uint32_t ecu, int pid);

    // The reads below never ask for an id that the ECU's support bitmaps
    // leave out: they answer nothing for it without a request.

    // Service 01: the data bytes of `pid`.
    std::optional<Bytes> currentData(std::uint32_t ecu, std::uint8_t pid);
    // Service 01: the data bytes of each of `pids` the ECU answered; the
    // others are missing. Where the connection allows it (CAN), up to
    // kMaxPidsPerRequest PIDs of known length travel in one request; the
    // result is the same as that of one request per PID. A vehicle that
    // refuses such a request is asked one PID at a time from then on, for
    // the rest of the connection. Within a snapshot of a vehicle with several
    // ECUs the request goes to all of them: each one's answer is kept in the
    // snapshot, so that reading the others' PIDs next asks nothing more.
    std::map<std::uint8_t, Bytes> currentData(std::uint32_t ecu,
                                              const std::vector<std::uint8_t>& pids);
    // Service 02: the data bytes of `pid` in `frame`. Within a snapshot, the
    // frame's next PIDs are asked for with it, so that reading a whole frame
    // costs a third of the requests.
    std::optional<Bytes> freezeFrameData(std::uint32_t ecu, std::uint8_t pid, std::uint8_t frame);
    // Service 09: the count byte and the data after it.
    std::optional<std::pair<std::uint8_t, Bytes>> vehicleInformation(std::uint32_t ecu,
                                                                     std::uint8_t type);
    // Service 06: the test records of `mid`, each beginning with the MID.
    std::optional<Bytes> testResults(std::uint32_t ecu, std::uint8_t mid);

private:
    // Every id the answered bitmaps announce, with the bitmap ids that
    // answered (0x00 among them once the chain could be read at all).
    std::set<std::uint8_t> announced(std::uint32_t ecu, std::uint8_t service,
                                     std::optional<std::uint8_t> frame);
    std::set<std::uint8_t> readBitmaps(std::uint32_t ecu, std::uint8_t service,
                                       std::optional<std::uint8_t> frame, std::uint64_t generation);
    // Whether the ECU's bitmaps leave `id` of `service` out. Bitmap ids are
    // never left out (asking for them is how support is learnt), and while
    // no bitmap of the service answered nothing is known to be left out.
    bool excluded(std::uint32_t ecu, std::uint8_t service, std::uint8_t id);
    // Within a snapshot and where the connection allows several PIDs per
    // request: asks for `pid` of `frame` with up to two more of the frame's
    // PIDs that are not known yet, and keeps their answers in the snapshot.
    void readFreezeFrameAhead(std::uint32_t ecu, std::uint8_t pid, std::uint8_t frame);
    // Service 01 `pids` asked of every ECU at once, each answer kept in the
    // snapshot for its ECU; the answer of `ecu`, nothing when it did not
    // answer or its answer does not split cleanly.
    std::optional<std::map<std::uint8_t, Bytes>> currentDataOfAll(
        std::uint32_t ecu, const std::vector<std::uint8_t>& pids);
    // The frames every ECU's answer to service 01 `pids` takes in all, from
    // the support bitmaps; 0 while some ECU's bitmaps are not known.
    std::size_t answerFrames(const std::vector<std::uint8_t>& pids) const;
    // `pids` (distinct, of known length: service 01 PIDs, or support
    // bitmaps of services 06, 08 and 09) in one request of `service`;
    // nothing when the answer is missing, a refusal or does not split
    // cleanly, and the refusal is then remembered for the connection.
    std::optional<std::map<std::uint8_t, Bytes>> dataTogether(std::uint32_t ecu,
                                                              std::uint8_t service,
                                                              const std::vector<std::uint8_t>& pids,
                                                              std::uint64_t generation);

    const std::shared_ptr<VehicleConnection> connection_;
};

// The most PIDs one service 01 request may carry on CAN, and the most PID
// and frame pairs of one service 02 request.
constexpr std::size_t kMaxPidsPerRequest = 6;
constexpr std::size_t kMaxFreezeFramePidsPerRequest = 3;

// Takes apart the data of a multi-PID service 01 answer (after the 41):
// PID byte and its data bytes, repeated. Each PID must be one of
// `requested`, appear once and have a known length. Nothing when the answer
// does not split cleanly into such records: guessing where one PID's bytes
// end would hand another PID's bytes to it.
std::optional<std::map<std::uint8_t, Bytes>> SplitCurrentData(
    const Bytes& data, const std::vector<std::uint8_t>& requested);

// The same for a multi-PID service 02 answer (after the 42): PID, `frame`
// and the PID's data bytes, repeated.
std::optional<std::map<std::uint8_t, Bytes>> SplitFreezeFrameData(
    const Bytes& data, const std::vector<std::uint8_t>& requested, std::uint8_t frame);

// The names a parameter the codec cannot decode is shown under: the PID's
// own name where it has one, and one sensor holding the data bytes in hex.
inline constexpr char kUndecodedParameterName[] = "Undecoded parameter";
inline constexpr char kRawDataSensorName[] = "Raw data bytes";

// A parameter model from the data bytes of `pid`. A PID the codec has no
// layout for, or whose bytes do not fit its layout, gives one text sensor
// named kRawDataSensorName with the bytes as the vehicle sent them: an
// answer is never shown as none. With `statistics` the numeric sensors' lowest, highest and
// average texts summarise the readings of this connection; without (freeze
// frames) only the value text is set.
std::shared_ptr<ParameterDataModel> BuildParameter(std::uint8_t pid, const Bytes& data,
                                                   SensorStatistics* statistics, std::uint32_t ecu);

// A trouble code record from its two bytes.
std::shared_ptr<DtcDataModel> BuildTroubleCode(std::uint16_t raw, std::uint32_t ecu,
                                               DtcStatus status);

// Text from service 09 data: the characters up to the padding (zero bytes
// at either end, 0xFF bytes at the end are padding).
std::string InfoText(const Bytes& data);

}  // namespace obd::detail
