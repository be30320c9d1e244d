// A build without libmosquitto (the Windows cross build): --publish is
// refused with the reason.

#include "OptionValues.h"
#include "Publishing.h"

namespace zelt::scan {

void AddPublishOptions(CLI::App& app, PublishOptions& options) {
    app.add_option("--publish", options.url, "Not in this build (it has no MQTT client library)")
        ->type_name("URL");
}

std::unique_ptr<Publishing> Publishing::Prepare(const PublishOptions& options) {
    if (!options.url.empty()) {
        throw UsageError(
            "--publish is not available: this zelt-scan was built without libmosquitto");
    }
    return nullptr;
}

}  // namespace zelt::scan
