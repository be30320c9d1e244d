// Fuzzes the whole dialogue with an ELM327-compatible adapter: the core
// opens a connection through a fake adapter whose every answer comes from
// the input, then reads what a scan reads: the supported PIDs, live data
// one PID and several at a time, the trouble codes, the VIN and the
// battery voltage.
//
// Whatever the adapter prints, the core must return, never crash or wait
// for ever; every value it reads lies within its sensor's range; and data
// never comes from a CAN frame shorter than its length byte declares.
//
// Input: the adapter's side of the dialogue, split into answers after each
// ">" prompt. Each command the core sends is answered with the next answer;
// an answer with nothing before its prompt is a stray prompt and goes out
// together with the answer after it. A last answer without a prompt goes
// out as it is; after it the adapter is gone (the data connection invalid).

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "obd/DataBridge.h"
#include "obd/IConnectionManager.h"
#include "obd/IConnectionService.h"
#include "obd/IEcuService.h"
#include "obd/ISensorService.h"
#include "obd/ITroubleCodeService.h"
#include "obd/elm327/AdapterQuorvix.h"

namespace {

using obd::ParameterIdentifier::Id;
using zelt::fuzz::Check;

// The fake adapter, as the far end of the core's data bridge. It answers
// within send(), so every byte it will ever send for a command is there
// before the core waits for it: a wait could only time out, and ends at
// once.
class ScriptedAdapter : public obd::DataBridge {
public:
    explicit ScriptedAdapter(std::string_view dialogue) : rest_(dialogue) {}

    void send(const obd::Bytes& data) override {
        DataBridge::send(data);
        obd::Bytes commands;
        get(commands);
        for (std::uint8_t byte : commands) {
            if (byte != '\r') {
                command_ += static_cast<char>(byte);
                continue;
            }
            answer();
            command_.clear();
        }
    }

    bool receive(obd::Bytes& data, std::int32_t) override { return DataBridge::receive(data, 0); }

    // Whether every answer to a vehicle request since the last call held a
    // CAN frame shorter than it declares (false when there was none).
    bool onlyShortFramesSince() {
        const bool only = vehicleAnswers_ > 0 && shortAnswers_ == vehicleAnswers_;
        vehicleAnswers_ = 0;
        shortAnswers_ = 0;
        return only;
    }

private:
    void answer() {
        if (rest_.empty()) {
            invalidate();
            return;
        }
        std::string sent;
        bool blank = true;
        while (blank && !rest_.empty()) {
            const std::size_t prompt = rest_.find('>');
            const std::size_t end = prompt == std::string_view::npos ? rest_.size() : prompt + 1;
            const std::string_view piece = rest_.substr(0, end);
            blank = piece.find_first_not_of("\r\n >") == std::string_view::npos;
            sent += piece;
            rest_.remove_prefix(end);
        }
        if (command_.rfind("AT", 0) != 0) {
            ++vehicleAnswers_;
            shortAnswers_ += HoldsShortFrame(sent) ? 1 : 0;
        }
        set(obd::Bytes(sent.begin(), sent.end()));
    }

    // Whether a line of `text` is a CAN frame with headers (the identifier,
    // 3 hex digits for 11 bits or 8 for 29, then the ISO 15765-2 bytes) that
    // holds fewer bytes than its first byte declares: a single frame its
    // length plus one, a first frame eight.
    static bool HoldsShortFrame(const std::string& text) {
        std::string digits;
        for (std::size_t at = 0; at <= text.size(); ++at) {
            const char c = at < text.size() ? text[at] : '\r';
            if (c == ' ') {
                continue;
            }
            if (c != '\r' && c != '\n' && c != '\0' && c != '>') {
                digits += c;
                continue;
            }
            const std::size_t idLength = digits.size() % 2 != 0 ? 3 : 8;
            if (digits.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos &&
                digits.size() >= idLength + 2 && digits.size() <= idLength + 16) {
                const std::size_t bytes = (digits.size() - idLength) / 2;
                const unsigned first = std::stoul(digits.substr(idLength, 2), nullptr, 16);
                if ((first >> 4 == 0 && (first & 0x0F) + 1u > bytes) ||
                    (first >> 4 == 1 && bytes < 8)) {
                    return true;
                }
            }
            digits.clear();
        }
        return false;
    }

    std::string_view rest_;
    std::string command_;
    int vehicleAnswers_ = 0;
    int shortAnswers_ = 0;
};

// A numeric value's text ("750", "-40", "12.5") lies within the sensor's
// limits, give or take the limits' float rounding and the text's.
void CheckWithinLimits(const obd::ParameterDataModel& parameter) {
    for (const auto& sensor : parameter.sensors) {
        if (!sensor->limits || !sensor->value) {
            continue;
        }
        const std::string& text = sensor->value->value;
        char* end = nullptr;
        const double number = std::strtod(text.c_str(), &end);
        if (end == text.c_str()) {
            continue;  // not a number (a state, a time)
        }
        const double minimum = sensor->limits->minimum;
        const double maximum = sensor->limits->maximum;
        const double slack = 0.01 + std::max(std::abs(minimum), std::abs(maximum)) * 1e-6;
        Check(std::isfinite(number) && number >= minimum - slack && number <= maximum + slack,
              "a value outside its sensor's limits", sensor->name + " = " + text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto adapter = std::make_shared<ScriptedAdapter>(
        std::string_view(reinterpret_cast<const char*>(data), size));
    const auto root = obd::elm327::AdapterQuorvix::create();
    const auto manager = root->getConnectionManager();
    manager->setTimeout(1);
    if (!manager->openConnection(adapter, obd::DataLinkProtocol::Automatic, true)) {
        return 0;
    }
    const auto connection = root->createConnectionService();
    const auto sensors = root->createSensorService(connection);
    const auto codes = root->createTroubleCodeService(connection);
    const auto ecu = root->createEcuService(connection);
    const obd::DataLinkProtocol protocol = manager->getProtocol();
    // On the older buses a line is a message, not a CAN frame.
    const bool can = static_cast<int>(protocol) >= 6 && static_cast<int>(protocol) <= 9;

    auto checkRead = [&](const std::vector<std::shared_ptr<obd::ParameterDataModel>>& read) {
        const bool onlyShortFrames = adapter->onlyShortFramesSince();
        for (const auto& parameter : read) {
            Check(!(can && onlyShortFrames), "data from a frame shorter than it declares",
                  parameter->name);
            CheckWithinLimits(*parameter);
        }
    };

    sensors->getPids();
    adapter->onlyShortFramesSince();
    for (Id pid : {Id::EngineSpeed, Id::VehicleSpeed, Id::EngineCoolantTemperature}) {
        const auto parameter = sensors->getParameter(pid);
        checkRead(parameter ? std::vector{parameter}
                            : std::vector<std::shared_ptr<obd::ParameterDataModel>>{});
    }
    checkRead(
        sensors->readParameters({Id::EngineSpeed, Id::VehicleSpeed, Id::CalculatedEngineLoad}));
    for (const auto& code : codes->readConfirmedCodes()) {
        Check(code->code.size() == 5, "a trouble code that is not five characters", code->code);
    }
    codes->readPendingCodes();
    ecu->readVin();
    if (const auto voltage = sensors->getParameter(Id::BatteryVoltage)) {
        CheckWithinLimits(*voltage);
    }
    manager->closeConnection();
    return 0;
}
