#include "zelt/EcuRepository.h"

#include <cstdint>
#include <ostream>
#include <utility>

#include "obd/ServiceBuilders.h"
#include "zelt/ModelBuilders.h"

namespace zelt {

namespace {

std::ostream trace(nullptr);

using Item = std::shared_ptr<InfoDataModel>;
using ItemList = std::vector<std::shared_ptr<InfoDataModel>>;
using SupportTest = bool (obd::IEcuService::*)();
using ReadText = std::string (obd::IEcuService::*)();
using ReadTexts = std::vector<std::string> (obd::IEcuService::*)();

constexpr const char* kNotSupported = "Not supported by the vehicle";

// Labels of the list items: one text, several texts (followed by the index),
// and the not-supported item.
struct ListLabels {
    const char* single;
    const char* numbered;
    const char* unsupported;
};

constexpr ListLabels kCalidLabels = {"Calibration Identification", "Calibration Identification #",
                                     "Calibration Identifications"};
constexpr ListLabels kCvnLabels = {"Calibration Verification Number",
                                   "Calibration Verification Number #",
                                   "Calibration Verification Numbers"};

Item MakeItem(InfoItem item, std::string label, std::string text, bool fromVehicle) {
    return std::make_shared<InfoDataModel>(static_cast<std::int32_t>(item), std::move(label),
                                           std::move(text), fromVehicle);
}

// An item the application always lists: when the vehicle does not support it,
// a placeholder item is made and cached like any other.
Item GetItemOrPlaceholder(std::optional<Item>& cached, bool refresh, obd::IEcuService& service,
                          SupportTest isSupported, ReadText read, InfoItem id, const char* label) {
    return detail::CacheEveryAnswer(cached, refresh, trace, [&] {
        if (!(service.*isSupported)()) {
            return MakeItem(id, label, kNotSupported, false);
        }
        return MakeItem(id, label, (service.*read)(), true);
    });
}

// A list of items, one per text; a single placeholder item when the vehicle
// does not support the list. An empty list is cached too.
ItemList GetItemList(std::optional<ItemList>& cached, bool refresh, obd::IEcuService& service,
                     SupportTest isSupported, ReadTexts read, InfoItem id,
                     const ListLabels& labels) {
    return detail::CacheEveryAnswer(cached, refresh, trace, [&] {
        ItemList items;
        if (!(service.*isSupported)()) {
            items.push_back(MakeItem(id, labels.unsupported, kNotSupported, false));
            return items;
        }
        std::vector<std::string> texts = (service.*read)();
        if (texts.size() == 1) {
            items.push_back(MakeItem(id, labels.single, std::move(texts.front()), true));
            return items;
        }
        // Numbered from 0.
        for (std::size_t index = 0; index < texts.size(); ++index) {
            items.push_back(MakeItem(id, labels.numbered + std::to_string(index),
                                     std::move(texts[index]), true));
        }
        return items;
    });
}

// An item listed only when the vehicle supports it. An unsupported answer is
// not cached, so the support test is asked again next time; and it leaves an
// item cached earlier in place. No trace on a cache hit.
Item GetOptionalItem(std::optional<Item>& cached, bool refresh, obd::IEcuService& service,
                     SupportTest isSupported, ReadText read, InfoItem id, const char* label) {
    return detail::KeepLastKnown(cached, refresh, detail::NoTrace(), [&]() -> Item {
        if (!(service.*isSupported)()) {
            return nullptr;
        }
        return MakeItem(id, label, (service.*read)(), true);
    });
}

}  // namespace

EcuRepository::EcuRepository(const std::shared_ptr<obd::IQuorvix>& root)
    : connection_(obd::ConnectionServiceBuilder::create(root)),
      ecuService_(obd::EcuServiceBuilder::create(root, connection_)) {
    attachTo(connection_.get());
}

EcuRepository::~EcuRepository() {
    detachFrom(connection_.get());
}

void EcuRepository::clearCache() {
    info_.clear();
    parameters_.clear();
}

bool EcuRepository::isConnected() const {
    return connection_->isConnected();
}

std::vector<std::shared_ptr<InfoDataModel>> EcuRepository::getEcuInfo(bool refresh) {
    return info_.withLock([&](InfoCache& cache) {
        ItemList result;
        const auto append = [&result](Item item) {
            if (item != nullptr) {
                result.push_back(std::move(item));
            }
        };
        const auto appendAll = [&result](const ItemList& items) {
            result.insert(result.end(), items.begin(), items.end());
        };
        append(getStandard());
        append(getProtocol());
        append(getEcuName());
        append(getEcuDescription());
        append(getVin(cache, refresh));
        appendAll(getCalids(cache, refresh));
        appendAll(getCvns(cache, refresh));
        append(getEsn(cache, refresh));
        append(getErotan(cache, refresh));
        append(getGtrNumber(cache, refresh));
        append(getFueledEngineOperation(cache, refresh));
        append(getCertificationTestGroup(cache, refresh));
        append(getDistanceTraveledSinceEvap(cache, refresh));
        append(getMotorcycleCategoryTypeApproval(cache, refresh));
        return result;
    });
}

std::shared_ptr<std::string> EcuRepository::getIdentificationNumber(bool refresh) {
    return info_.withLock([&](InfoCache& cache) -> std::shared_ptr<std::string> {
        const Item vin = getVin(cache, refresh);
        if (vin == nullptr || !vin->fromVehicle) {
            return nullptr;
        }
        return std::make_shared<std::string>(vin->value);
    });
}

std::vector<std::shared_ptr<ParameterModel>> EcuRepository::getParameters(bool refresh) {
    return parameters_.get(refresh, trace, [this] {
        const auto answer = ecuService_->readParameters();
        std::vector<std::shared_ptr<ParameterModel>> parameters;
        parameters.reserve(answer.size());
        for (const auto& data : answer) {
            parameters.push_back(ParameterModelBuilder::build(data));
        }
        return parameters;
    });
}

bool EcuRepository::isSupported(const std::shared_ptr<ParameterModel>& parameter) const {
    return ecuService_->isParameterSupported(parameter->pid);
}

EcuRepository::Item EcuRepository::getStandard() const {
    std::string text = ecuService_->readStandard();
    return text.empty()
               ? nullptr
               : MakeItem(InfoItem::ObdRequirements, "OBD Requirements", std::move(text), false);
}

EcuRepository::Item EcuRepository::getProtocol() const {
    std::string text = ecuService_->readProtocol();
    return text.empty() ? nullptr
                        : MakeItem(InfoItem::Protocol, "Protocol", std::move(text), false);
}

// Listed even when the ECU reports no text.
EcuRepository::Item EcuRepository::getEcuName() const {
    return MakeItem(InfoItem::EcuName, "ECU Name", ecuService_->readEcuName(), false);
}

EcuRepository::Item EcuRepository::getEcuDescription() const {
    return MakeItem(InfoItem::EcuDescription, "ECU Description", ecuService_->readEcuDescription(),
                    false);
}

EcuRepository::Item EcuRepository::getVin(InfoCache& cache, bool refresh) {
    return GetItemOrPlaceholder(cache.vin, refresh, *ecuService_, &obd::IEcuService::isVinSupported,
                                &obd::IEcuService::readVin, InfoItem::VehicleIdentificationNumber,
                                "Vehicle Identification Number");
}

EcuRepository::ItemList EcuRepository::getCalids(InfoCache& cache, bool refresh) {
    return GetItemList(cache.calids, refresh, *ecuService_, &obd::IEcuService::isCalidSupported,
                       &obd::IEcuService::readCalids, InfoItem::CalibrationIdentification,
                       kCalidLabels);
}

EcuRepository::ItemList EcuRepository::getCvns(InfoCache& cache, bool refresh) {
    return GetItemList(cache.cvns, refresh, *ecuService_, &obd::IEcuService::isCvnSupported,
                       &obd::IEcuService::readCvns, InfoItem::CalibrationVerificationNumber,
                       kCvnLabels);
}

EcuRepository::Item EcuRepository::getEsn(InfoCache& cache, bool refresh) {
    return GetItemOrPlaceholder(cache.esn, refresh, *ecuService_, &obd::IEcuService::isEsnSupported,
                                &obd::IEcuService::readEsn, InfoItem::EngineSerialNumber,
                                "Engine Serial Number");
}

EcuRepository::Item EcuRepository::getErotan(InfoCache& cache, bool refresh) {
    return GetOptionalItem(cache.erotan, refresh, *ecuService_,
                           &obd::IEcuService::isErotanSupported, &obd::IEcuService::readErotan,
                           InfoItem::ExhaustRegulationOrTypeApprovalNumber,
                           "Exhaust Regulation Or Type Approval Number");
}

EcuRepository::Item EcuRepository::getGtrNumber(InfoCache& cache, bool refresh) {
    return GetOptionalItem(
        cache.gtrNumber, refresh, *ecuService_, &obd::IEcuService::isGtrNumberSupported,
        &obd::IEcuService::readGtrNumber, InfoItem::GtrNumber, "WWH-OBD GTR Number");
}

EcuRepository::Item EcuRepository::getFueledEngineOperation(InfoCache& cache, bool refresh) {
    return GetOptionalItem(cache.fueledEngineOperation, refresh, *ecuService_,
                           &obd::IEcuService::isFueledEngineOperationSupported,
                           &obd::IEcuService::readFueledEngineOperation,
                           InfoItem::FueledEngineOperationIgnitionCycleCounter,
                           "Fueled Engine Operation Ignition Cycle Counter");
}

EcuRepository::Item EcuRepository::getCertificationTestGroup(InfoCache& cache, bool refresh) {
    return GetOptionalItem(cache.certificationTestGroup, refresh, *ecuService_,
                           &obd::IEcuService::isCertificationTestGroupSupported,
                           &obd::IEcuService::readCertificationTestGroup,
                           InfoItem::CertificationTestGroup,
                           "Certification Test Group/Engine Family Number");
}

EcuRepository::Item EcuRepository::getDistanceTraveledSinceEvap(InfoCache& cache, bool refresh) {
    return GetOptionalItem(cache.distanceTraveledSinceEvap, refresh, *ecuService_,
                           &obd::IEcuService::isDistanceTraveledSinceEvapSupported,
                           &obd::IEcuService::readDistanceTraveledSinceEvap,
                           InfoItem::DistanceTraveledSinceEvapMonitoringDecision,
                           "Distance Traveled Since Evap Monitoring Decision");
}

EcuRepository::Item EcuRepository::getMotorcycleCategoryTypeApproval(InfoCache& cache,
                                                                     bool refresh) {
    return GetOptionalItem(cache.motorcycleCategoryTypeApproval, refresh, *ecuService_,
                           &obd::IEcuService::isMotorcycleCategoryTypeApprovalSupported,
                           &obd::IEcuService::readMotorcycleCategoryTypeApproval,
                           InfoItem::MotorcycleCategoryTypeApproval,
                           "Applicable Motorcycle Category for Type Approval");
}

void EcuRepository::onConnectionOpened() {
    clearCache();
}
void EcuRepository::onEcuChanged() {
    clearCache();
}
void EcuRepository::onConnectionClosed() {
    clearCache();
}

}  // namespace zelt
