#include "Watch.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <thread>

#include "JsonReport.h"

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
        throw UsageError("invalid PID '" + text +
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
            throw UsageError("unknown PID " + PidText(pid) + ": the vehicle does not support it");
        }
        names.push_back(description->name);
    }

    for (int reading = 1; reading <= options.count; ++reading) {
        if (reading > 1) {
            std::this_thread::sleep_for(options.interval);
        }
        if (options.json) {
            nlohmann::ordered_json line{{"reading", reading}};
            nlohmann::ordered_json values = nlohmann::ordered_json::array();
            for (std::size_t i = 0; i < options.pids.size(); ++i) {
                nlohmann::ordered_json sensors = nlohmann::ordered_json::array();
                for (const auto& sensor : parameters.getValues(options.pids[i], true)) {
                    sensors.push_back(ToJson(*sensor));
                }
                values.push_back(
                    {{"pid", PidText(options.pids[i])}, {"name", names[i]}, {"sensors", sensors}});
            }
            line["parameters"] = values;
            out << line.dump() << '\n';
        } else {
            out << '#' << reading;
            for (Id pid : options.pids) {
                for (const auto& sensor : parameters.getValues(pid, true)) {
                    out << "  " << sensor->name << ": " << SensorValueText(*sensor);
                }
            }
            out << '\n';
        }
        out.flush();
    }
}

}  // namespace zelt::scan
