// zelt-scan: connects to a vehicle through the core, reads everything the six
// repositories offer and shows it; or watches live values. Here are the
// parsing and the choice of mode; each mode is a file of modes/.

#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#endif

#include <CLI/CLI.hpp>
#include <csignal>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>

#include "OptionValues.h"
#include "Options.h"
#include "Publishing.h"
#include "Vehicle.h"
#include "zelt/app/Errors.h"
#include "zelt/app/Printable.h"

namespace {

using zelt::scan::kFailure;
using zelt::scan::kUsageError;
using zelt::scan::Mode;

// In the order --help lists their options.
const Mode* const kModes[] = {&zelt::scan::kWatchMode, &zelt::scan::kClearMode,
                              &zelt::scan::kRawMode, &zelt::scan::kServeMode,
                              &zelt::scan::kDiscoverMode};

// The first mode the options ask for runs; the others exclude each other.
const Mode& ChosenMode(const zelt::scan::Options& options) {
    for (const Mode* mode :
         {&zelt::scan::kDiscoverMode, &zelt::scan::kServeMode, &zelt::scan::kRawMode,
          &zelt::scan::kWatchMode, &zelt::scan::kClearMode}) {
        if (mode->chosen(options)) {
            return *mode;
        }
    }
    return zelt::scan::kScanMode;
}

// Options given with an empty value ("--adapter ''") are mistakes, never a
// request for the default.
void RefuseEmptyValues(const CLI::App& app) {
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_type_size() == 0) {
            continue;  // a flag
        }
        for (const auto& value : option->results()) {
            if (value.empty()) {
                throw CLI::ValidationError(option->get_name(), "needs a value, not an empty one");
            }
        }
    }
}

// A command-line parser's message with each word (an argument it quotes)
// cut as Quoted cuts it, so that the line stays one.
std::string ShortenArguments(const std::string& message) {
    std::istringstream words(message);
    std::string shortened;
    for (std::string word; words >> word;) {
        shortened +=
            (shortened.empty() ? "" : " ") + (word.size() > 80 ? zelt::app::Quoted(word) : word);
    }
    return shortened;
}

bool StdoutIsOpen() {
#ifdef _WIN32
    return _get_osfhandle(1) != -1;
#else
    return fcntl(STDOUT_FILENO, F_GETFD) != -1;
#endif
}

}  // namespace

// CLI11 throws while the options are declared only on a programming error,
// which should end the program as any other bug does.
// NOLINTNEXTLINE(bugprone-exception-escape)
int main(int argc, char** argv) {
    using zelt::scan::Fail;
    // With standard output closed, the next file or socket opened would take
    // its place and receive the report.
    if (!StdoutIsOpen()) {
        return Fail(kFailure, "cannot write the report: the standard output is closed");
    }
#ifdef SIGPIPE
    // A reader that stops reading is told apart from a failed write by the
    // write's error, EPIPE, not by a signal that ends the tool unseen.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    zelt::scan::Options options;
    CLI::App app{
        "zelt-scan: a diagnostic scan of a vehicle over OBD-II (built-in simulated vehicle by "
        "default)",
        "zelt-scan"};
    app.set_version_flag("--version", std::string("zelt-scan ") + ZELT_VERSION);
    zelt::scan::AddVehicleOptions(app, options);
    for (const Mode* mode : kModes) {
        if (mode->addOptions != nullptr) {
            mode->addOptions(app, options);
        }
    }
    zelt::scan::AddPublishOptions(app, options.publish);  // excludes --csv and --raw

    try {
        app.parse(argc, argv);
        RefuseEmptyValues(app);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::cout << "zelt-scan " << ZELT_VERSION << '\n';
        return 0;
    } catch (const CLI::ParseError& error) {
        return Fail(kUsageError, ShortenArguments(error.what()) + " (see --help)");
    }

    try {
        for (const Mode* mode : kModes) {
            if (mode->check != nullptr) {
                mode->check(options);
            }
        }
        return ChosenMode(options).run(options);
    } catch (const zelt::app::ReaderGone&) {
        return 0;  // e.g. `| head`: the reader has what it wanted
    } catch (const zelt::scan::UsageError& error) {
        return Fail(kUsageError, error.what());
    } catch (const zelt::app::InputError& error) {
        return Fail(kUsageError, error.what());
    } catch (const obd::sim::ScenarioError& error) {
        return Fail(kUsageError, error.what());
    } catch (const obd::ProfileError& error) {
        return Fail(kUsageError, error.what());
    } catch (const std::exception& error) {
        return Fail(kFailure, zelt::scan::WithAdvice(error.what()));
    }
}
