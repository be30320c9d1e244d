#include "zelt/app/Watch.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <csignal>
#include <ctime>
#include <iomanip>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "obd/IAnswerSnapshot.h"
#include "zelt/ModelBuilders.h"
#include "zelt/app/AdapterStatus.h"
#include "zelt/app/JsonReport.h"
#include "zelt/app/Output.h"
#include "zelt/app/Printable.h"
#include "zelt/app/Profiles.h"

namespace zelt::app {

namespace {

using obd::ParameterIdentifier::Id;

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
}

// Sleeps `interval` in short steps so that Ctrl-C ends the wait at once.
void Wait(std::chrono::milliseconds interval) {
    const auto until = std::chrono::steady_clock::now() + interval;
    while (interrupted == 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            std::chrono::milliseconds(20), until - std::chrono::steady_clock::now()));
    }
}

Id ParsePid(const std::string& text, bool withProfile) {
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
    }
    const bool hex = !digits.empty() && digits.size() <= 2 &&
                     std::all_of(digits.begin(), digits.end(), [](char c) {
                         return std::isxdigit(static_cast<unsigned char>(c));
                     });
    if (!hex) {
        throw InputError("invalid PID " + Quoted(text) +
                         ": give a hexadecimal parameter number such as 0C or 0x0C" +
                         (withProfile ? ", or a parameter name of the profile" : ""));
    }
    return static_cast<Id>(std::stoi(digits, nullptr, 16));
}

std::string Line(const WatchOptions& options, int reading, const std::string& time,
                 const std::vector<Watched>& watched, const Labels& labels, const Reading& now) {
    const auto& values = now.values;
    if (options.format == OutputFormat::Json) {
        std::ostringstream text;
        WriteJson(ReadingJson(reading, time, watched, now, options.units), text, -1);
        return text.str();
    }
    if (options.format == OutputFormat::Csv) {
        return CsvRow(reading, time, watched, now, options.units);
    }
    std::string line = "#" + std::to_string(reading) + " " + time;
    for (std::size_t i = 0; i < watched.size(); ++i) {
        if (!Answered(values[i])) {
            line += "  " + Printable(watched[i].description->name) +
                    labels.qualifier(watched[i], "") + ": missing";
            continue;
        }
        for (const auto& sensor : values[i]) {
            line += "  " + Printable(sensor->name) + labels.qualifier(watched[i], sensor->name) +
                    ": " + Printable(SensorValueText(*sensor, options.units, watched[i].unit));
        }
    }
    return line + "\n";
}

void Write(std::ostream& out, const std::string& text) {
    WriteFlushed(out, "readings", [&] { out << text; });
}

}  // namespace

std::vector<Id> ParsePidList(const std::string& list, const obd::VehicleProfile* profile) {
    std::vector<Id> pids;
    std::stringstream stream(list);
    std::string item;
    while (std::getline(stream, item, ',')) {
        const obd::ProfileParameter* named = profile ? profile->find(item) : nullptr;
        const Id pid = named ? named->pid : ParsePid(item, profile != nullptr);
        if (std::find(pids.begin(), pids.end(), pid) == pids.end()) {  // read once
            pids.push_back(pid);
        }
    }
    if (pids.empty()) {
        throw InvalidValue("nothing to watch: give at least one PID or profile parameter", list,
                           "at least one PID or profile parameter");
    }
    return pids;
}

void Watch(Session& session, const WatchOptions& options, std::ostream& out,
           std::ostream& warnings) {
    auto watched =
        Plan(session, options.pids, options.ecus.empty() ? session.ecuAddresses() : options.ecus);
    interrupted = 0;
    const auto previous = std::signal(SIGINT, OnInterrupt);
    struct Restore {
        decltype(previous) handler;
        ~Restore() { std::signal(SIGINT, handler); }
    } restore{previous};

    std::optional<Labels> labels;
    for (int reading = 1; options.count == 0 || reading <= options.count; ++reading) {
        if (reading > 1) {
            Wait(options.interval);
        }
        if (interrupted != 0) {
            break;
        }
        const std::string time = IsoTime();
        const Reading now = Read(session, watched, reading == 1);
        const auto& values = now.values;
        // The reading during which the adapter went is empty, not data.
        if (!AdapterGone(session).empty()) {
            return;
        }
        if (!labels) {
            labels.emplace(watched);
            if (options.format == OutputFormat::Csv) {
                Write(out, CsvHeader(watched, options.units));
            }
        }
        for (std::size_t i = 0; i < watched.size(); ++i) {
            if (!Answered(values[i])) {
                const std::string why = MissingReason(session, watched[i].pid);
                const std::string name = Printable(watched[i].description->name);
                // A profile parameter is known by its name and says why.
                warnings << "zelt-scan: warning: reading " << reading << ": no answer for "
                         << (why.empty() ? "PID " + PidText(watched[i].pid) + " (" + name + ")"
                                         : name)
                         << (labels->severalEcus() ? " from ECU " + EcuAddressText(watched[i].ecu)
                                                   : std::string())
                         << (why.empty() ? std::string() : ": " + Printable(why)) << "\n";
            }
        }
        Write(out, Line(options, reading, time, watched, *labels, now));
    }
}

}  // namespace zelt::app
