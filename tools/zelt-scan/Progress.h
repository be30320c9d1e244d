#pragma once

// What a scan over an adapter is reading, while it reads: such a scan takes
// seconds (minutes on a slow K-line car) before its report appears.

#include <cstddef>
#include <memory>
#include <ostream>

#include "obd/ITroubleshootingService.h"
#include "orvane/Mutex.h"
#include "orvane/Observer.h"
#include "orvane/ThreadAnnotations.h"
#include "zelt/app/Session.h"

namespace zelt::scan {

// Whether a scan shows its progress: only when standard error is a
// terminal, and not with `json` (whose reader wants the document alone) or
// `trace` (whose dialogue goes to standard error).
bool ShowsProgress(bool json, bool trace);

// One line on `out`, rewritten as each vehicle request goes out: the ECU,
// the part of the report the request is for (told by its service) and the
// requests so far, e.g. "zelt-scan: ECU 0x7E8, trouble codes, 23 requests".
// The line is blanked when the object goes, so that what follows starts on
// a clean line.
//
// Thread safety: requests are reported on the core's event thread; the line
// is written under mutex_. Not copyable: it is attached to the core.
class ScanProgress : public orvane::Observer<obd::ITroubleshootingServiceObserver> {
public:
    ScanProgress(app::Session& session, std::ostream& out);
    ~ScanProgress() override;

    void onLogEntryAdded(const std::shared_ptr<obd::MessageDataModel>& entry) override;

private:
    app::Session& session_;
    const std::shared_ptr<obd::ITroubleshootingService> dataLog_;

    orvane::Mutex mutex_;
    std::ostream& out_ ORVANE_GUARDED_BY(mutex_);
    int requests_ ORVANE_GUARDED_BY(mutex_) = 0;
    // The length of the line on the terminal, to blank what a shorter one
    // leaves.
    std::size_t shown_ ORVANE_GUARDED_BY(mutex_) = 0;
};

}  // namespace zelt::scan
