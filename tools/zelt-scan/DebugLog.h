#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace zelt::scan {

// Starts the run's debug log in `path` (created or truncated). Throws
// UsageError when the file cannot be written.
void StartDebugLog(const std::string& path);

// Writes one line to the debug log (dropped when no log was started).
void LogInfo(const std::string& text);
void LogError(const std::string& text);

// A stream whose lines go to the debug log, and also to `copy` unless that
// is null: the adapter dialogue goes there, so that the log holds it whole
// and --trace shows it.
std::unique_ptr<std::ostream> DialogueStream(std::ostream* copy);

}  // namespace zelt::scan
