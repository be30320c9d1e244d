// A build without libmosquitto (the Windows cross build): no --publish.

#include "Publishing.h"

namespace zelt::scan {

void AddPublishOptions(CLI::App& /*app*/, PublishOptions& /*options*/) {}

std::unique_ptr<Publishing> Publishing::Prepare(const PublishOptions& /*options*/) {
    return nullptr;
}

}  // namespace zelt::scan
