#include "zelt/DongleRepository.h"

#include <ostream>

#include "obd/ParameterIdentifier.h"
#include "obd/ServiceBuilders.h"

namespace zelt {

namespace {

std::ostream trace(nullptr);

using ConnectionObserver = orvane::Observer<obd::IConnectionServiceObserver>;
using TroubleshootingObserver = orvane::Observer<obd::ITroubleshootingServiceObserver>;

// A text of the core as handed out: null when the core has none.
std::shared_ptr<std::string> MakeText(std::string text) {
    if (text.empty()) {
        return nullptr;
    }
    return std::make_shared<std::string>(std::move(text));
}

}  // namespace

DongleRepository::DongleRepository(const std::shared_ptr<obd::IQuorvix>& root)
    : connection_(obd::ConnectionServiceBuilder::create(root)),
      troubleshooting_(obd::TroubleshootingServiceBuilder::create(root, connection_)),
      sensors_(obd::SensorServiceBuilder::create(root, connection_)) {
    TroubleshootingObserver::attachTo(troubleshooting_.get());
    ConnectionObserver::attachTo(connection_.get());
}

DongleRepository::~DongleRepository() {
    ConnectionObserver::detachFrom(connection_.get());
    TroubleshootingObserver::detachFrom(troubleshooting_.get());
}

void DongleRepository::clearCache() {
    messages_.clear();
    batteryVoltage_.clear();
}

bool DongleRepository::isConnected() const {
    return connection_->isConnected();
}

std::shared_ptr<std::string> DongleRepository::getBatteryVoltage(bool refresh) {
    // No answer returns null and leaves a voltage cached earlier in place.
    return batteryVoltage_.getUsable(refresh, trace, [this]() -> Text {
        const auto sensors = sensors_->getSensors(obd::ParameterIdentifier::Id::BatteryVoltage);
        // Only the first sensor counts; one without a reading is no answer.
        if (sensors.empty() || !sensors.front() || !sensors.front()->value) {
            return nullptr;
        }
        return std::make_shared<std::string>(sensors.front()->value->value + " V");
    });
}

std::shared_ptr<std::string> DongleRepository::getHardwareName() const {
    const auto adapter = connection_->getAdapter();
    return adapter ? MakeText(adapter->getName()) : nullptr;
}

std::shared_ptr<std::string> DongleRepository::getHardwareDescription() const {
    const auto adapter = connection_->getAdapter();
    return adapter ? MakeText(adapter->getDescription()) : nullptr;
}

std::shared_ptr<std::string> DongleRepository::getHardwareIdentification() const {
    const auto adapter = connection_->getAdapter();
    return adapter ? MakeText(adapter->getIdentification()) : nullptr;
}

std::vector<std::shared_ptr<obd::MessageDataModel>> DongleRepository::getMessages() {
    return messages_.withLock([](const Messages& messages) { return messages; });
}

std::string DongleRepository::sendMessage(const std::string& message,
                                          unsigned int timeoutMilliseconds) {
    return troubleshooting_->sendMessage(message, timeoutMilliseconds);
}

void DongleRepository::enableDataLog() {
    troubleshooting_->enableDataLog();
}

void DongleRepository::disableDataLog() {
    troubleshooting_->disableDataLog();
}

bool DongleRepository::isDataLogEnabled() const {
    return troubleshooting_->isDataLogEnabled();
}

void DongleRepository::onConnectionOpened() {}

// A voltage read from the previous ECU's session is no longer current; the
// log entries concern the adapter and stay.
void DongleRepository::onEcuChanged() {
    batteryVoltage_.clear();
}

void DongleRepository::onConnectionClosed() {}

void DongleRepository::onLogEntryAdded(const std::shared_ptr<obd::MessageDataModel>& entry) {
    messages_.withLock([&](Messages& messages) { messages.push_back(entry); });
}

}  // namespace zelt
