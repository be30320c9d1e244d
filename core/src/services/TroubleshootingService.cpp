#include <algorithm>
#include <cctype>
#include <cstdio>

#include "bus/Hex.h"
#include "bus/Protocols.h"
#include "orvane/Observer.h"
#include "services/Services.h"

namespace obd::detail {

namespace {

// Upper case without white space: adapters read "at rv" as "ATRV".
std::string Normalise(const std::string& message) {
    std::string text;
    for (char c : message) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return text;
}

}  // namespace

TroubleshootingService::TroubleshootingService(std::shared_ptr<VehicleConnection> connection)
    : connection_(std::move(connection)),
      log_(std::make_shared<DataLog>(connection_->dispatcher())) {
    connection_->addDataLog(log_);
}

TroubleshootingService::~TroubleshootingService() {
    using Notifier = orvane::INotifier<ITroubleshootingServiceObserver>;
    for (ITroubleshootingServiceObserver* observer : log_->observers().snapshot()) {
        if (auto* listed =
                dynamic_cast<orvane::Observer<ITroubleshootingServiceObserver>*>(observer)) {
            Notifier::forget(*listed, this);
        }
    }
}

std::size_t TroubleshootingService::getObserverCount() const {
    return log_->observers().size();
}

void TroubleshootingService::attach(ITroubleshootingServiceObserver* observer) {
    log_->observers().add(observer);
}

void TroubleshootingService::detach(ITroubleshootingServiceObserver* observer) {
    log_->observers().remove(observer);
}

void TroubleshootingService::enableDataLog() {
    log_->enable();
}

bool TroubleshootingService::isDataLogEnabled() const {
    return log_->isEnabled();
}

void TroubleshootingService::disableDataLog() {
    log_->disable();
}

std::string TroubleshootingService::sendMessage(const std::string& message,
                                                unsigned int /*timeoutMilliseconds*/) {
    // The simulated adapter answers at once; the timeout matters only for
    // a real transport.
    if (!connection_->isOpen()) {
        return std::string();
    }
    const std::string text = Normalise(message);
    if (text.rfind("AT", 0) == 0) {
        std::string answer = adapterCommand(text.substr(2));
        connection_->logExchange(text, answer);
        return answer;
    }
    return request(text);
}

std::string TroubleshootingService::adapterCommand(const std::string& command) {
    const std::shared_ptr<IAdapter> adapter = connection_->adapter();
    if (!adapter) {
        return std::string();
    }
    if (command == "I" || command == "Z") {
        return adapter->getIdentification();
    }
    if (command == "@1") {
        return adapter->getDescription();
    }
    if (command == "RV") {
        const std::optional<double> volts = connection_->batteryVoltage();
        if (!volts) {
            return "?";
        }
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.1fV", *volts);
        return buffer;
    }
    if (command == "DP") {
        return bus::ProtocolName(adapter->getProtocol());
    }
    if (command == "DPN") {
        return std::to_string(static_cast<int>(adapter->getProtocol()));
    }
    if (command == "H0" || command == "H1") {
        orvane::MutexLock lock(mutex_);
        headers_ = command == "H1";
        return "OK";
    }
    if (command == "E0" || command == "E1" || command == "L0" || command == "L1" ||
        command == "S0" || command == "S1") {
        return "OK";  // formatting switches that change nothing here
    }
    return "?";
}

std::string TroubleshootingService::request(const std::string& message) {
    const std::optional<Bytes> bytes = bus::ParseHex(message);
    if (!bytes || bytes->empty() || bytes->size() > 7) {
        connection_->logExchange(message, "?");
        return "?";
    }
    bool headers;
    {
        orvane::MutexLock lock(mutex_);
        headers = headers_;
    }
    // Like an adapter in its default setting, the request goes to every ECU.
    const std::vector<EcuResponse> responses = connection_->transact(*bytes, kAllEcus);
    if (responses.empty()) {
        return "NO DATA";
    }
    std::string answer;
    for (const EcuResponse& response : responses) {
        if (!answer.empty()) {
            answer += '\n';
        }
        if (headers) {
            char address[16];
            std::snprintf(address, sizeof address, "%03X ", static_cast<unsigned>(response.ecu));
            answer += address;
        }
        answer += bus::ToHex(response.payload);
    }
    return answer;
}

}  // namespace obd::detail
