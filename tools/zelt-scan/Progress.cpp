#include "Progress.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>

#include "obd/ServiceBuilders.h"

namespace zelt::scan {

// The command line is an application of the application library.
using namespace app;  // NOLINT(google-build-using-namespace)

namespace {

bool StandardErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(2) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

// The part of the report a request of `service` reads.
std::string SectionOf(unsigned service) {
    switch (service) {
        case 0x01:
            return "live data";
        case 0x02:
            return "freeze frames";
        case 0x03:
        case 0x07:
        case 0x0A:
            return "trouble codes";
        case 0x04:
            return "clearing trouble codes";
        case 0x06:
            return "on-board monitor tests";
        case 0x08:
            return "test routines";
        case 0x09:
            return "vehicle and ECU information";
        default:
            char text[16];
            std::snprintf(text, sizeof text, "service 0x%02X", service);
            return text;
    }
}

// The service of a logged request: its first byte, the first two-digit
// word of the entry (an address, when there is one, is longer).
std::optional<unsigned> ServiceOf(const std::string& request) {
    std::istringstream words(request);
    std::string word;
    while (words >> word) {
        if (word.size() == 2 &&
            word.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos) {
            return static_cast<unsigned>(std::stoul(word, nullptr, 16));
        }
    }
    return std::nullopt;
}

}  // namespace

bool ShowsProgress(bool json, bool trace) {
    return !json && !trace && StandardErrorIsTerminal();
}

ScanProgress::ScanProgress(Session& session, std::ostream& out)
    : session_(session),
      dataLog_(obd::TroubleshootingServiceBuilder::create(
          session.root(), obd::ConnectionServiceBuilder::create(session.root()))),
      out_(out) {
    attachTo(dataLog_.get());
    dataLog_->enableDataLog();
}

ScanProgress::~ScanProgress() {
    dataLog_->disableDataLog();
    detachFrom(dataLog_.get());
    orvane::MutexLock lock(mutex_);
    if (shown_ != 0) {
        out_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
    }
}

void ScanProgress::onLogEntryAdded(const std::shared_ptr<obd::MessageDataModel>& entry) {
    if (!entry || entry->direction != obd::MessageDirection::Request) {
        return;
    }
    const std::optional<unsigned> service = ServiceOf(entry->text);
    char ecu[16];
    std::snprintf(ecu, sizeof ecu, "0x%03X", static_cast<unsigned>(session_.selectedEcu()));
    orvane::MutexLock lock(mutex_);
    ++requests_;
    std::string line = std::string("zelt-scan: ECU ") + ecu + ", " +
                       (service ? SectionOf(*service) : std::string("reading")) + ", " +
                       std::to_string(requests_) + (requests_ == 1 ? " request" : " requests");
    const std::size_t length = line.size();
    if (length < shown_) {
        line.append(shown_ - length, ' ');
    }
    shown_ = length;
    out_ << '\r' << line << std::flush;
}

}  // namespace zelt::scan
