#pragma once

// --record: the adapter dialogue of a run, written as it happens in the
// replayable format docs/record.md describes (JSON lines: a header naming
// the format, its version and the settings in force, then one line per
// exchange). It only listens to the bytes that cross the link: recording
// adds no request.

#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "obd/elm327/DialogueAnonymiser.h"
#include "orvane/Mutex.h"
#include "zelt/app/Export.h"

namespace zelt::app {

// The recording of one run. Feed it from AdapterSettings::listen; lines
// are flushed as they are complete, so a run that ends abruptly keeps
// every exchange finished before.
//
// Thread safety: bytes() may be called from any thread; the file is
// written under mutex_.
class ZELT_APP_API Recording {
public:
    // Creates (or truncates) `path` and writes the header with `settings`,
    // a JSON object of the options in force. Throws InputError when the
    // file cannot be written. With `anonymiser`, each answer is written
    // masked (zelt-scan --record-anonymise).
    Recording(const std::string& path, const std::string& settingsJson,
              std::unique_ptr<obd::elm327::DialogueAnonymiser> anonymiser = nullptr);

    // The bytes that went to the adapter (">>") or came from it ("<<").
    void bytes(const char* direction, const std::vector<std::uint8_t>& data);

private:
    void finish() ORVANE_REQUIRES(mutex_);

    orvane::Mutex mutex_;
    std::ofstream out_ ORVANE_GUARDED_BY(mutex_);
    // Used under mutex_ only: it follows the dialogue in order.
    const std::unique_ptr<obd::elm327::DialogueAnonymiser> anonymiser_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::string command_ ORVANE_GUARDED_BY(mutex_);   // sent since the last prompt
    std::string answer_ ORVANE_GUARDED_BY(mutex_);    // received since the last prompt
    long long sentAt_ ORVANE_GUARDED_BY(mutex_) = 0;  // ms after the start
};

}  // namespace zelt::app
