#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace orvane {

// The severity of a log line. The names written for the four levels are
// "DEBUG", "INFO", "ERROR" and "FATAL"; any other value (a cast from a stray
// integer) is written as "UNKNOWN" rather than read past the name table.
enum class LogLevel : std::int32_t {
    Debug = 0,
    Info = 1,
    Error = 2,
    Fatal = 3,
};

// Receives log texts. `origin` and `originDetail` identify where a text comes
// from; their meaning is the caller's, loggers only carry them.
class ITraceLogger {
public:
    virtual ~ITraceLogger() = default;

    // Writes one line: `text` at `level`, with the origin's address and detail.
    virtual void log(std::uintptr_t origin, std::int32_t originDetail, LogLevel level,
                     const std::string& text) = 0;
};

// Turns a level and a text into one time-stamped line and hands it to
// writeLine(). A line reads
//
//     2024-03-05 09:07:02 4711 INFO - connected\n
//
// local date and time, the operating system's id of the calling thread, the
// level's name, then the text unchanged (line feeds included) and one line
// feed. A disabled logger returns before reading the clock.
//
// Thread safety: log() takes no lock and builds each line on its own, so it
// may be called from several threads as long as writeLine() allows that.
class TraceLogger : public ITraceLogger {
public:
    ~TraceLogger() override = default;

    void log(std::uintptr_t origin, std::int32_t originDetail, LogLevel level,
             const std::string& text) override;

protected:
    TraceLogger() = default;

    // Receives each complete line, line feed included.
    virtual void writeLine(const std::string& line) = 0;

    // Whether log() formats lines at all; false until a deriving class has a
    // sink to write to.
    bool enabled_ = false;
};

// A TraceLogger that appends its lines to a file, each written with a single
// fprintf call and flushed at once, so lines from several threads never mix
// and every line is in the file when log() returns. Write errors are ignored.
//
// Thread safety: log() may run on several threads at once. open(), close()
// and destruction must not overlap with each other or with log().
// Not copyable: it owns a file handle.
class DebugLogger : public TraceLogger {
public:
    DebugLogger() = default;
    // Closes the file if one is open.
    ~DebugLogger() override;

    DebugLogger(const DebugLogger&) = delete;
    DebugLogger& operator=(const DebugLogger&) = delete;

    // Remembers `path` and, unless it is empty, starts a new log in that file:
    // a file this logger still has open is closed first, then `path` is
    // created or truncated. The logger is enabled exactly when that succeeded;
    // a file that cannot be opened leaves it disabled and nothing is reported.
    // An empty `path` changes only the remembered path.
    void open(const std::string& path);

    // Closes the file, if one is open. Later lines are formatted but dropped
    // until the next successful open().
    void close();

    // The path given to the last open(); empty before the first.
    std::string getPath() const;

protected:
    // Writes `line` up to its first NUL character and flushes; does nothing
    // while no file is open.
    void writeLine(const std::string& line) override;

private:
    std::FILE* file_ = nullptr;
    std::string path_;
};

namespace detail {

// The line TraceLogger::log() writes for `level` and `text` at local time
// `time` on thread `threadId`, line feed included. Apart so that the format
// can be checked for any date, not only for the moment a test runs.
std::string FormatLine(const std::tm& time, std::uint64_t threadId, LogLevel level,
                       const std::string& text);

}  // namespace detail

}  // namespace orvane
