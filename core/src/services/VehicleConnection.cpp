#include "services/VehicleConnection.h"

#include <algorithm>
#include <cstdio>

#include "bus/Addressing.h"
#include "bus/Hex.h"
#include "bus/Protocols.h"
#include "obd/ParameterIdentifier.h"

namespace obd::detail {

namespace {

std::string AddressText(std::uint32_t ecu) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%03X", static_cast<unsigned>(ecu));
    return buffer;
}

// Only J1979's reading services leave the vehicle as it was. Clearing the
// codes (04), running an on-board routine (08 with a test id that is no
// support bitmap) and any other service (a manufacturer's) may change what
// it reports afterwards.
bool ChangesVehicle(const Bytes& request) {
    if (request.empty()) {
        return false;
    }
    switch (request[0]) {
        case 0x01:
        case 0x02:
        case 0x03:
        case 0x06:
        case 0x07:
        case 0x09:
        case 0x0A:
            return false;
        case 0x08:
            return request.size() == 1 ||
                   !std::all_of(request.begin() + 1, request.end(),
                                [](std::uint8_t id) { return IsSupportId(id); });
        default:
            return true;
    }
}

}  // namespace

VehicleConnection::VehicleConnection(std::shared_ptr<IRequestChannel> channel,
                                     std::shared_ptr<IAdapter> adapter, DataLinkProtocol protocol,
                                     std::shared_ptr<EventDispatcher> dispatcher)
    : channel_(std::move(channel)),
      adapter_(std::move(adapter)),
      protocol_(protocol),
      dispatcher_(std::move(dispatcher)) {}

bool VehicleConnection::open() {
    orvane::MutexLock bus(busMutex_);
    if (isOpen()) {
        return true;
    }
    channel_->restartClock();
    // Every ECU that supports service 01 answers the functional "01 00".
    std::vector<std::uint32_t> answered;
    for (const EcuResponse& response : exchange({0x01, 0x00}, kAllEcus)) {
        if (!response.payload.empty() && response.payload[0] == 0x41) {
            answered.push_back(response.ecu);
        }
    }
    std::sort(answered.begin(), answered.end());
    answered.erase(std::unique(answered.begin(), answered.end()), answered.end());
    if (answered.empty()) {
        log(MessageDirection::Info, "UNABLE TO CONNECT");
        return false;
    }
    statistics_.reset();
    supportCache_.clear();
    answerMemo_.forget();
    {
        orvane::MutexLock state(stateMutex_);
        open_ = true;
        ecus_ = answered;
        selected_ = answered.front();
        routines_.clear();
        // Notes go before their event, so that a data log observer has the
        // note when it hears of the event.
        log(MessageDirection::Info, "Connection opened: " + bus::ProtocolName(protocol_) +
                                        ", ECU " + AddressText(answered.front()));
        post(Event::Opened);
    }
    return true;
}

void VehicleConnection::close() {
    orvane::MutexLock bus(busMutex_);
    {
        orvane::MutexLock state(stateMutex_);
        if (!open_) {
            return;
        }
        open_ = false;
        supportCache_.clear();
        answerMemo_.forget();
        ecus_.clear();
        selected_ = 0;
        log(MessageDirection::Info, "Connection closed");
        post(Event::Closed);
    }
}

bool VehicleConnection::selectEcu(std::uint32_t ecu) {
    {
        orvane::MutexLock state(stateMutex_);
        if (!open_ || std::find(ecus_.begin(), ecus_.end(), ecu) == ecus_.end()) {
            return false;
        }
        if (selected_ == ecu) {
            return true;
        }
        // What each ECU announced stays known: it is kept per ECU, and asking
        // again on every switch would cost a reading of several ECUs its
        // bitmaps each time.
        selected_ = ecu;
        log(MessageDirection::Info, "ECU " + AddressText(ecu) + " selected");
        post(Event::EcuChanged);
    }
    return true;
}

bool VehicleConnection::isOpen() const {
    orvane::MutexLock state(stateMutex_);
    return open_;
}

std::uint32_t VehicleConnection::selectedEcu() const {
    orvane::MutexLock state(stateMutex_);
    return selected_;
}

std::vector<std::uint32_t> VehicleConnection::ecus() const {
    orvane::MutexLock state(stateMutex_);
    return ecus_;
}

std::shared_ptr<IAdapter> VehicleConnection::adapter() const {
    return isOpen() ? adapter_ : nullptr;
}

std::vector<EcuResponse> VehicleConnection::transact(const Bytes& request, std::uint32_t ecu,
                                                     std::size_t frames) {
    orvane::MutexLock bus(busMutex_);
    if (!isOpen()) {
        return {};
    }
    return exchange(request, ecu, frames);
}

std::vector<EcuResponse> VehicleConnection::exchange(const Bytes& request, std::uint32_t ecu,
                                                     std::size_t frames) {
    if (ChangesVehicle(request)) {
        answerMemo_.forget();
    }
    log(MessageDirection::Request,
        ecu == kAllEcus ? bus::ToHex(request)
                        : AddressText(bus::RequestIdFor(ecu)) + " " + bus::ToHex(request));
    std::vector<EcuResponse> responses = frames != 0
                                             ? channel_->transactExpecting(request, ecu, frames)
                                             : channel_->transact(request, ecu);
    if (responses.empty()) {
        log(MessageDirection::Response, "NO DATA");
    }
    for (const EcuResponse& response : responses) {
        log(MessageDirection::Response,
            AddressText(response.ecu) + " " + bus::ToHex(response.payload));
    }
    return responses;
}

std::optional<Bytes> VehicleConnection::request(const Bytes& request, std::uint32_t ecu) {
    orvane::MutexLock bus(busMutex_);
    if (ecu == kAllEcus || !isOpen()) {
        return std::nullopt;
    }
    for (EcuResponse& response : exchange(request, ecu)) {
        if (response.ecu == ecu) {
            return std::move(response.payload);
        }
    }
    return std::nullopt;
}

std::optional<double> VehicleConnection::batteryVoltage() {
    if (!isOpen()) {
        return std::nullopt;
    }
    return channel_->readBatteryVoltage();
}

bool VehicleConnection::multiPidRequests(std::uint8_t service) const {
    switch (protocol()) {
        case DataLinkProtocol::Iso15765Can11Bit500k:
        case DataLinkProtocol::Iso15765Can29Bit500k:
        case DataLinkProtocol::Iso15765Can11Bit250k:
        case DataLinkProtocol::Iso15765Can29Bit250k:
            return multiPidRequests_ && !supportCache_.multiPidRefused(service);
        default:
            // The older buses allow several PIDs too, but their answers
            // come one message per PID; they are asked one at a time.
            return false;
    }
}

void VehicleConnection::logExchange(const std::string& request, const std::string& answer) {
    orvane::MutexLock bus(busMutex_);
    log(MessageDirection::Request, request);
    log(MessageDirection::Response, answer);
}

void VehicleConnection::addConnectionObservers(
    const std::shared_ptr<ConnectionObservers>& observers) {
    orvane::MutexLock state(stateMutex_);
    connectionObservers_.erase(
        std::remove_if(connectionObservers_.begin(), connectionObservers_.end(),
                       [](const auto& weak) { return weak.expired(); }),
        connectionObservers_.end());
    connectionObservers_.push_back(observers);
}

void VehicleConnection::addDataLog(const std::shared_ptr<DataLog>& log) {
    orvane::MutexLock guard(logsMutex_);
    logs_.erase(
        std::remove_if(logs_.begin(), logs_.end(), [](const auto& weak) { return weak.expired(); }),
        logs_.end());
    logs_.push_back(log);
}

void VehicleConnection::post(Event event) {
    // The services alive now hear of the event; one built later does not.
    std::vector<std::weak_ptr<ConnectionObservers>> targets = connectionObservers_;
    ++*eventsUnderway_;
    dispatcher_->post([targets = std::move(targets), event, underway = eventsUnderway_] {
        // Counted as delivered however the delivery ends.
        struct Delivered {
            std::atomic<int>& count;
            ~Delivered() { --count; }
        } delivered{*underway};
        for (const auto& weak : targets) {
            std::shared_ptr<ConnectionObservers> observers = weak.lock();
            if (!observers) {
                continue;
            }
            observers->deliver([event](IConnectionServiceObserver& observer) {
                switch (event) {
                    case Event::Opened:
                        observer.onConnectionOpened();
                        break;
                    case Event::EcuChanged:
                        observer.onEcuChanged();
                        break;
                    case Event::Closed:
                        observer.onConnectionClosed();
                        break;
                }
            });
        }
    });
}

void VehicleConnection::log(MessageDirection direction, const std::string& text) {
    std::vector<std::weak_ptr<DataLog>> logs;
    {
        orvane::MutexLock guard(logsMutex_);
        logs = logs_;
    }
    for (const auto& weak : logs) {
        if (std::shared_ptr<DataLog> log = weak.lock()) {
            log->add(direction, text);
        }
    }
}

std::shared_ptr<TestRoutineDataModel> VehicleConnection::routineRecord(std::uint32_t ecu,
                                                                       int id) const {
    orvane::MutexLock state(stateMutex_);
    const auto found = routines_.find({ecu, id});
    return found == routines_.end() ? nullptr : found->second;
}

void VehicleConnection::setRoutineRecord(std::uint32_t ecu,
                                         std::shared_ptr<TestRoutineDataModel> record) {
    orvane::MutexLock state(stateMutex_);
    const int id = record->id;
    routines_[{ecu, id}] = std::move(record);
}

}  // namespace obd::detail
