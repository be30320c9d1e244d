#include "obd/elm327/AdapterQuorvix.h"

#include <algorithm>
#include <cctype>

#include "Root.h"
#include "bus/Hex.h"

namespace obd::elm327 {

namespace {

std::vector<AdapterQuorvix::RawAnswer> RawAnswers(std::vector<detail::EcuResponse> responses) {
    std::vector<AdapterQuorvix::RawAnswer> answers;
    for (detail::EcuResponse& response : responses) {
        answers.push_back({response.ecu, std::move(response.payload)});
    }
    return answers;
}

}  // namespace

struct AdapterQuorvix::Impl {
    // What the adapter reports of itself is filled in when the connection
    // opens.
    Impl() : Impl(std::make_shared<AdapterInfo>()) {}
    explicit Impl(const std::shared_ptr<AdapterInfo>& info)
        : root(std::make_shared<AdapterChannel>(info), info) {}

    detail::Root root;
};

std::shared_ptr<AdapterQuorvix> AdapterQuorvix::create() {
    return std::shared_ptr<AdapterQuorvix>(new AdapterQuorvix());
}

AdapterQuorvix::AdapterQuorvix() : impl_(std::make_unique<Impl>()) {}

AdapterQuorvix::~AdapterQuorvix() = default;

void AdapterQuorvix::closeConnection() {
    impl_->root.manager()->closeConnection();
}

bool AdapterQuorvix::isConnectionOpen() const {
    return impl_->root.connection()->isOpen();
}

std::vector<std::uint32_t> AdapterQuorvix::getEcuAddresses() const {
    return impl_->root.connection()->ecus();
}

bool AdapterQuorvix::selectEcu(std::uint32_t address) {
    return impl_->root.connection()->selectEcu(address);
}

std::uint32_t AdapterQuorvix::getSelectedEcu() const {
    return impl_->root.connection()->selectedEcu();
}

void AdapterQuorvix::setMultiPidRequests(bool enabled) {
    impl_->root.connection()->setMultiPidRequests(enabled);
}

void AdapterQuorvix::beginSnapshot() {
    impl_->root.connection()->answerMemo().hold();
}

void AdapterQuorvix::endSnapshot() {
    impl_->root.connection()->answerMemo().release();
}

std::string AdapterQuorvix::lastAdapterError() const {
    return impl_->root.adapter()->lastError();
}

bool AdapterQuorvix::isAdapterLost() const {
    return impl_->root.adapter()->dropped();
}

std::string AdapterQuorvix::protocolFallback() const {
    return impl_->root.adapter()->fallbackReport();
}

void AdapterQuorvix::setTimeout(std::chrono::milliseconds timeout) {
    const auto milliseconds = static_cast<std::int32_t>(
        std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 1, INT32_MAX));
    impl_->root.manager()->setTimeout(milliseconds);
    impl_->root.adapter()->setAdapterTimeout(std::max(milliseconds / 2, 1));
}

std::optional<std::vector<AdapterQuorvix::RawAnswer>> AdapterQuorvix::sendRawRequest(
    const std::vector<std::uint8_t>& request, std::uint32_t ecu) {
    auto& channel = *impl_->root.adapter();
    if (!isConnectionOpen()) {
        return std::nullopt;
    }
    // A raw request may change what the vehicle reports.
    impl_->root.connection()->answerMemo().forget();
    auto responses = channel.transact(request, ecu);  // 0 is every ECU
    if (responses.empty() && !channel.error().empty()) {
        return std::nullopt;
    }
    return RawAnswers(std::move(responses));
}

std::optional<std::vector<AdapterQuorvix::RawAnswer>> AdapterQuorvix::sendRawRequestWithHeader(
    const std::vector<std::uint8_t>& request, const std::string& header) {
    if (!isConnectionOpen()) {
        return std::nullopt;
    }
    impl_->root.connection()->answerMemo().forget();
    auto responses = impl_->root.adapter()->transactWithHeader(request, header);
    if (!responses) {
        return std::nullopt;
    }
    return RawAnswers(std::move(*responses));
}

std::optional<DataLinkProtocol> AdapterQuorvix::parseProtocol(const std::string& text) {
    std::string lower;
    for (char c : text) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (lower == "auto") {
        return DataLinkProtocol::Automatic;
    }
    if (text.size() == 1 && text[0] >= '1' && text[0] <= '9') {
        return static_cast<DataLinkProtocol>(text[0] - '0');
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> AdapterQuorvix::parseRequest(const std::string& text) {
    auto bytes = bus::ParseHex(text);
    if (!bytes || bytes->empty() || bytes->size() > 7) {
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::uint32_t> AdapterQuorvix::parseEcu(const std::string& text) {
    const std::string digits =
        text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? text.substr(2)
                                                                                : text;
    if (digits.empty() || digits.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : digits) {
        const int digit = bus::HexDigitValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

std::shared_ptr<IConnectionManager> AdapterQuorvix::getConnectionManager() {
    return impl_->root.manager();
}

std::shared_ptr<IConnectionService> AdapterQuorvix::createConnectionService() {
    return impl_->root.createConnectionService();
}

std::shared_ptr<IEcuService> AdapterQuorvix::createEcuService(
    std::shared_ptr<IConnectionService> connection) {
    return impl_->root.createEcuService(connection);
}

std::shared_ptr<ISensorService> AdapterQuorvix::createSensorService(
    std::shared_ptr<IConnectionService> connection) {
    return impl_->root.createSensorService(connection);
}

std::shared_ptr<ITroubleCodeService> AdapterQuorvix::createTroubleCodeService(
    std::shared_ptr<IConnectionService> connection) {
    return impl_->root.createTroubleCodeService(connection);
}

std::shared_ptr<IDiagnosticsService> AdapterQuorvix::createDiagnosticsService(
    std::shared_ptr<IConnectionService> connection) {
    return impl_->root.createDiagnosticsService(connection);
}

std::shared_ptr<IRoutineService> AdapterQuorvix::createRoutineService(
    std::shared_ptr<IConnectionService> connection) {
    return impl_->root.createRoutineService(connection);
}

std::shared_ptr<ITroubleshootingService> AdapterQuorvix::createTroubleshootingService(
    std::shared_ptr<IConnectionService> connection) {
    return impl_->root.createTroubleshootingService(connection);
}

void AdapterQuorvix::setProfile(std::shared_ptr<const VehicleProfile> profile) {
    impl_->root.profiles()->setProfile(std::move(profile));
}

std::shared_ptr<const VehicleProfile> AdapterQuorvix::getProfile() const {
    return impl_->root.profiles()->getProfile();
}

std::string AdapterQuorvix::getMissingReason(ParameterIdentifier::Id pid) const {
    return impl_->root.profiles()->getMissingReason(pid);
}

ModuleCodes AdapterQuorvix::readModuleCodes(std::size_t ecu) {
    return impl_->root.profiles()->readModuleCodes(ecu);
}

ModuleClearing AdapterQuorvix::clearModuleCodes(std::size_t ecu) {
    return impl_->root.profiles()->clearModuleCodes(ecu);
}

}  // namespace obd::elm327
