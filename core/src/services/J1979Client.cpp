#include "services/J1979Client.h"

#include <algorithm>

#include "TroubleCodeCatalogue.h"
#include "j1979/Codec.h"

namespace obd::detail {

namespace {

constexpr std::uint8_t kBitmapStep = 0x20;
constexpr std::uint8_t kLastBitmap = 0xE0;

}  // namespace

J1979Client::J1979Client(std::shared_ptr<VehicleConnection> connection)
    : connection_(std::move(connection)) {}

std::optional<Bytes> J1979Client::query(const Bytes& request, std::size_t echo) {
    std::optional<Bytes> answer = connection_->request(request);
    if (!answer || answer->empty() ||
        (*answer)[0] != static_cast<std::uint8_t>(request[0] + 0x40)) {
        return std::nullopt;
    }
    if (answer->size() < 1 + echo ||
        !std::equal(request.begin() + 1, request.begin() + 1 + static_cast<std::ptrdiff_t>(echo),
                    answer->begin() + 1)) {
        return std::nullopt;
    }
    return Bytes(answer->begin() + 1, answer->end());
}

std::set<std::uint8_t> J1979Client::supported(std::uint8_t service,
                                              std::optional<std::uint8_t> frame) {
    std::set<std::uint8_t> ids;
    for (int base = 0; base <= kLastBitmap; base += kBitmapStep) {
        Bytes request{service, static_cast<std::uint8_t>(base)};
        if (frame) {
            request.push_back(*frame);
        }
        const std::size_t echo = request.size() - 1;
        std::optional<Bytes> answer = query(request, echo);
        if (!answer || answer->size() != echo + 4) {
            break;
        }
        const Bytes bitmap(answer->begin() + static_cast<std::ptrdiff_t>(echo), answer->end());
        for (int bit = 0; bit < 32; ++bit) {
            if ((bitmap[static_cast<std::size_t>(bit / 8)] & (0x80 >> (bit % 8))) != 0) {
                const int id = base + bit + 1;
                if (id % kBitmapStep != 0) {
                    ids.insert(static_cast<std::uint8_t>(id));
                }
            }
        }
        if ((bitmap[3] & 0x01) == 0) {
            break;
        }
    }
    return ids;
}

bool J1979Client::isPidSupported(int pid) {
    if (pid == 0xF4) {
        return connection_->batteryVoltage().has_value();
    }
    if (pid < 0 || pid > 0xFF) {
        return false;
    }
    if (pid % kBitmapStep == 0) {
        return currentData(static_cast<std::uint8_t>(pid)).has_value();
    }
    return supported(0x01).count(static_cast<std::uint8_t>(pid)) != 0;
}

std::optional<Bytes> J1979Client::currentData(std::uint8_t pid) {
    std::optional<Bytes> answer = query({0x01, pid}, 1);
    if (!answer) {
        return std::nullopt;
    }
    return Bytes(answer->begin() + 1, answer->end());
}

std::optional<Bytes> J1979Client::freezeFrameData(std::uint8_t pid, std::uint8_t frame) {
    std::optional<Bytes> answer = query({0x02, pid, frame}, 2);
    if (!answer) {
        return std::nullopt;
    }
    return Bytes(answer->begin() + 2, answer->end());
}

std::optional<std::pair<std::uint8_t, Bytes>> J1979Client::vehicleInformation(std::uint8_t type) {
    std::optional<Bytes> answer = query({0x09, type}, 1);
    if (!answer || answer->size() < 2) {
        return std::nullopt;
    }
    return std::make_pair((*answer)[1], Bytes(answer->begin() + 2, answer->end()));
}

std::shared_ptr<ParameterDataModel> BuildParameter(std::uint8_t pid, const Bytes& data,
                                                   SensorStatistics* statistics,
                                                   std::uint32_t ecu) {
    const j1979::PidDefinition* definition = j1979::FindPid(pid);
    if (definition == nullptr) {
        return nullptr;
    }
    std::vector<j1979::DecodedSensor> decoded;
    try {
        decoded = j1979::DecodePid(pid, data);
    } catch (const j1979::CodecError&) {
        // A vehicle that sends a wrong length has sent nothing usable.
        return nullptr;
    }
    auto parameter = std::make_shared<ParameterDataModel>();
    parameter->pid = static_cast<ParameterIdentifier::Id>(pid);
    parameter->name = definition->name;
    for (std::size_t i = 0; i < definition->sensors.size() && i < decoded.size(); ++i) {
        const j1979::SensorDefinition& sensorDefinition = definition->sensors[i];
        auto sensor = std::make_shared<SensorDataModel>();
        sensor->uid = Pid2Uid(parameter->pid) + static_cast<int>(i);
        sensor->name = sensorDefinition.name;
        sensor->unit = sensorDefinition.unit;
        if (sensorDefinition.numeric) {
            sensor->limits = std::make_shared<SensorLimitsDataModel>(
                SensorLimitsDataModel{sensorDefinition.minimum, sensorDefinition.maximum});
        }
        if (sensorDefinition.numeric && statistics != nullptr) {
            sensor->value =
                statistics->record(ecu, sensor->uid, decoded[i].number, decoded[i].text);
        } else {
            auto value = std::make_shared<SensorValueDataModel>();
            value->value = decoded[i].text;
            sensor->value = std::move(value);
        }
        parameter->sensors.push_back(std::move(sensor));
    }
    return parameter;
}

std::shared_ptr<DtcDataModel> BuildTroubleCode(std::uint16_t raw, std::uint32_t ecu,
                                               DtcStatus status) {
    auto code = std::make_shared<DtcDataModel>();
    code->code = j1979::DecodeTroubleCode(raw);
    code->description = DescribeTroubleCode(code->code);
    code->rawValue = raw;
    code->ecuAddress = ecu;
    code->status = status;
    return code;
}

std::string InfoText(const Bytes& data) {
    auto first = std::find_if(data.begin(), data.end(), [](std::uint8_t b) { return b != 0; });
    auto last = std::find_if(data.rbegin(), data.rend(), [](std::uint8_t b) { return b != 0; });
    if (first == data.end()) {
        return std::string();
    }
    return std::string(first, last.base());
}

}  // namespace obd::detail
