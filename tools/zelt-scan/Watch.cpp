#include "Watch.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "AdapterStatus.h"
#include "JsonReport.h"
#include "Printable.h"

namespace zelt::scan {

namespace {

using obd::ParameterIdentifier::Id;

Id ParsePid(const std::string& text) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
    }
    const bool hex = !digits.empty() && digits.size() <= 2 &&
                     std::all_of(digits.begin(), digits.end(), [](char c) {
                         return std::isxdigit(static_cast<unsigned char>(c));
                     });
    if (!hex) {
        throw UsageError("invalid PID '" + Printable(text) +
                         "': give a hexadecimal parameter number such as 0C or 0x0C");
    }
    return static_cast<Id>(std::stoi(digits, nullptr, 16));
}

}  // namespace

std::vector<Id> ParsePidList(const std::string& list) {
    std::vector<Id> pids;
    std::stringstream stream(list);
    std::string item;
    while (std::getline(stream, item, ',')) {
        pids.push_back(ParsePid(item));
    }
    if (pids.empty()) {
        throw UsageError("--watch needs at least one PID");
    }
    return pids;
}

void Watch(Session& session, const WatchOptions& options, std::ostream& out) {
    auto& parameters = session.parameters();
    const auto supported = parameters.getPids();
    std::vector<std::string> names;
    for (Id pid : options.pids) {
        const auto description =
            std::find(supported.begin(), supported.end(), pid) != supported.end()
                ? parameters.getParameter(pid)
                : nullptr;
        if (!description) {
            // A vehicle that went away mid-question supports nothing; that
            // is no fault of the PID the user gave.
            const std::string gone = AdapterGone(session);
            if (!gone.empty()) {
                throw std::runtime_error(gone);
            }
            throw UsageError("unknown PID " + PidText(pid) + ": the vehicle does not support it");
        }
        names.push_back(description->name);
    }

    for (int reading = 1; reading <= options.count; ++reading) {
        if (reading > 1) {
            std::this_thread::sleep_for(options.interval);
        }
        std::vector<std::vector<std::shared_ptr<SensorModel>>> values;
        for (Id pid : options.pids) {
            values.push_back(parameters.getValues(pid, true));
        }
        // The reading during which the adapter went is empty, not data.
        if (!AdapterGone(session).empty()) {
            return;
        }
        if (options.json) {
            nlohmann::ordered_json line{{"reading", reading}};
            nlohmann::ordered_json list = nlohmann::ordered_json::array();
            for (std::size_t i = 0; i < options.pids.size(); ++i) {
                nlohmann::ordered_json sensors = nlohmann::ordered_json::array();
                for (const auto& sensor : values[i]) {
                    sensors.push_back(ToJson(*sensor));
                }
                list.push_back(
                    {{"pid", PidText(options.pids[i])}, {"name", names[i]}, {"sensors", sensors}});
            }
            line["parameters"] = list;
            WriteJson(line, out, -1);
        } else {
            out << '#' << reading;
            for (const auto& sensors : values) {
                for (const auto& sensor : sensors) {
                    out << "  " << Printable(sensor->name) << ": "
                        << Printable(SensorValueText(*sensor));
                }
            }
            out << '\n';
        }
        errno = 0;
        out.flush();
        if (!out) {
            throw std::runtime_error(std::string("cannot write the readings") +
                                     (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
        }
    }
}

}  // namespace zelt::scan
