#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "orvane/Logging.h"
#include "orvane/TraceLogger.h"

#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using orvane::DebugLogger;
using orvane::LogLevel;
using orvane::LogLine;
using ::testing::_;
using ::testing::StrictMock;

// A whole line as the logger writes it; the groups are the time fields, the
// thread id, the level name and the text.
const std::regex kLinePattern(
    R"(^(\d{4,})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d) (\d+) ([A-Z]+) - ([^\n]*)\n$)");

// Read in text mode, as the logger writes: line ends are "\n" on every
// platform.
std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// The file's lines, each with its line feed.
std::vector<std::string> ReadLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line + '\n');
    }
    return lines;
}

std::tm MakeTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

class MockTraceLogger : public orvane::ITraceLogger {
public:
    MOCK_METHOD(void, log, (std::uintptr_t, std::int32_t, LogLevel, const std::string&),
                (override));
};

// Owns a fresh temporary directory and leaves the process-wide logging state
// as it found it: no current logger, the debug logger's file closed.
class TraceLoggerTest : public ::testing::Test {
protected:
    TraceLoggerTest() {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        directory = fs::temp_directory_path() /
                    ("zelt-" + std::string(test->name()) + "-" +
                     std::to_string(std::hash<std::thread::id>()(std::this_thread::get_id())));
        fs::remove_all(directory);
        fs::create_directories(directory);
    }
    ~TraceLoggerTest() override {
        orvane::StopDebugLog();
        orvane::GetDebugLogger().close();
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }

    fs::path file(const std::string& name) const { return directory / name; }

    fs::path directory;
};

// --- line format ------------------------------------------------------------

TEST_F(TraceLoggerTest, LineHoldsDateTimeThreadLevelAndText) {
    EXPECT_EQ(orvane::detail::FormatLine(MakeTime(2024, 3, 5, 9, 7, 2), 4711, LogLevel::Info,
                                         "connected"),
              "2024-03-05 09:07:02 4711 INFO - connected\n");
    EXPECT_EQ(
        orvane::detail::FormatLine(MakeTime(2031, 12, 31, 23, 59, 58), 7, LogLevel::Debug, ""),
        "2031-12-31 23:59:58 7 DEBUG - \n");
}

TEST_F(TraceLoggerTest, FieldsBelowTenAreZeroFilledButTheYearIsNot) {
    EXPECT_EQ(orvane::detail::FormatLine(MakeTime(987, 1, 2, 0, 0, 0), 1, LogLevel::Info, "x"),
              "987-01-02 00:00:00 1 INFO - x\n");
}

TEST_F(TraceLoggerTest, EveryLevelHasItsNameAndOthersAreUnknown) {
    const auto nameOf = [](LogLevel level) {
        const std::string line =
            orvane::detail::FormatLine(MakeTime(2024, 1, 1, 0, 0, 0), 1, level, "t");
        std::smatch match;
        return std::regex_match(line, match, kLinePattern) ? match[8].str() : "<malformed>";
    };
    EXPECT_EQ(nameOf(LogLevel::Debug), "DEBUG");
    EXPECT_EQ(nameOf(LogLevel::Info), "INFO");
    EXPECT_EQ(nameOf(LogLevel::Error), "ERROR");
    EXPECT_EQ(nameOf(LogLevel::Fatal), "FATAL");
    EXPECT_EQ(nameOf(static_cast<LogLevel>(4)), "UNKNOWN");
    EXPECT_EQ(nameOf(static_cast<LogLevel>(-1)), "UNKNOWN");
    EXPECT_EQ(nameOf(static_cast<LogLevel>(1 << 30)), "UNKNOWN");
}

TEST_F(TraceLoggerTest, TextWithLineFeedsIsWrittenUnchangedPlusOneLineFeed) {
    DebugLogger logger;
    logger.open(file("log.txt").string());
    logger.log(0, 0, LogLevel::Error, "first\nsecond\n");
    const std::string content = ReadFile(file("log.txt"));
    EXPECT_EQ(content.substr(content.find(" ERROR - ")), " ERROR - first\nsecond\n\n");
}

// A line written now carries the current local time and the kernel's id of
// the writing thread.
TEST_F(TraceLoggerTest, WrittenLineCarriesTheLocalTimeAndTheCallingThreadsId) {
    DebugLogger logger;
    logger.open(file("log.txt").string());
    const std::time_t before = std::time(nullptr);
    logger.log(0, 0, LogLevel::Info, "connected");
    const std::time_t after = std::time(nullptr);

    const auto lines = ReadLines(file("log.txt"));
    ASSERT_EQ(lines.size(), 1u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, kLinePattern)) << lines[0];
    std::tm written = MakeTime(std::stoi(match[1]), std::stoi(match[2]), std::stoi(match[3]),
                               std::stoi(match[4]), std::stoi(match[5]), std::stoi(match[6]));
    written.tm_isdst = -1;
    const std::time_t stamp = std::mktime(&written);
    EXPECT_LE(before, stamp);
    EXPECT_LE(stamp, after);
#if defined(__linux__)
    EXPECT_EQ(match[7].str(), std::to_string(::syscall(SYS_gettid)));
#endif
    EXPECT_EQ(match[8].str(), "INFO");
    EXPECT_EQ(match[9].str(), "connected");
}

// --- the debug logger's file ------------------------------------------------

TEST_F(TraceLoggerTest, FreshOrEmptyPathLoggerWritesNothingAndCreatesNoFile) {
    DebugLogger fresh;
    fresh.log(0, 0, LogLevel::Fatal, "dropped");
    EXPECT_EQ(fresh.getPath(), "");

    DebugLogger empty;
    empty.open("");
    empty.log(0, 0, LogLevel::Fatal, "dropped");
    EXPECT_EQ(empty.getPath(), "");
    EXPECT_TRUE(fs::is_empty(directory));
}

TEST_F(TraceLoggerTest, OpenTruncatesAnExistingFile) {
    const fs::path path = file("log.txt");
    std::ofstream(path) << "an older log\n";
    DebugLogger logger;
    logger.open(path.string());
    EXPECT_EQ(logger.getPath(), path.string());
    EXPECT_TRUE(ReadFile(path).empty());

    logger.log(0, 0, LogLevel::Info, "new");
    const auto lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], kLinePattern)) << lines[0];
}

TEST_F(TraceLoggerTest, EachLineIsInTheFileAsSoonAsLogReturns) {
    DebugLogger logger;
    logger.open(file("log.txt").string());
    for (int i = 1; i <= 3; ++i) {
        logger.log(0, 0, LogLevel::Debug, "line " + std::to_string(i));
        EXPECT_EQ(ReadLines(file("log.txt")).size(), static_cast<std::size_t>(i));
    }
}

TEST_F(TraceLoggerTest, LogAfterCloseWritesNothing) {
    DebugLogger logger;
    logger.open(file("log.txt").string());
    logger.log(0, 0, LogLevel::Info, "kept");
    logger.close();
    logger.log(0, 0, LogLevel::Info, "dropped");
    logger.close();  // closing twice is harmless
    EXPECT_EQ(ReadLines(file("log.txt")).size(), 1u);
}

TEST_F(TraceLoggerTest, UnwritablePathLeavesTheLoggerDisabled) {
    const fs::path path = directory / "missing" / "log.txt";
    DebugLogger logger;
    logger.open(path.string());
    logger.log(0, 0, LogLevel::Error, "dropped");
    EXPECT_EQ(logger.getPath(), path.string());
    EXPECT_FALSE(fs::exists(path));
}

#if defined(__linux__)
// How many descriptors of this process refer to `path`.
int CountOpenHandles(const fs::path& path) {
    int count = 0;
    const fs::path target = fs::canonical(path);
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (fs::read_symlink(entry.path(), error) == target) {
            ++count;
        }
    }
    return count;
}
#endif

TEST_F(TraceLoggerTest, ReopeningClosesThePreviousFileFirst) {
    DebugLogger logger;
    logger.open(file("first.txt").string());
    logger.log(0, 0, LogLevel::Info, "one");
    logger.open(file("second.txt").string());
    logger.log(0, 0, LogLevel::Info, "two");
#if defined(__linux__)
    EXPECT_EQ(CountOpenHandles(file("first.txt")), 0);
    EXPECT_EQ(CountOpenHandles(file("second.txt")), 1);
#endif
    EXPECT_EQ(ReadLines(file("first.txt")).size(), 1u);
    EXPECT_EQ(ReadLines(file("second.txt")).size(), 1u);

    // A reopen that fails leaves the logger closed and disabled.
    logger.open((directory / "missing" / "third.txt").string());
    logger.log(0, 0, LogLevel::Info, "dropped");
#if defined(__linux__)
    EXPECT_EQ(CountOpenHandles(file("second.txt")), 0);
#endif
    EXPECT_EQ(ReadLines(file("second.txt")).size(), 1u);
}

TEST_F(TraceLoggerTest, OpenWithAnEmptyPathKeepsTheOpenFile) {
    DebugLogger logger;
    logger.open(file("log.txt").string());
    logger.open("");
    EXPECT_EQ(logger.getPath(), "");
    logger.log(0, 0, LogLevel::Info, "still written");
    EXPECT_EQ(ReadLines(file("log.txt")).size(), 1u);
}

TEST_F(TraceLoggerTest, LinesFromSeveralThreadsStayWhole) {
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    DebugLogger logger;
    logger.open(file("log.txt").string());

    std::promise<void> go;
    std::shared_future<void> start = go.get_future().share();
    std::vector<std::thread> writers;
    writers.reserve(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            start.wait();
            for (int i = 0; i < kLines; ++i) {
                logger.log(0, t, LogLevel::Debug, std::string(40, static_cast<char>('a' + t)));
            }
        });
    }
    go.set_value();
    for (auto& writer : writers) {
        writer.join();
    }

    const auto lines = ReadLines(file("log.txt"));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
    const std::regex whole(R"(^.* DEBUG - ([a-d])\1{39}\n$)");
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
    }
}

// --- LogLine and the process-wide state ------------------------------------

TEST_F(TraceLoggerTest, LogLineHandsItsContextAndTextToTheCurrentLogger) {
    StrictMock<MockTraceLogger> logger;
    orvane::SetTraceLogger(&logger);
    EXPECT_CALL(logger, log(0x7e8, 3, LogLevel::Error, "no answer from 7E8 after 2 tries"));
    EXPECT_CALL(logger, log(0, 0, LogLevel::Debug, "defaults"));
    LogLine().setContext(0x7e8, 3, LogLevel::Error)
        << "no answer from " << std::hex << std::uppercase << 0x7e8 << std::dec << " after " << 2
        << " tries";
    LogLine() << "defaults";
    orvane::ResetTraceLogger();
}

TEST_F(TraceLoggerTest, LogLineWithoutACurrentLoggerIsDropped) {
    StrictMock<MockTraceLogger> logger;  // must not be called
    orvane::SetTraceLogger(&logger);
    orvane::ResetTraceLogger();
    LogLine().setContext(1, 1, LogLevel::Fatal) << "dropped";
}

TEST_F(TraceLoggerTest, LogLineThatFailsToLogDoesNotThrow) {
    MockTraceLogger logger;
    orvane::SetTraceLogger(&logger);
    EXPECT_CALL(logger, log(_, _, _, "x")).WillOnce([](auto...) {
        throw std::runtime_error("disk full");
    });
    EXPECT_NO_THROW(LogLine() << "x");
    orvane::ResetTraceLogger();
}

TEST_F(TraceLoggerTest, DebugLogReceivesLogLinesUntilStoppedButKeepsItsFileOpen) {
    const fs::path path = file("debug.txt");
    orvane::StartDebugLog(path.string());
    EXPECT_EQ(orvane::GetDebugLogger().getPath(), path.string());
    LogLine().setContext(0, 0, LogLevel::Error) << "code " << 42;
    auto lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 1u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, kLinePattern)) << lines[0];
    EXPECT_EQ(lines[0].substr(lines[0].find(" ERROR")), " ERROR - code 42\n");

    orvane::StopDebugLog();
    LogLine().setContext(0, 0, LogLevel::Error) << "dropped";
    EXPECT_EQ(ReadLines(path).size(), 1u);

    orvane::GetDebugLogger().log(0, 0, LogLevel::Info, "direct");
    lines = ReadLines(path);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[1].find(" INFO - direct\n"), std::string::npos);
}

TEST_F(TraceLoggerTest, StartDebugLogReplacesTheCurrentLoggerEvenWhenOpeningFails) {
    StrictMock<MockTraceLogger> previous;  // must not be called once replaced
    orvane::SetTraceLogger(&previous);
    orvane::StartDebugLog((directory / "missing" / "debug.txt").string());
    LogLine() << "dropped";  // reaches the debug logger, which is disabled
    EXPECT_FALSE(fs::exists(directory / "missing"));
}

}  // namespace
