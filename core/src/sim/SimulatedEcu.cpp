#include "sim/SimulatedEcu.h"

#include <algorithm>
#include <utility>

#include "bus/Addressing.h"
#include "bus/IsoTp.h"
#include "j1979/Codec.h"

namespace obd::sim {

namespace {

constexpr auto kBitmapStep = static_cast<std::uint8_t>(kSupportIdStep);

bool IsBitmapId(std::uint8_t id) {
    return IsSupportId(id);
}

void Append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

void AppendCode(Bytes& to, std::uint16_t code) {
    to.push_back(static_cast<std::uint8_t>(code >> 8));
    to.push_back(static_cast<std::uint8_t>(code & 0xFF));
}

// Whether `request` asks only for support bitmaps (up to six distinct ids,
// as CAN allows for services 06, 08 and 09).
bool AsksForBitmapsOnly(const Bytes& request) {
    if (request.size() < 2 || request.size() > 7) {
        return false;
    }
    const std::set<std::uint8_t> ids(request.begin() + 1, request.end());
    return ids.size() == request.size() - 1 && std::all_of(ids.begin(), ids.end(), IsBitmapId);
}

}  // namespace

Bytes SupportBitmap(const std::set<std::uint8_t>& ids, std::uint8_t base) {
    Bytes bitmap(4, 0);
    for (std::uint8_t id : ids) {
        if (id > base && id - base <= kBitmapStep) {
            const int bit = id - base - 1;  // 0 = most significant bit of the first byte
            bitmap[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));
        } else if (id > base + kBitmapStep) {
            bitmap[3] |= 0x01;  // more bitmaps follow
        }
    }
    return bitmap;
}

std::set<std::uint8_t> BitmapIds(const std::set<std::uint8_t>& ids) {
    std::set<std::uint8_t> bitmaps{0x00};
    if (!ids.empty()) {
        const std::uint8_t highest = *ids.rbegin();
        for (int base = kBitmapStep; base < highest; base += kBitmapStep) {
            bitmaps.insert(static_cast<std::uint8_t>(base));
        }
    }
    return bitmaps;
}

SimulatedEcu::SimulatedEcu(EcuModel model)
    : responseId_(model.address), padding_(model.padding), model_(std::move(model)) {}

std::uint32_t SimulatedEcu::requestId() const {
    return bus::RequestIdFor(responseId_);
}

std::optional<Bytes> SimulatedEcu::answer(const Bytes& request, bool functional,
                                          double secondsSinceOpen) {
    if (request.empty()) {
        return std::nullopt;
    }
    orvane::MutexLock lock(mutex_);
    switch (request[0]) {
        case 0x01:
            return currentData(request, functional, secondsSinceOpen);
        case 0x02:
            return freezeFrameData(request, functional);
        case 0x03:
            return troubleCodes(0x03, request, functional, model_.confirmed);
        case 0x04:
            return clearCodes(request, functional, secondsSinceOpen);
        case 0x06:
            return testResults(request, functional);
        case 0x07:
            return troubleCodes(0x07, request, functional, model_.pending);
        case 0x08:
            return testRoutine(request, functional);
        case 0x09:
            return vehicleInformation(request, functional);
        case 0x0A:
            return troubleCodes(0x0A, request, functional, model_.permanent);
        default:
            return negative(request[0], nrc::kServiceNotSupported, functional);
    }
}

SimulatedEcu::Answer SimulatedEcu::negative(std::uint8_t service, std::uint8_t code,
                                            bool functional) const {
    // On a broadcast an ECU does not complain about what it does not
    // support; refusals for other reasons are still sent.
    if (functional &&
        (code == nrc::kServiceNotSupported || code == nrc::kSubFunctionNotSupported)) {
        return std::nullopt;
    }
    return Bytes{kNegativeResponse, service, code};
}

std::set<std::uint8_t> SimulatedEcu::supportedPids() const {
    std::set<std::uint8_t> pids{0x01};
    for (const auto& entry : model_.pids) {
        pids.insert(entry.first);
    }
    if (model_.hasThisCycle) {
        pids.insert(0x41);
    }
    return pids;
}

Bytes SimulatedEcu::monitorStatus(const MonitorSet& monitors, bool withMilAndCount) const {
    Bytes data(4, 0);
    if (withMilAndCount) {
        const std::size_t count = std::min<std::size_t>(model_.confirmed.size(), 0x7F);
        data[0] = static_cast<std::uint8_t>((model_.mil ? 0x80 : 0x00) | count);
    }
    if (model_.ignition == Ignition::Compression) {
        data[1] |= static_cast<std::uint8_t>(1 << j1979::kIgnitionTypeBit);
    }
    for (std::size_t i = 0; i < monitors.continuous.size(); ++i) {
        if (monitors.continuous[i] != MonitorState::Unsupported) {
            data[1] |= static_cast<std::uint8_t>(1 << i);
        }
        if (monitors.continuous[i] == MonitorState::Incomplete) {
            data[1] |= static_cast<std::uint8_t>(0x10 << i);
        }
    }
    for (std::size_t i = 0; i < monitors.nonContinuous.size(); ++i) {
        if (monitors.nonContinuous[i] != MonitorState::Unsupported) {
            data[2] |= static_cast<std::uint8_t>(1 << i);
        }
        if (monitors.nonContinuous[i] == MonitorState::Incomplete) {
            data[3] |= static_cast<std::uint8_t>(1 << i);
        }
    }
    return data;
}

std::optional<Bytes> SimulatedEcu::pidData(std::uint8_t pid, double t) const {
    if (pid == 0x01) {
        return monitorStatus(model_.sinceReset, true);
    }
    if (pid == 0x41) {
        if (!model_.hasThisCycle) {
            return std::nullopt;
        }
        return monitorStatus(model_.thisCycle, false);
    }
    const auto found = model_.pids.find(pid);
    if (found == model_.pids.end()) {
        return std::nullopt;
    }
    const PidSource& source = found->second;
    if (source.raw) {
        return source.data;
    }
    double elapsed = t;
    const auto restarted = restartedAt_.find(pid);
    if (restarted != restartedAt_.end() && t >= restarted->second) {
        elapsed = t - restarted->second;
    }
    const j1979::PidDefinition* definition = j1979::FindPid(pid);
    std::vector<double> values;
    for (std::size_t i = 0; i < source.values.size(); ++i) {
        double value = source.values[i].at(elapsed);
        // Ramps and profiles run into the range limits like a real counter
        // that saturates.
        if (definition != nullptr && i < definition->sensors.size()) {
            value = std::clamp(value, static_cast<double>(definition->sensors[i].minimum),
                               static_cast<double>(definition->sensors[i].maximum));
        }
        values.push_back(value);
    }
    try {
        return j1979::EncodePid(pid, values);
    } catch (const j1979::CodecError&) {
        return std::nullopt;
    }
}

SimulatedEcu::Answer SimulatedEcu::currentData(const Bytes& request, bool functional, double t) {
    // CAN allows up to six PIDs in one request.
    if (request.size() < 2 || request.size() > 7) {
        return negative(0x01, nrc::kSubFunctionNotSupported, functional);
    }
    const std::set<std::uint8_t> supported = supportedPids();
    const std::set<std::uint8_t> bitmaps = BitmapIds(supported);
    Bytes response{0x41};
    for (std::size_t i = 1; i < request.size(); ++i) {
        const std::uint8_t pid = request[i];
        if (IsBitmapId(pid)) {
            if (bitmaps.count(pid) != 0) {
                response.push_back(pid);
                Append(response, SupportBitmap(supported, pid));
            }
            continue;
        }
        if (supported.count(pid) == 0) {
            continue;
        }
        if (std::optional<Bytes> data = pidData(pid, t)) {
            response.push_back(pid);
            Append(response, *data);
        }
    }
    if (response.size() == 1) {
        return negative(0x01, nrc::kSubFunctionNotSupported, functional);
    }
    return response;
}

SimulatedEcu::Answer SimulatedEcu::freezeFrameData(const Bytes& request, bool functional) {
    // Pairs of PID and frame number.
    if (request.size() < 3 || request.size() % 2 == 0) {
        return negative(0x02, nrc::kSubFunctionNotSupported, functional);
    }
    Bytes response{0x42};
    for (std::size_t i = 1; i + 1 < request.size(); i += 2) {
        const std::uint8_t pid = request[i];
        const std::uint8_t frame = request[i + 1];
        std::set<std::uint8_t> stored{0x02};
        const FreezeFrameModel* model = nullptr;
        if (frame < model_.freezeFrames.size()) {
            model = &model_.freezeFrames[frame];
            for (const auto& entry : model->pids) {
                stored.insert(entry.first);
            }
        } else if (frame != 0) {
            continue;  // frame 0 answers even when empty: with code 0000
        }
        Bytes data;
        if (IsBitmapId(pid)) {
            if (BitmapIds(stored).count(pid) == 0) {
                continue;
            }
            data = SupportBitmap(stored, pid);
        } else if (pid == 0x02) {
            AppendCode(data, model != nullptr ? model->code : 0);
        } else if (model != nullptr && model->pids.count(pid) != 0) {
            data = model->pids.at(pid);
        } else {
            continue;
        }
        response.push_back(pid);
        response.push_back(frame);
        Append(response, data);
    }
    if (response.size() == 1) {
        return negative(0x02, nrc::kSubFunctionNotSupported, functional);
    }
    return response;
}

SimulatedEcu::Answer SimulatedEcu::troubleCodes(std::uint8_t service, const Bytes& request,
                                                bool functional,
                                                const std::vector<std::uint16_t>& codes) {
    if (request.size() != 1) {
        return negative(service, nrc::kSubFunctionNotSupported, functional);
    }
    // On CAN the codes follow a count byte, so that an answer without codes
    // is "43 00" and padding is never read as a code.
    const std::size_t count = std::min<std::size_t>(codes.size(), 0xFF);
    Bytes response{static_cast<std::uint8_t>(service + kPositiveResponseOffset),
                   static_cast<std::uint8_t>(count)};
    for (std::size_t i = 0; i < count; ++i) {
        AppendCode(response, codes[i]);
    }
    return response;
}

SimulatedEcu::Answer SimulatedEcu::clearCodes(const Bytes& request, bool functional, double t) {
    if (request.size() != 1) {
        return negative(0x04, nrc::kSubFunctionNotSupported, functional);
    }
    if (!model_.clear.accepted) {
        return negative(0x04, model_.clear.refusalCode, functional);
    }
    model_.confirmed.clear();
    model_.pending.clear();
    model_.freezeFrames.clear();
    model_.mil = false;
    if (model_.clear.clearTestResults) {
        model_.testResults.clear();
    }
    if (model_.clear.resetReadiness) {
        // Non-continuous monitors start over; the continuous ones run all
        // the time and stay complete.
        for (MonitorState& state : model_.sinceReset.nonContinuous) {
            if (state != MonitorState::Unsupported) {
                state = MonitorState::Incomplete;
            }
        }
    }
    for (const auto& [pid, source] : model_.clear.pids) {
        model_.pids[pid] = source;
        restartedAt_[pid] = t;
    }
    return Bytes{0x44};
}

SimulatedEcu::Answer SimulatedEcu::bitmaps(std::uint8_t service, const Bytes& request,
                                           const std::set<std::uint8_t>& ids, bool functional) {
    // Several bitmap ids may share a request; after a single id, the bytes
    // that follow (service 08's data on the older buses) are no ids.
    const Bytes asked =
        AsksForBitmapsOnly(request) ? Bytes(request.begin() + 1, request.end()) : Bytes{request[1]};
    const std::set<std::uint8_t> announced = BitmapIds(ids);
    Bytes response{static_cast<std::uint8_t>(service + kPositiveResponseOffset)};
    for (std::uint8_t id : asked) {
        if (announced.count(id) != 0) {
            response.push_back(id);
            Append(response, SupportBitmap(ids, id));
        }
    }
    if (response.size() == 1) {
        return negative(service, nrc::kSubFunctionNotSupported, functional);
    }
    return response;
}

SimulatedEcu::Answer SimulatedEcu::testResults(const Bytes& request, bool functional) {
    if (request.size() != 2 && !AsksForBitmapsOnly(request)) {
        return negative(0x06, nrc::kSubFunctionNotSupported, functional);
    }
    const std::uint8_t mid = request[1];
    std::set<std::uint8_t> mids;
    for (const auto& entry : model_.testResults) {
        mids.insert(entry.first);
    }
    if (IsBitmapId(mid)) {
        return bitmaps(0x06, request, mids, functional);
    }
    const auto found = model_.testResults.find(mid);
    if (found == model_.testResults.end()) {
        return negative(0x06, nrc::kSubFunctionNotSupported, functional);
    }
    // Each 9-byte record repeats the MID.
    Bytes response{0x46};
    for (const Bytes& record : found->second) {
        Append(response, record);
    }
    return response;
}

SimulatedEcu::Answer SimulatedEcu::testRoutine(const Bytes& request, bool functional) {
    if (request.size() < 2 || request.size() > 7) {
        return negative(0x08, nrc::kSubFunctionNotSupported, functional);
    }
    const std::uint8_t tid = request[1];
    std::set<std::uint8_t> tids;
    for (const auto& entry : model_.routines) {
        tids.insert(entry.first);
    }
    if (IsBitmapId(tid)) {
        return bitmaps(0x08, request, tids, functional);
    }
    const auto found = model_.routines.find(tid);
    if (found == model_.routines.end()) {
        return negative(0x08, nrc::kSubFunctionNotSupported, functional);
    }
    if (!found->second.accepted) {
        return negative(0x08, found->second.refusalCode, functional);
    }
    Bytes response{0x48, tid};
    Append(response, found->second.data);
    return response;
}

SimulatedEcu::Answer SimulatedEcu::vehicleInformation(const Bytes& request, bool functional) {
    if (request.size() != 2 && !AsksForBitmapsOnly(request)) {
        return negative(0x09, nrc::kSubFunctionNotSupported, functional);
    }
    const std::uint8_t type = request[1];
    std::set<std::uint8_t> types;
    for (const auto& entry : model_.info) {
        types.insert(entry.first);
    }
    if (IsBitmapId(type)) {
        return bitmaps(0x09, request, types, functional);
    }
    const auto found = model_.info.find(type);
    if (found == model_.info.end()) {
        return negative(0x09, nrc::kSubFunctionNotSupported, functional);
    }
    // The count byte (number of data items) leads the data on CAN.
    Bytes response{0x49, type, found->second.count};
    Append(response, found->second.data);
    return response;
}

}  // namespace obd::sim
