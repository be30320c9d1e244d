#include <cstdio>

#include "bus/Protocols.h"
#include "j1979/InfoTypes.h"
#include "services/Services.h"

namespace obd::detail {

namespace {

constexpr std::size_t kCalidSize = 16;
constexpr std::size_t kCvnSize = 4;
constexpr std::size_t kEcuNameAcronymSize = 4;  // then '-' and the name text

std::uint32_t Number(const Bytes& data) {
    std::uint32_t number = 0;
    for (std::uint8_t byte : data) {
        number = number << 8 | byte;
    }
    return number;
}

}  // namespace

EcuService::EcuService(std::shared_ptr<VehicleConnection> connection)
    : client_(std::move(connection)) {}

std::vector<std::uint32_t> EcuService::getEcuAddresses() {
    return client_.connection().ecus();
}

std::vector<std::shared_ptr<ParameterDataModel>> EcuService::readParameters() {
    std::vector<std::shared_ptr<ParameterDataModel>> parameters;
    const std::uint32_t ecu = client_.selectedEcu();
    const std::set<std::uint8_t> supported = client_.supported(ecu, 0x01);
    const std::vector<std::uint8_t> pids(supported.begin(), supported.end());
    for (const auto& [pid, data] : client_.currentData(ecu, pids)) {
        if (auto parameter = BuildParameter(pid, data, &client_.connection().statistics(), ecu)) {
            parameters.push_back(std::move(parameter));
        }
    }
    return parameters;
}

bool EcuService::isParameterSupported(ParameterIdentifier::Id pid) {
    return client_.isPidSupported(client_.selectedEcu(), static_cast<int>(pid));
}

std::string EcuService::readStandard() {
    std::optional<Bytes> data = client_.currentData(client_.selectedEcu(), 0x1C);
    if (!data) {
        return std::string();
    }
    auto parameter = BuildParameter(0x1C, *data, nullptr, 0);
    if (!parameter || parameter->sensors.empty()) {
        return std::string();
    }
    return parameter->sensors.front()->value->value;
}

std::string EcuService::readProtocol() {
    if (!client_.connection().isOpen()) {
        return std::string();
    }
    return bus::ProtocolName(client_.connection().protocol());
}

std::string EcuService::readEcuName() {
    auto item = client_.vehicleInformation(client_.selectedEcu(), info::kEcuName);
    if (!item) {
        return std::string();
    }
    const Bytes& data = item->second;
    if (data.size() > kEcuNameAcronymSize && data[kEcuNameAcronymSize] == '-') {
        return InfoText(Bytes(data.begin(), data.begin() + kEcuNameAcronymSize));
    }
    return InfoText(data);
}

std::string EcuService::readEcuDescription() {
    auto item = client_.vehicleInformation(client_.selectedEcu(), info::kEcuName);
    if (!item) {
        return std::string();
    }
    const Bytes& data = item->second;
    if (data.size() > kEcuNameAcronymSize && data[kEcuNameAcronymSize] == '-') {
        return InfoText(Bytes(data.begin() + kEcuNameAcronymSize + 1, data.end()));
    }
    return std::string();
}

bool EcuService::isInfoSupported(std::uint8_t type) {
    return client_.supported(client_.selectedEcu(), 0x09).count(type) != 0;
}

std::string EcuService::readInfoText(std::uint8_t type) {
    auto item = client_.vehicleInformation(client_.selectedEcu(), type);
    return item ? InfoText(item->second) : std::string();
}

std::vector<std::string> EcuService::readInfoList(std::uint8_t type, std::size_t itemSize,
                                                  bool hex) {
    std::vector<std::string> texts;
    auto item = client_.vehicleInformation(client_.selectedEcu(), type);
    if (!item) {
        return texts;
    }
    const Bytes& data = item->second;
    for (std::size_t i = 0; i < item->first && (i + 1) * itemSize <= data.size(); ++i) {
        const Bytes one(data.begin() + static_cast<std::ptrdiff_t>(i * itemSize),
                        data.begin() + static_cast<std::ptrdiff_t>((i + 1) * itemSize));
        if (hex) {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "%08X", static_cast<unsigned>(Number(one)));
            texts.emplace_back(buffer);
        } else {
            texts.push_back(InfoText(one));
        }
    }
    return texts;
}

bool EcuService::isVinSupported() {
    return isInfoSupported(info::kVin);
}
std::string EcuService::readVin() {
    return readInfoText(info::kVin);
}

bool EcuService::isCalidSupported() {
    return isInfoSupported(info::kCalid);
}
std::vector<std::string> EcuService::readCalids() {
    return readInfoList(info::kCalid, kCalidSize, false);
}

bool EcuService::isCvnSupported() {
    return isInfoSupported(info::kCvn);
}
std::vector<std::string> EcuService::readCvns() {
    return readInfoList(info::kCvn, kCvnSize, true);
}

bool EcuService::isEsnSupported() {
    return isInfoSupported(info::kEsn);
}
std::string EcuService::readEsn() {
    return readInfoText(info::kEsn);
}

bool EcuService::isErotanSupported() {
    return isInfoSupported(info::kErotan);
}
std::string EcuService::readErotan() {
    return readInfoText(info::kErotan);
}

bool EcuService::isGtrNumberSupported() {
    return isInfoSupported(info::kGtrNumber);
}
std::string EcuService::readGtrNumber() {
    return readInfoText(info::kGtrNumber);
}

bool EcuService::isFueledEngineOperationSupported() {
    return isInfoSupported(info::kFueledEngineOperation);
}
std::string EcuService::readFueledEngineOperation() {
    auto item = client_.vehicleInformation(client_.selectedEcu(), info::kFueledEngineOperation);
    return item ? std::to_string(Number(item->second)) : std::string();
}

bool EcuService::isCertificationTestGroupSupported() {
    return isInfoSupported(info::kCertificationTestGroup);
}
std::string EcuService::readCertificationTestGroup() {
    return readInfoText(info::kCertificationTestGroup);
}

bool EcuService::isDistanceTraveledSinceEvapSupported() {
    return isInfoSupported(info::kDistanceSinceEvap);
}
std::string EcuService::readDistanceTraveledSinceEvap() {
    auto item = client_.vehicleInformation(client_.selectedEcu(), info::kDistanceSinceEvap);
    return item ? std::to_string(Number(item->second)) + " km" : std::string();
}

bool EcuService::isMotorcycleCategoryTypeApprovalSupported() {
    return isInfoSupported(info::kMotorcycleCategory);
}
std::string EcuService::readMotorcycleCategoryTypeApproval() {
    return readInfoText(info::kMotorcycleCategory);
}

}  // namespace obd::detail
