#pragma once

#include <cstdint>
#include <sstream>
#include <string>

#include "orvane/TraceLogger.h"

// The process-wide logging state: one DebugLogger, which lives from start-up
// to shutdown of the module that contains it, and the current logger, which
// LogLine sends its lines to.
//
// Thread safety: the current logger is a plain variable. Set it before any
// thread logs and clear it after the last one is done; a logger must stay
// alive while it is current.
namespace orvane {

// Makes `logger` (not owned; null allowed) the current logger.
void SetTraceLogger(ITraceLogger* logger);

// Clears the current logger: later LogLines are dropped.
void ResetTraceLogger();

// Opens `path` on the process-wide debug logger (see DebugLogger::open) and
// makes that logger current, also when the path is empty or cannot be opened.
void StartDebugLog(const std::string& path);

// Clears the current logger. The debug logger's file stays open until it is
// closed or the process shuts down.
void StopDebugLog();

// The process-wide debug logger that StartDebugLog() opens.
DebugLogger& GetDebugLogger();

// Collects one log text with the stream's insertion operators and hands it to
// the current logger when it is destroyed (dropped when there is none):
//
//     LogLine().setContext(origin, 0, LogLevel::Error) << "no answer from " << ecu;
//
// The text goes out as collected; the logger adds the line feed. A failure
// while handing the text over is swallowed, so logging never throws out of
// the destructor. Origin, origin detail and level start at zero (Debug).
class LogLine : public std::ostringstream {
public:
    LogLine() = default;
    ~LogLine() override;

    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    // Sets where the line comes from and its level; returns this line so that
    // text can follow in the same expression.
    LogLine& setContext(std::uintptr_t origin, std::int32_t originDetail, LogLevel level);

private:
    std::uintptr_t origin_ = 0;
    std::int32_t originDetail_ = 0;
    LogLevel level_ = LogLevel::Debug;
};

}  // namespace orvane
