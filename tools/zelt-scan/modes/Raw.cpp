// --raw: one request of the user's bytes, and every answer to it.

#include <iostream>
#include <optional>
#include <stdexcept>

#include "OptionValues.h"
#include "Options.h"
#include "RawRequest.h"
#include "Vehicle.h"
#include "zelt/app/JsonReport.h"
#include "zelt/app/Output.h"
#include "zelt/app/Printable.h"

namespace zelt::scan {

using namespace app;  // NOLINT(google-build-using-namespace)

namespace {

void AddOptions(CLI::App& app, Options& options) {
    app.add_option("--raw", options.raw,
                   "With --adapter: send these bytes (hexadecimal, e.g. 22F190) to the ECU given "
                   "with --ecu, or to all, and print the answers")
        ->type_name("HEX")
        ->needs(app.get_option("--adapter"))
        ->excludes(app.get_option("--watch"))
        ->excludes(app.get_option("--clear-codes"));
}

bool Chosen(const Options& options) {
    return !options.raw.empty();
}

// The request's bytes; one that may change the vehicle only with --yes.
std::vector<std::uint8_t> ReadRequest(const Options& options) {
    const auto raw = obd::elm327::AdapterQuorvix::parseRequest(options.raw);
    if (!raw) {
        throw UsageError("invalid --raw " + Quoted(options.raw) +
                         ": give 1 to 7 bytes in hexadecimal, e.g. 0902 or 22F190");
    }
    if (RawRequestChangesVehicle(*raw) && !options.yes) {
        throw UsageError("--raw " + options.raw +
                         " may change the vehicle (only reading services are sent without "
                         "it); confirm with --yes");
    }
    return *raw;
}

int Run(const Options& options) {
    Vehicle vehicle(options);
    const std::vector<std::uint8_t> raw = ReadRequest(options);
    if (const int failed = vehicle.open()) {
        return failed;
    }
    Session& session = vehicle.session();
    const auto& ecus = vehicle.ecus();
    const auto answers = session.rawRequest(raw, ecus.empty() ? 0 : ecus.front());
    if (!answers) {
        const std::string why = session.adapterError();
        if (why == "?") {
            return Fail(kFailure, "the adapter refused the command " + options.raw +
                                      " (it answered ?); it may not take this service or "
                                      "this many bytes");
        }
        throw std::runtime_error("the raw request got no answer from the adapter" +
                                 (why.empty() ? std::string() : ": " + why));
    }
    WriteFlushed(std::cout, "report", [&] {
        if (FormatOf(options) == OutputFormat::Json) {
            WriteJson(RawAnswersJson(raw, *answers), std::cout, 2);
        } else {
            WriteRawAnswers(*answers, std::cout);
        }
    });
    return vehicle.linkState();
}

}  // namespace

const Mode kRawMode{AddOptions, nullptr, Chosen, Run};

}  // namespace zelt::scan
