// The scan, zelt-scan's mode when no other is asked for.

#include "modes/Scan.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <memory>

#include "DebugLog.h"
#include "Progress.h"
#include "Vehicle.h"
#include "zelt/app/JsonReport.h"
#include "zelt/app/Output.h"
#include "zelt/app/Profiles.h"
#include "zelt/app/Scanner.h"
#include "zelt/app/TextReport.h"

namespace zelt::scan {

using namespace app;  // NOLINT(google-build-using-namespace)

namespace {

// Colour only for a terminal that can show it, and never when the user asked
// for none (https://no-color.org).
bool UseColour() {
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr && term != nullptr &&
           std::string(term) != "dumb";
}

bool Chosen(const Options&) {
    return true;
}

}  // namespace

const Mode kScanMode{nullptr, nullptr, Chosen, RunScan};

int RunScan(const Options& options) {
    Vehicle vehicle(options);
    if (const int failed = vehicle.open()) {
        return failed;
    }
    Session& session = vehicle.session();
    LogInfo("scanning");
    std::unique_ptr<ScanProgress> progress;
    if (!options.adapter.empty() && ShowsProgress(options.json, options.trace)) {
        progress = std::make_unique<ScanProgress>(session, std::cerr);
    }
    Report report = Scan(session, vehicle.ecus(), !options.adapter.empty());
    ScanProfile(session, report);
    if (options.clearCodes) {
        ClearCodes(session, report);
    }
    progress.reset();  // the line goes before the report comes
    WriteFlushed(std::cout, "report", [&] {
        if (FormatOf(options) == OutputFormat::Json) {
            WriteJson(ToJson(report, vehicle.units()), std::cout, 2);
        } else {
            WriteTextReport(report, std::cout, UseColour(), vehicle.units());
        }
    });
    LogInfo("report written");
    if (vehicle.publishing() != nullptr) {
        vehicle.publishing()->publishReport(ToJson(report, vehicle.units()));
    }
    return vehicle.finish();
}

}  // namespace zelt::scan
