#include <algorithm>

#include "j1979/TroubleCodeCatalogue.h"
#include "services/Services.h"

namespace obd::detail {

namespace {

constexpr std::uint8_t kFreezeFrameCode = 0x02;

std::uint16_t Code(const Bytes& data, std::size_t offset) {
    return static_cast<std::uint16_t>(data[offset] << 8 | data[offset + 1]);
}

}  // namespace

TroubleCodeService::TroubleCodeService(std::shared_ptr<VehicleConnection> connection)
    : client_(std::move(connection)) {}

std::string TroubleCodeService::describeTroubleCode(const std::string& code) {
    return DescribeTroubleCode(code);
}

std::vector<std::shared_ptr<DtcDataModel>> TroubleCodeService::readCodes(std::uint8_t service,
                                                                         DtcStatus status) {
    std::vector<std::shared_ptr<DtcDataModel>> codes;
    const std::uint32_t ecu = client_.selectedEcu();
    std::optional<Bytes> answer = client_.query(ecu, {service}, 0);
    if (!answer || answer->empty()) {
        return codes;
    }
    // The count byte says how many codes follow; what lies beyond is padding.
    const std::size_t count = std::min<std::size_t>((*answer)[0], (answer->size() - 1) / 2);
    for (std::size_t i = 0; i < count; ++i) {
        codes.push_back(BuildTroubleCode(Code(*answer, 1 + 2 * i), ecu, status));
    }
    return codes;
}

std::vector<std::shared_ptr<DtcDataModel>> TroubleCodeService::readConfirmedCodes() {
    return readCodes(0x03, DtcStatus::Confirmed);
}

std::vector<std::shared_ptr<DtcDataModel>> TroubleCodeService::readPendingCodes() {
    return readCodes(0x07, DtcStatus::Pending);
}

std::vector<std::shared_ptr<DtcDataModel>> TroubleCodeService::readPermanentCodes() {
    return readCodes(0x0A, DtcStatus::Permanent);
}

std::shared_ptr<std::int32_t> TroubleCodeService::readMilIndicator() {
    std::optional<Bytes> data = client_.currentData(client_.selectedEcu(), 0x01);
    if (!data || data->size() != 4) {
        return nullptr;
    }
    return std::make_shared<std::int32_t>(((*data)[0] & 0x80) != 0 ? 1 : 0);
}

std::shared_ptr<std::int32_t> TroubleCodeService::readTroubleCodeCount() {
    std::optional<Bytes> data = client_.currentData(client_.selectedEcu(), 0x01);
    if (!data || data->size() != 4) {
        return nullptr;
    }
    return std::make_shared<std::int32_t>((*data)[0] & 0x7F);
}

std::uint8_t TroubleCodeService::readFreezeFrameCount() {
    // Frames are numbered from 0 without gaps; an unused frame has no code.
    const std::uint32_t ecu = client_.selectedEcu();
    std::uint8_t count = 0;
    while (count < 0xFF) {
        std::optional<Bytes> data = client_.freezeFrameData(ecu, kFreezeFrameCode, count);
        if (!data || data->size() != 2 || Code(*data, 0) == 0) {
            break;
        }
        ++count;
    }
    return count;
}

std::shared_ptr<DtcDataModel> TroubleCodeService::readFreezeFrameTroubleCode(std::uint8_t frame) {
    return freezeFrameTroubleCode(client_.selectedEcu(), frame);
}

std::shared_ptr<DtcDataModel> TroubleCodeService::freezeFrameTroubleCode(std::uint32_t ecu,
                                                                         std::uint8_t frame) {
    std::optional<Bytes> data = client_.freezeFrameData(ecu, kFreezeFrameCode, frame);
    if (!data || data->size() != 2 || Code(*data, 0) == 0) {
        return nullptr;
    }
    return BuildTroubleCode(Code(*data, 0), ecu, DtcStatus::FreezeFrame);
}

std::vector<ParameterIdentifier::Id> TroubleCodeService::readFreezeFramePids(std::uint8_t frame) {
    std::vector<ParameterIdentifier::Id> pids;
    const std::uint32_t ecu = client_.selectedEcu();
    if (!freezeFrameTroubleCode(ecu, frame)) {
        return pids;  // no frame stored under this number
    }
    for (std::uint8_t pid : client_.supported(ecu, 0x02, frame)) {
        if (pid != kFreezeFrameCode) {
            pids.push_back(static_cast<ParameterIdentifier::Id>(pid));
        }
    }
    return pids;
}

std::shared_ptr<ParameterDataModel> TroubleCodeService::readFreezeFrameParameter(
    std::uint8_t frame, ParameterIdentifier::Id pid) {
    const int number = static_cast<int>(pid);
    if (number < 0 || number > 0xFF) {
        return nullptr;
    }
    const std::uint32_t ecu = client_.selectedEcu();
    const std::uint8_t id = static_cast<std::uint8_t>(number);
    if (id != kFreezeFrameCode && client_.supported(ecu, 0x02, frame).count(id) == 0) {
        return nullptr;  // the frame's bitmaps leave it out
    }
    std::optional<Bytes> data = client_.freezeFrameData(ecu, id, frame);
    if (!data) {
        return nullptr;
    }
    // A frame holds one stored reading: no statistics.
    return BuildParameter(id, *data, nullptr, ecu);
}

bool TroubleCodeService::clearTroubleCodes() {
    // Clearing concerns the whole vehicle, so the request goes to every ECU;
    // it succeeded when every ECU that answered confirmed it.
    const std::vector<EcuResponse> responses = client_.connection().transact({0x04}, kAllEcus);
    if (responses.empty()) {
        return false;
    }
    for (const EcuResponse& response : responses) {
        if (response.payload != Bytes{0x44}) {
            return false;
        }
    }
    return true;
}

}  // namespace obd::detail
