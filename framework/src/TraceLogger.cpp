#include "orvane/TraceLogger.h"

#include <ctime>
#include <iomanip>
#include <iterator>
#include <sstream>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#elif defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(__APPLE__)
#include <pthread.h>
#else
#include <functional>
#include <thread>
#endif

namespace orvane {

namespace {

const char* const kLevelNames[] = {"DEBUG", "INFO", "ERROR", "FATAL"};
// Written for a value that is none of the four levels.
const char* const kUnknownLevelName = "UNKNOWN";

const char* GetLevelName(LogLevel level) {
    const auto index = static_cast<std::int32_t>(level);
    if (index < 0 || index >= static_cast<std::int32_t>(std::size(kLevelNames))) {
        return kUnknownLevelName;
    }
    return kLevelNames[index];
}

// The operating system's id of the calling thread, the number that debuggers
// and process monitors show, unlike std::thread::id.
std::uint64_t GetCurrentThreadNumber() {
#if defined(_WIN32)
    return ::GetCurrentThreadId();
#elif defined(__linux__)
    return static_cast<std::uint64_t>(::syscall(SYS_gettid));
#elif defined(__APPLE__)
    std::uint64_t id = 0;
    ::pthread_threadid_np(nullptr, &id);
    return id;
#else
    return std::hash<std::thread::id>()(std::this_thread::get_id());
#endif
}

// The local time now. The reentrant conversion keeps threads that log at the
// same moment from sharing the C runtime's static result.
std::tm GetLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}

}  // namespace

namespace detail {

std::string FormatLine(const std::tm& time, std::uint64_t threadId, LogLevel level,
                       const std::string& text) {
    std::ostringstream line;
    line.fill('0');
    line << time.tm_year + 1900 << '-' << std::setw(2) << time.tm_mon + 1 << '-' << std::setw(2)
         << time.tm_mday << ' ' << std::setw(2) << time.tm_hour << ':' << std::setw(2)
         << time.tm_min << ':' << std::setw(2) << time.tm_sec << ' ' << threadId << ' '
         << GetLevelName(level) << " - " << text << '\n';
    return line.str();
}

}  // namespace detail

void TraceLogger::log(std::uintptr_t /*origin*/, std::int32_t /*originDetail*/, LogLevel level,
                      const std::string& text) {
    if (!enabled_) {
        return;
    }
    writeLine(detail::FormatLine(GetLocalTime(), GetCurrentThreadNumber(), level, text));
}

}  // namespace orvane
