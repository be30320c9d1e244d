#include "zelt/app/TextReport.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "zelt/app/Printable.h"

namespace zelt::app {

namespace {

using Row = std::vector<std::string>;

// Display width of UTF-8 text: continuation bytes take no column.
std::size_t DisplayWidth(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Prints rows as columns separated by two spaces, each as wide as its widest
// cell; the last column is not padded.
void WriteTable(std::ostream& out, std::vector<Row> rows) {
    for (auto& row : rows) {
        for (auto& cell : row) {
            cell = Printable(cell);
        }
    }
    std::vector<std::size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], DisplayWidth(row[i]));
        }
    }
    for (const auto& row : rows) {
        std::string line = "  ";
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] - DisplayWidth(row[i]) + 2, ' ');
            }
        }
        line.erase(line.find_last_not_of(' ') + 1);  // an empty last cell leaves no padding
        out << line << '\n';
    }
}

class Writer {
public:
    Writer(std::ostream& out, bool colour) : out_(out), colour_(colour) {}

    void heading(const std::string& title) {
        out_ << '\n';
        if (colour_) {
            out_ << "\x1b[1;36m" << title << "\x1b[0m\n";
        } else {
            out_ << title << '\n' << std::string(DisplayWidth(title), '=') << '\n';
        }
    }

    void line(const std::string& text) { out_ << "  " << Printable(text) << '\n'; }
    // Every section says "none" when it has nothing to show, a table with
    // only its header row (`headed`) included.
    void table(const std::vector<Row>& rows, bool headed = false) {
        if (rows.size() == (headed ? 1U : 0U)) {
            line("none");
            return;
        }
        WriteTable(out_, rows);
    }

private:
    std::ostream& out_;
    bool colour_;
};

std::string Text(const std::shared_ptr<std::string>& text) {
    return text ? *text : "-";
}
std::string YesNo(bool value) {
    return value ? "yes" : "no";
}

void WriteCodes(Writer& w, const std::string& kind, const TroubleCodes& codes) {
    if (codes.empty()) {
        w.line(kind + ": none");
        return;
    }
    w.line(kind + ":");
    std::vector<Row> rows;
    for (const auto& code : codes) {
        rows.push_back({"  " + code->code,
                        code->description.empty() ? "(no description)" : code->description,
                        EcuAddressText(code->ecuAddress)});
    }
    w.table(rows);
}

// A profile reading's value; a unit the unit list lacks is shown as the
// profile writes it.
std::string ReadingText(const ProfileReading& reading, UnitSystem units) {
    if (!reading.parameter || reading.parameter->sensors.empty()) {
        return "missing: " + (reading.missing.empty() ? std::string("no answer") : reading.missing);
    }
    return SensorValueText(*reading.parameter->sensors.front(), units, reading.unit);
}

void WriteModuleCodes(Writer& w, const std::string& kind, const obd::ModuleCodes& codes) {
    if (!codes.answered) {
        w.line(kind + ": not read (" + codes.why + ")");
        return;
    }
    if (codes.codes.empty()) {
        w.line(kind + ": none");
        return;
    }
    w.line(kind + ":");
    std::vector<Row> rows;
    for (const auto& code : codes.codes) {
        rows.push_back({"  " + code.code,
                        code.description.empty() ? "(no description)" : code.description,
                        code.statusText});
    }
    w.table(rows);
}

// The profile's ECUs: each one's manufacturer data, then its trouble codes.
void WriteModules(Writer& w, const Report& report, UnitSystem units) {
    for (const ModuleReport& module : report.modules) {
        const std::string name = module.ecu.name + " " + EcuAddressText(module.ecu.responseId);
        if (!module.data.empty()) {
            w.heading("Manufacturer data, " + name);
            std::vector<Row> rows;
            for (const ProfileReading& reading : module.data) {
                rows.push_back({reading.name, ReadingText(reading, units)});
            }
            w.table(rows);
        }
        w.heading("Trouble codes, " + name);
        WriteModuleCodes(w, "Codes", module.codes);
        if (module.codesCleared) {
            w.line(std::string("Clearing: ") +
                   (module.clearing.confirmed ? "confirmed by the module"
                                              : "not confirmed (" + module.clearing.why + ")"));
            WriteModuleCodes(w, "Codes after clearing", module.codesAfterClear);
        }
    }
}

void WriteParameters(Writer& w, const std::vector<std::shared_ptr<ParameterModel>>& parameters,
                     UnitSystem units) {
    std::vector<Row> rows{{"PID", "Parameter", "Sensor", "Value"}};
    for (const auto& parameter : parameters) {
        bool first = true;
        for (const auto& sensor : parameter->sensors) {
            rows.push_back({first ? PidText(parameter->pid) : "", first ? parameter->name : "",
                            sensor->name, SensorValueText(*sensor, units)});
            first = false;
        }
    }
    w.table(rows, true);
}

void WriteReadiness(Writer& w, const std::string& title,
                    const std::vector<std::shared_ptr<obd::ReadinessMonitorDataModel>>& monitors) {
    if (monitors.empty()) {
        w.line(title + ": none");
        return;
    }
    w.line(title + ":");
    std::vector<Row> rows;
    for (const auto& monitor : monitors) {
        rows.push_back({"  " + monitor->name, !monitor->supported ? "not supported"
                                              : monitor->complete ? "complete"
                                                                  : "incomplete"});
    }
    w.table(rows);
}

void WriteEcu(Writer& w, const EcuReport& report, const std::string& ecu, UnitSystem units) {
    w.heading("Vehicle and ECU information" + ecu);
    std::vector<Row> info;
    for (const auto& item : report.ecuInfo) {
        info.push_back({item->name, item->value});
    }
    w.table(info);

    w.heading("Malfunction indicator lamp" + ecu);
    w.line(std::string("MIL: ") + (!report.mil                    ? "unknown"
                                   : *report.mil == MilStatus::On ? "ON"
                                                                  : "off"));
    const std::string since =
        report.mil && *report.mil == MilStatus::On ? "with MIL on" : "since codes cleared";
    w.line("Distance " + since + ": " +
           (report.distanceSince ? SensorValueText(*report.distanceSince, units) : "-"));
    w.line("Run time " + since + ": " +
           (report.runTimeSince ? SensorValueText(*report.runTimeSince, units) : "-"));

    w.heading("Trouble codes" + ecu);
    WriteCodes(w, "Confirmed", report.confirmed);
    WriteCodes(w, "Pending", report.pending);
    WriteCodes(w, "Permanent", report.permanent);
    if (report.codesCleared) {
        w.line(std::string("Clearing codes: ") +
               (report.clearAccepted ? "accepted by the vehicle" : "refused by the vehicle"));
        WriteCodes(w, "Confirmed after clearing", report.confirmedAfterClear);
        WriteCodes(w, "Pending after clearing", report.pendingAfterClear);
        WriteCodes(w, "Permanent after clearing", report.permanentAfterClear);
    }

    w.heading("Freeze frames" + ecu);
    if (report.freezeFrames.empty()) {
        w.table({});
    }
    for (const auto& frame : report.freezeFrames) {
        w.line("Frame " + std::to_string(frame.frame) + ", stored for " + frame.troubleCode->code);
        WriteParameters(w, frame.parameters, units);
    }

    w.heading("Readiness monitors" + ecu);
    WriteReadiness(w, "Since codes cleared", report.readinessSinceReset);
    WriteReadiness(w, "This drive cycle", report.readinessThisCycle);

    w.heading("On-board monitor tests" + ecu);
    std::vector<Row> tests{{"MID", "Monitor", "TID", "Value", "Minimum", "Maximum", "Result"}};
    for (const auto& test : report.monitorTests) {
        tests.push_back(
            {PidText(static_cast<obd::ParameterIdentifier::Id>(test->monitorId)), test->monitorName,
             PidText(static_cast<obd::ParameterIdentifier::Id>(test->testId)),
             Present(test->value, test->unit, units).text,
             Present(test->minimum, test->unit, units).text,
             Present(test->maximum, test->unit, units).text, test->passed ? "pass" : "FAIL"});
    }
    w.table(tests, true);

    w.heading("Oxygen sensors" + ecu);
    w.line(std::string("Monitors complete: ") + YesNo(report.oxygenSensorMonitorsComplete));
    for (const auto& sensor : report.oxygenSensors) {
        w.line(LocationText(sensor.location) + ":");
        std::vector<Row> rows;
        for (const auto& test : sensor.tests) {
            rows.push_back({"  " + test->name, Present(test->value, test->unit, units).text,
                            "limits " + Present(test->minimum, test->unit, units).text + " .. " +
                                Present(test->maximum, test->unit, units).text,
                            test->passed ? "pass" : "FAIL"});
        }
        if (rows.empty()) {
            w.line("  no tests reported");
            continue;
        }
        w.table(rows);
    }

    w.heading("In-use performance counters" + ecu);
    std::vector<Row> counters;
    for (const auto& counter : report.performanceCounters) {
        counters.push_back({counter->name, counter->denominator == 0
                                               ? std::to_string(counter->numerator)
                                               : std::to_string(counter->numerator) + " / " +
                                                     std::to_string(counter->denominator)});
    }
    w.table(counters);

    w.heading("Vehicle operation data" + ecu);
    if (report.vehicleOperationData.empty()) {
        w.table({});
    }
    for (const auto& record : report.vehicleOperationData) {
        w.line(record->name + ":");
        std::vector<Row> rows;
        for (const auto& entry : record->entries) {
            rows.push_back({"  " + entry.label, Present(entry.value, entry.unit, units).text});
        }
        w.table(rows);
    }

    w.heading("Test routines" + ecu);
    std::vector<Row> routines;
    for (const auto& routine : report.testRoutines) {
        routines.push_back({PidText(static_cast<obd::ParameterIdentifier::Id>(routine->id)),
                            routine->name, RoutineStatusText(routine->status), routine->result});
    }
    w.table(routines);

    w.heading("Live data" + ecu);
    WriteParameters(w, report.liveData, units);
}

}  // namespace

void WriteTextReport(const Report& report, std::ostream& out, bool colour, UnitSystem units) {
    Writer w(out, colour);
    std::string scanned;
    for (const auto& ecu : report.ecus) {
        scanned += (scanned.empty() ? "" : ", ") + EcuAddressText(ecu.address);
    }
    out << "zelt-scan report: " << Printable(report.title) << "; ECU"
        << (report.ecus.size() == 1 ? " " : "s ") << scanned << " of " << report.answering.size()
        << " answering\n";
    for (const auto& ecu : report.ecus) {
        // Headings name the ECU only when there is more than one to tell apart.
        WriteEcu(w, ecu, report.ecus.size() > 1 ? ", ECU " + EcuAddressText(ecu.address) : "",
                 units);
    }

    WriteModules(w, report, units);

    w.heading("Adapter");
    w.table({{"Name", Text(report.adapterName)},
             {"Description", Text(report.adapterDescription)},
             {"Identification", Text(report.adapterIdentification)},
             {"Battery voltage", Text(report.batteryVoltage)}});
}

}  // namespace zelt::app
