#include <cstdio>

#include "orvane/TraceLogger.h"

namespace orvane {

DebugLogger::~DebugLogger() {
    close();
}

void DebugLogger::open(const std::string& path) {
    path_ = path;
    if (path_.empty()) {
        return;
    }
    // A second open starts a new log; the old handle would otherwise leak.
    close();
    file_ = std::fopen(path_.c_str(), "w");
    enabled_ = file_ != nullptr;
}

void DebugLogger::close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

std::string DebugLogger::getPath() const {
    return path_;
}

void DebugLogger::writeLine(const std::string& line) {
    if (file_ == nullptr) {
        return;
    }
    // One call per line: the C runtime locks the handle for its duration, so
    // lines of concurrent threads stay whole.
    std::fprintf(file_, "%s", line.c_str());
    std::fflush(file_);
}

}  // namespace orvane
