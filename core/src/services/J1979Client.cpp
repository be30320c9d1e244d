#include "services/J1979Client.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "bus/Hex.h"
#include "j1979/Codec.h"
#include "j1979/Responses.h"
#include "j1979/TroubleCodeCatalogue.h"

namespace obd::detail {

namespace {

constexpr auto kBitmapStep = static_cast<std::uint8_t>(kSupportIdStep);
constexpr std::uint8_t kLastBitmap = 0xE0;

// Requests every ECU of the vehicle answers when asked for them all: the
// support bitmaps, the code lists (an ECU without codes says so) and the
// code of freeze frame 0 (0000 when none is stored).
bool AnsweredByEveryEcu(const Bytes& request) {
    const std::uint8_t service = request.at(0);
    if (service == 0x03 || service == 0x07 || service == 0x0A) {
        return request.size() == 1;
    }
    if (service == 0x02) {
        return request == Bytes{0x02, 0x02, 0x00};
    }
    if (service != 0x01 && service != 0x06 && service != 0x08 && service != 0x09) {
        return false;
    }
    return request.size() > 1 && std::all_of(request.begin() + 1, request.end(),
                                             [](std::uint8_t id) { return IsSupportId(id); });
}

}  // namespace

J1979Client::J1979Client(std::shared_ptr<VehicleConnection> connection)
    : connection_(std::move(connection)) {}

std::optional<Bytes> J1979Client::query(std::uint32_t ecu, const Bytes& request, std::size_t echo) {
    AnswerMemo& memo = connection_->answerMemo();
    std::optional<Bytes> answer = memo.find(ecu, request);
    if (!answer && memo.held() && connection_->ecus().size() > 1 && AnsweredByEveryEcu(request)) {
        // A report asks each ECU for these: one request to all of them
        // answers for the others too.
        const std::uint64_t generation = memo.generation();
        for (EcuResponse& response : connection_->transact(request, kAllEcus)) {
            if (response.ecu == ecu) {
                answer = response.payload;
            }
            memo.store(generation, response.ecu, request, std::move(response.payload));
        }
    }
    if (!answer) {
        const std::uint64_t generation = memo.generation();
        answer = connection_->request(request, ecu);
        if (answer) {
            memo.store(generation, ecu, request, *answer);
        }
    }
    if (!answer || answer->empty() ||
        (*answer)[0] != static_cast<std::uint8_t>(request[0] + j1979::kPositiveResponseOffset)) {
        return std::nullopt;
    }
    if (answer->size() < 1 + echo ||
        !std::equal(request.begin() + 1, request.begin() + 1 + static_cast<std::ptrdiff_t>(echo),
                    answer->begin() + 1)) {
        return std::nullopt;
    }
    return Bytes(answer->begin() + 1, answer->end());
}

std::set<std::uint8_t> J1979Client::supported(std::uint32_t ecu, std::uint8_t service,
                                              std::optional<std::uint8_t> frame) {
    std::set<std::uint8_t> ids = announced(ecu, service, frame);
    for (auto id = ids.begin(); id != ids.end();) {
        id = IsSupportId(*id) ? ids.erase(id) : std::next(id);
    }
    return ids;
}

std::set<std::uint8_t> J1979Client::announced(std::uint32_t ecu, std::uint8_t service,
                                              std::optional<std::uint8_t> frame) {
    SupportCache& cache = connection_->supportCache();
    const int key = frame ? *frame : SupportCache::kNoFrame;
    if (std::optional<std::set<std::uint8_t>> known = cache.find(ecu, service, key)) {
        return std::move(*known);
    }
    // Noted before asking: what is read across a clearing is not kept.
    const std::uint64_t generation = cache.generation();
    std::set<std::uint8_t> ids = readBitmaps(ecu, service, frame, generation);
    // A first bitmap answered NO DATA or refused is the ECU's answer, kept
    // like a bitmap so that it is not asked again; one whose request failed
    // taught nothing (an adapter error the next request may not meet).
    if (ids.count(0x00) != 0 || !connection_->lastRequestFailed()) {
        cache.store(generation, ecu, service, key, ids);
    }
    return ids;
}

std::set<std::uint8_t> J1979Client::readBitmaps(std::uint32_t ecu, std::uint8_t service,
                                                std::optional<std::uint8_t> frame,
                                                std::uint64_t generation) {
    // Bitmaps of services 01, 06, 08 and 09 can be asked for together on
    // CAN: the ones after the first are fetched ahead and used only as far
    // as the chain reaches, so that the result is that of asking one by one.
    std::map<std::uint8_t, Bytes> fetched;
    std::set<std::uint8_t> fetchedTogether;
    std::set<std::uint8_t> ids;
    for (int base = 0; base <= kLastBitmap; base += kBitmapStep) {
        const std::uint8_t id = static_cast<std::uint8_t>(base);
        // Asked again each time: a refused batch ends batching at once.
        if (!frame && fetchedTogether.count(id) == 0 && connection_->multiPidRequests(service)) {
            std::vector<std::uint8_t> ahead;
            for (int next = base; next <= kLastBitmap && ahead.size() < kMaxPidsPerRequest;
                 next += kBitmapStep) {
                ahead.push_back(static_cast<std::uint8_t>(next));
            }
            if (auto together = dataTogether(ecu, service, ahead, generation)) {
                fetched = std::move(*together);
                fetchedTogether.insert(ahead.begin(), ahead.end());
            }
        }
        Bytes bitmap;
        if (fetchedTogether.count(id) != 0) {
            const auto found = fetched.find(id);
            if (found != fetched.end()) {
                bitmap = found->second;
            }
        } else {
            Bytes request{service, id};
            if (frame) {
                request.push_back(*frame);
            }
            const std::size_t echo = request.size() - 1;
            std::optional<Bytes> answer = query(ecu, request, echo);
            if (answer && answer->size() == echo + 4) {
                bitmap.assign(answer->begin() + static_cast<std::ptrdiff_t>(echo), answer->end());
            }
        }
        if (bitmap.size() != 4) {
            break;
        }
        ids.insert(id);
        for (int bit = 0; bit < 32; ++bit) {
            if ((bitmap[static_cast<std::size_t>(bit / 8)] & (0x80 >> (bit % 8))) != 0 &&
                base + bit + 1 <= 0xFF) {
                ids.insert(static_cast<std::uint8_t>(base + bit + 1));
            }
        }
        if ((bitmap[3] & 0x01) == 0) {
            break;
        }
    }
    return ids;
}

bool J1979Client::excluded(std::uint32_t ecu, std::uint8_t service, std::uint8_t id) {
    if (IsSupportId(id)) {
        return false;
    }
    const std::set<std::uint8_t> ids = announced(ecu, service, std::nullopt);
    return ids.count(0x00) != 0 && ids.count(id) == 0;
}

bool J1979Client::isPidSupported(std::uint32_t ecu, int pid) {
    if (pid == 0xF4) {
        return connection_->batteryVoltage().has_value();
    }
    if (pid < 0 || pid > 0xFF) {
        return false;
    }
    return announced(ecu, 0x01, std::nullopt).count(static_cast<std::uint8_t>(pid)) != 0;
}

std::optional<Bytes> J1979Client::currentData(std::uint32_t ecu, std::uint8_t pid) {
    if (excluded(ecu, 0x01, pid)) {
        return std::nullopt;
    }
    std::optional<Bytes> answer = query(ecu, {0x01, pid}, 1);
    if (!answer) {
        return std::nullopt;
    }
    return Bytes(answer->begin() + 1, answer->end());
}

std::optional<std::map<std::uint8_t, Bytes>> J1979Client::dataTogether(
    std::uint32_t ecu, std::uint8_t service, const std::vector<std::uint8_t>& pids,
    std::uint64_t generation) {
    Bytes request;
    request.reserve(1 + pids.size());
    request.push_back(service);
    request.insert(request.end(), pids.begin(), pids.end());
    AnswerMemo& memo = connection_->answerMemo();
    const std::uint64_t memoGeneration = memo.generation();
    std::optional<Bytes> answer = query(ecu, request, 0);
    std::optional<std::map<std::uint8_t, Bytes>> split;
    if (answer) {
        split = SplitCurrentData(*answer, pids);
    }
    if (split) {
        // Each PID is kept as the answer to a request of its own, which is
        // how every other reader asks for it.
        for (const auto& [pid, data] : *split) {
            Bytes single{static_cast<std::uint8_t>(service + j1979::kPositiveResponseOffset), pid};
            single.insert(single.end(), data.begin(), data.end());
            memo.store(memoGeneration, ecu, {service, pid}, std::move(single));
        }
    }
    if (!split) {
        // No answer, a refusal or one that cannot be taken apart safely: an
        // adapter or ECU that does not take several PIDs at once (a clone
        // answering "?", a negative response). Asking it so again would
        // only cost another round trip each time.
        connection_->supportCache().refuseMultiPid(generation, service);
    }
    return split;
}

std::map<std::uint8_t, Bytes> J1979Client::currentData(std::uint32_t ecu,
                                                       const std::vector<std::uint8_t>& pids) {
    const std::uint64_t generation = connection_->supportCache().generation();
    std::map<std::uint8_t, Bytes> data;
    auto single = [&](std::uint8_t pid) {
        if (data.count(pid) != 0) {
            return;
        }
        if (std::optional<Bytes> bytes = currentData(ecu, pid)) {
            data.emplace(pid, std::move(*bytes));
        }
    };
    // A batch holds distinct PIDs of known length, in the caller's order;
    // one the vehicle will not take together is asked for PID by PID, so
    // that the refusal costs no data.
    // Within a snapshot every ECU's answer to a functional request is kept,
    // so one request serves a reading of them all, once every ECU's bitmaps
    // were read (a reader of one ECU never reads the others'): the adapter
    // is then told how many answers to wait for. One whose answer of this
    // ECU failed is asked again of this ECU alone.
    const bool ofAll = connection_->answerMemo().held() && connection_->ecus().size() > 1;
    auto flush = [&](std::vector<std::uint8_t>& batch) {
        std::optional<std::map<std::uint8_t, Bytes>> together;
        if (ofAll && !batch.empty() && answerFrames(batch) != 0) {
            together = currentDataOfAll(ecu, batch);
        }
        if (!together && batch.size() > 1 && connection_->multiPidRequests()) {
            together = dataTogether(ecu, 0x01, batch, generation);
        }
        if (together) {
            data.insert(together->begin(), together->end());
        } else {
            for (std::uint8_t pid : batch) {
                single(pid);
            }
        }
        batch.clear();
    };
    std::vector<std::uint8_t> batch;
    for (std::uint8_t pid : pids) {
        if (data.count(pid) != 0 || excluded(ecu, 0x01, pid)) {
            continue;
        }
        if (connection_->answerMemo().find(ecu, {0x01, pid})) {
            single(pid);  // answered from the snapshot, without a request
            continue;
        }
        if (!connection_->multiPidRequests() || j1979::CurrentDataLength(pid) == 0) {
            single(pid);
            continue;
        }
        if (std::find(batch.begin(), batch.end(), pid) != batch.end()) {
            continue;
        }
        batch.push_back(pid);
        if (batch.size() == kMaxPidsPerRequest) {
            flush(batch);
        }
    }
    flush(batch);
    return data;
}

std::optional<std::map<std::uint8_t, Bytes>> J1979Client::currentDataOfAll(
    std::uint32_t ecu, const std::vector<std::uint8_t>& pids) {
    Bytes request{0x01};
    request.insert(request.end(), pids.begin(), pids.end());
    AnswerMemo& memo = connection_->answerMemo();
    const std::uint64_t generation = memo.generation();
    std::optional<std::map<std::uint8_t, Bytes>> own;
    for (const EcuResponse& response :
         connection_->transact(request, kAllEcus, answerFrames(pids))) {
        const Bytes& payload = response.payload;
        if (payload.empty() || payload[0] != 0x41) {
            continue;
        }
        auto split = SplitCurrentData(Bytes(payload.begin() + 1, payload.end()), pids);
        if (!split) {
            continue;
        }
        // Kept as answers to a request of each PID's own, as dataTogether
        // keeps them.
        for (const auto& [pid, data] : *split) {
            Bytes single{0x41, pid};
            single.insert(single.end(), data.begin(), data.end());
            memo.store(generation, response.ecu, {0x01, pid}, std::move(single));
        }
        if (response.ecu == ecu) {
            own = std::move(split);
        }
    }
    return own;
}

std::size_t J1979Client::answerFrames(const std::vector<std::uint8_t>& pids) const {
    const SupportCache& support = connection_->supportCache();
    std::size_t frames = 0;
    for (std::uint32_t each : connection_->ecus()) {
        const auto announced = support.find(each, 0x01, SupportCache::kNoFrame);
        if (!announced) {
            return 0;
        }
        std::vector<std::uint8_t> answered;
        for (std::uint8_t pid : pids) {
            if (announced->count(pid) != 0) {
                answered.push_back(pid);
            }
        }
        // An ECU that supports none of them stays silent (SAE J1979).
        if (!answered.empty()) {
            const std::size_t answer = j1979::CurrentDataAnswerFrames(answered);
            if (answer == 0) {
                return 0;
            }
            frames += answer;
        }
    }
    return frames;
}

std::optional<Bytes> J1979Client::freezeFrameData(std::uint32_t ecu, std::uint8_t pid,
                                                  std::uint8_t frame) {
    readFreezeFrameAhead(ecu, pid, frame);
    std::optional<Bytes> answer = query(ecu, {0x02, pid, frame}, 2);
    if (!answer) {
        return std::nullopt;
    }
    return Bytes(answer->begin() + 2, answer->end());
}

void J1979Client::readFreezeFrameAhead(std::uint32_t ecu, std::uint8_t pid, std::uint8_t frame) {
    AnswerMemo& memo = connection_->answerMemo();
    SupportCache& support = connection_->supportCache();
    // The frame's trouble code (PID 02) is how a frame is found: it is read
    // before the frame's bitmaps are, so nothing is read ahead of it.
    constexpr std::uint8_t kFreezeFrameCode = 0x02;
    if (pid == kFreezeFrameCode || !memo.held() || !connection_->multiPidRequests(0x02) ||
        j1979::CurrentDataLength(pid) == 0 || memo.find(ecu, {0x02, pid, frame})) {
        return;
    }
    std::vector<std::uint8_t> batch{pid};
    for (std::uint8_t next : supported(ecu, 0x02, frame)) {
        if (batch.size() == kMaxFreezeFramePidsPerRequest) {
            break;
        }
        if (next > pid && j1979::CurrentDataLength(next) != 0 &&
            !memo.find(ecu, {0x02, next, frame})) {
            batch.push_back(next);
        }
    }
    if (batch.size() < 2) {
        return;
    }
    Bytes request{0x02};
    for (std::uint8_t id : batch) {
        request.push_back(id);
        request.push_back(frame);
    }
    const std::uint64_t generation = memo.generation();
    const std::uint64_t supportGeneration = support.generation();
    std::optional<Bytes> answer = query(ecu, request, 0);
    std::optional<std::map<std::uint8_t, Bytes>> split;
    if (answer) {
        split = SplitFreezeFrameData(*answer, batch, frame);
    }
    if (!split) {
        // Read one by one from now on, as after any refused batch.
        support.refuseMultiPid(supportGeneration, 0x02);
        return;
    }
    for (const auto& [id, data] : *split) {
        Bytes single{0x42, id, frame};
        single.insert(single.end(), data.begin(), data.end());
        memo.store(generation, ecu, {0x02, id, frame}, std::move(single));
    }
}

std::optional<std::pair<std::uint8_t, Bytes>> J1979Client::vehicleInformation(std::uint32_t ecu,
                                                                              std::uint8_t type) {
    if (excluded(ecu, 0x09, type)) {
        return std::nullopt;
    }
    std::optional<Bytes> answer = query(ecu, {0x09, type}, 1);
    if (!answer || answer->size() < 2) {
        return std::nullopt;
    }
    return std::make_pair((*answer)[1], Bytes(answer->begin() + 2, answer->end()));
}

std::optional<Bytes> J1979Client::testResults(std::uint32_t ecu, std::uint8_t mid) {
    if (excluded(ecu, 0x06, mid)) {
        return std::nullopt;
    }
    return query(ecu, {0x06, mid}, 1);
}

namespace {

// Records of PID, then `frame` where given, then the PID's data bytes.
std::optional<std::map<std::uint8_t, Bytes>> SplitRecords(
    const Bytes& data, const std::vector<std::uint8_t>& requested,
    std::optional<std::uint8_t> frame) {
    const std::size_t header = frame ? 2 : 1;
    std::map<std::uint8_t, Bytes> split;
    std::size_t offset = 0;
    while (offset < data.size()) {
        const std::uint8_t pid = data[offset];
        const std::size_t length = j1979::CurrentDataLength(pid);
        if (length == 0 || split.count(pid) != 0 ||
            std::find(requested.begin(), requested.end(), pid) == requested.end() ||
            data.size() - offset < header + length || (frame && data[offset + 1] != *frame)) {
            return std::nullopt;
        }
        const auto first = data.begin() + static_cast<std::ptrdiff_t>(offset + header);
        split.emplace(pid, Bytes(first, first + static_cast<std::ptrdiff_t>(length)));
        offset += header + length;
    }
    return split;
}

}  // namespace

std::optional<std::map<std::uint8_t, Bytes>> SplitCurrentData(
    const Bytes& data, const std::vector<std::uint8_t>& requested) {
    return SplitRecords(data, requested, std::nullopt);
}

std::optional<std::map<std::uint8_t, Bytes>> SplitFreezeFrameData(
    const Bytes& data, const std::vector<std::uint8_t>& requested, std::uint8_t frame) {
    return SplitRecords(data, requested, frame);
}

namespace {

// One text sensor holding the data bytes in hex, e.g. "0B B8 00".
std::shared_ptr<ParameterDataModel> RawParameter(std::uint8_t pid,
                                                 const j1979::PidDefinition* definition,
                                                 const Bytes& data) {
    auto parameter = std::make_shared<ParameterDataModel>();
    parameter->pid = static_cast<ParameterIdentifier::Id>(pid);
    parameter->name = definition != nullptr ? definition->name : kUndecodedParameterName;
    auto sensor = std::make_shared<SensorDataModel>();
    sensor->uid = Pid2Uid(parameter->pid);
    sensor->name = kRawDataSensorName;
    sensor->value = std::make_shared<SensorValueDataModel>();
    sensor->value->value = bus::ToHex(data);
    parameter->sensors.push_back(std::move(sensor));
    return parameter;
}

}  // namespace

std::shared_ptr<ParameterDataModel> BuildParameter(std::uint8_t pid, const Bytes& data,
                                                   SensorStatistics* statistics,
                                                   std::uint32_t ecu) {
    const j1979::PidDefinition* definition = j1979::FindPid(pid);
    std::vector<j1979::DecodedSensor> decoded;
    try {
        decoded = j1979::DecodePid(pid, data);
    } catch (const j1979::CodecError&) {
        // A PID without a known layout, or one of another length than its
        // layout: what the vehicle said is shown as it came.
        return RawParameter(pid, definition, data);
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
            if (sensorDefinition.numeric && !decoded[i].text.empty() &&
                std::isfinite(decoded[i].number)) {
                value->number = decoded[i].number;
            }
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
    // Some ECUs fill an item past its text with 0xFF instead of zeros.
    auto last = std::find_if(data.rbegin(), data.rend(),
                             [](std::uint8_t b) { return b != 0 && b != 0xFF; });
    if (first == data.end() || last.base() <= first) {
        return std::string();
    }
    return std::string(first, last.base());
}

}  // namespace obd::detail
