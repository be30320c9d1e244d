#include "orvane/Logging.h"

namespace orvane {

namespace {

// Constructed when the module that holds it is loaded, before any of its
// exported functions can run; destroyed when it is unloaded.
DebugLogger debugLogger;

// Constant-initialised, so it is null before any dynamic initialiser runs.
ITraceLogger* currentLogger = nullptr;

}  // namespace

void SetTraceLogger(ITraceLogger* logger) {
    currentLogger = logger;
}

void ResetTraceLogger() {
    currentLogger = nullptr;
}

void StartDebugLog(const std::string& path) {
    debugLogger.open(path);
    currentLogger = &debugLogger;
}

void StopDebugLog() {
    currentLogger = nullptr;
}

DebugLogger& GetDebugLogger() {
    return debugLogger;
}

LogLine::~LogLine() {
    ITraceLogger* const logger = currentLogger;
    if (logger == nullptr) {
        return;
    }
    try {
        logger->log(origin_, originDetail_, level_, str());
    } catch (...) {
        // A destructor must not throw; a line that could not be built or
        // written is lost.
    }
}

LogLine& LogLine::setContext(std::uintptr_t origin, std::int32_t originDetail, LogLevel level) {
    origin_ = origin;
    originDetail_ = originDetail;
    level_ = level;
    return *this;
}

}  // namespace orvane
