#pragma once

// What every mode that talks to a vehicle shares: the options that name the
// vehicle (a scenario or an adapter and its settings), the ECU, the units,
// the profile, the log and publishing; the session they open; and the
// run's outcome.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "OptionValues.h"
#include "Options.h"
#include "Publishing.h"
#include "zelt/app/EcuChoice.h"
#include "zelt/app/OutputFormat.h"
#include "zelt/app/Recording.h"
#include "zelt/app/Session.h"
#include "zelt/app/Units.h"
#include "zelt/app/Watch.h"

namespace zelt::scan {

// Registers --scenario, --json, --profile, --units, --ecu, --log and
// --adapter with its settings (--trace, --record, --protocol, --timeout).
// --publish, which the scan and the watch share too, comes after the modes'
// options (AddPublishOptions): it excludes --csv and --raw.
void AddVehicleOptions(CLI::App& app, Options& options);

// The format --json and --csv choose for a scan's report (text or JSON)
// and a watch's readings (text, JSON lines or CSV) alike.
app::OutputFormat FormatOf(const Options& options);

// Writes "zelt-scan: error: MESSAGE" to stderr and the debug log; returns
// `code`.
int Fail(int code, const std::string& message);

// `message` with what the user can do about it, in zelt-scan's words.
std::string WithAdvice(const std::string& message);

// The vehicle of a run.
class Vehicle {
public:
    // Reads what the options name and refuses what is wrong before anything
    // is sent: the ECU's form, the units, the profile (read whole), a log
    // path that is the scenario, the publishing options. Throws UsageError
    // or the library's errors.
    explicit Vehicle(const Options& options);
    ~Vehicle();
    Vehicle(const Vehicle&) = delete;
    Vehicle& operator=(const Vehicle&) = delete;

    // Reads the scenario, starts the log, opens the session (recording the
    // dialogue with --record), applies the profile, selects the ECU and
    // connects publishing. Returns 0, or the exit code of a failure already
    // reported (a chosen protocol the vehicle may not speak).
    int open();

    app::Session& session() { return *session_; }
    const std::shared_ptr<const obd::VehicleProfile>& profile() const { return profile_; }
    app::UnitSystem units() const { return units_; }
    // The ECU --ecu names; empty: every ECU that answered. Known once open.
    const std::vector<std::uint32_t>& ecus() const { return ecus_; }
    // Null without --publish.
    Publishing* publishing() const { return publishing_.get(); }

    // What was read is shown even when the adapter went away in the middle;
    // the loss is then the outcome. Errors the adapter answered leave gaps:
    // one warning says why, and the run still counts as done.
    int linkState() const;
    // The run's outcome: the link's, and what publishing lost.
    int finish() const;

private:
    const Options& options_;
    std::optional<app::EcuChoice> ecu_;
    app::UnitSystem units_;
    std::shared_ptr<const obd::VehicleProfile> profile_;
    std::unique_ptr<Publishing> publishing_;
    std::unique_ptr<std::ostream> dialogue_;
    std::unique_ptr<app::Recording> recording_;  // outlives the session that feeds it
    std::unique_ptr<app::Session> session_;
    std::vector<std::uint32_t> ecus_;
};

}  // namespace zelt::scan
