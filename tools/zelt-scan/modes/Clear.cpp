// --clear-codes: the scan, with the trouble codes cleared once read.

#include "DebugLog.h"
#include "OptionValues.h"
#include "modes/Scan.h"
#include "zelt/app/Profiles.h"
#include "zelt/app/Scanner.h"

namespace zelt::scan {

namespace {

void AddOptions(CLI::App& app, Options& options) {
    app.add_flag("--clear-codes", options.clearCodes,
                 "Clear the trouble codes (needs --yes); shows them before and after")
        ->excludes(app.get_option("--watch"));
    app.add_flag("--yes", options.yes,
                 "Confirm --clear-codes, or a --raw request that may change the vehicle");
}

void Check(const Options& options) {
    if (options.clearCodes && !options.yes) {
        throw UsageError("--clear-codes changes the vehicle; confirm with --yes");
    }
    if (options.yes && !options.clearCodes && options.raw.empty()) {
        throw UsageError(
            "--yes confirms --clear-codes or --raw, and neither was given (see --help)");
    }
}

bool Chosen(const Options& options) {
    return options.clearCodes;
}

}  // namespace

const Mode kClearMode{AddOptions, Check, Chosen, RunScan};

void ClearCodes(app::Session& session, app::Report& report) {
    LogInfo("clearing the trouble codes");
    app::ClearTroubleCodes(session, report);
    app::ClearProfileCodes(session, report);
}

}  // namespace zelt::scan
