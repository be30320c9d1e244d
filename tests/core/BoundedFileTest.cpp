// The bounded file read under scenarios and profiles: a file up to the bound
// is read as it is, one past it is refused after reading at most one piece
// more, and an endless device (/dev/zero) is refused rather than read whole.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "json/BoundedFile.h"
#include "obd/VehicleProfile.h"
#include "obd/sim/EmulatedAdapter.h"
#include "obd/sim/Scenario.h"

namespace {

using obd::detail::FileRead;
using obd::detail::ReadBoundedFile;

constexpr std::size_t kBound = 100000;     // more than one 64 KiB piece
constexpr std::size_t kPiece = 64 * 1024;  // what the read holds at a time
// A directory opens as a file on POSIX and fails at the first read; Windows
// refuses to open it.
#ifdef _WIN32
constexpr FileRead kDirectory = FileRead::CannotOpen;
#else
constexpr FileRead kDirectory = FileRead::CannotRead;
#endif

std::string FileOf(std::size_t bytes) {
    const std::string path = ::testing::TempDir() + "bounded-" + std::to_string(bytes);
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
    return path;
}

TEST(BoundedFileTest, ReadsUpToTheBoundAndRefusesPastIt) {
    const struct {
        std::string path;
        FileRead outcome;
        std::size_t bytes;  // read, for FileRead::Read
    } cases[] = {
        {FileOf(0), FileRead::Read, 0},
        {FileOf(kBound), FileRead::Read, kBound},
        {FileOf(kBound + 1), FileRead::TooLarge, 0},
        {"/dev/zero", FileRead::TooLarge, 0},
        {"/nonexistent/file.json", FileRead::CannotOpen, 0},
        {::testing::TempDir(), kDirectory, 0},
    };
    for (const auto& c : cases) {
        std::string text;
        EXPECT_EQ(ReadBoundedFile(c.path, kBound, text), c.outcome) << c.path;
        EXPECT_LE(text.size(), kBound + kPiece) << c.path;
        if (c.outcome == FileRead::Read) {
            EXPECT_EQ(text, std::string(c.bytes, 'x')) << c.path;
        }
    }
}

// docs/cli.md and docs/profiles.md: a file over 4 MiB (a dialogue: 64 MiB) is
// refused, the file named in the one line that says so.
TEST(BoundedFileTest, LoadersRefuseAnEndlessFileByName) {
    try {
        obd::sim::Scenario::loadFile("/dev/zero");
        ADD_FAILURE() << "read /dev/zero as a scenario";
    } catch (const obd::sim::ScenarioError& error) {
        EXPECT_THAT(error.what(),
                    ::testing::StartsWith("/dev/zero: the file is larger than 4 MiB"));
    }
    try {
        obd::VehicleProfile::loadFile("/dev/zero");
        ADD_FAILURE() << "read /dev/zero as a profile";
    } catch (const obd::ProfileError& error) {
        EXPECT_STREQ(error.what(), "/dev/zero: larger than 4 MiB");
    }
    try {
        obd::sim::EmulatedAdapter::replayFile("/dev/zero");
        ADD_FAILURE() << "read /dev/zero as a dialogue";
    } catch (const std::invalid_argument& error) {
        EXPECT_THAT(error.what(),
                    ::testing::StartsWith("/dev/zero: the file is larger than 64 MiB"));
    }
}

}  // namespace
