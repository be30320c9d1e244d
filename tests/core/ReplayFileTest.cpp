// A file handed to the replay that holds no dialogue is refused with the
// file and the reason, rather than served as a car that never answers.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
#include <string>

#include "obd/sim/EmulatedAdapter.h"

namespace {

TEST(ReplayFileTest, RefusesWhatHoldsNoDialogue) {
    const struct {
        const char* name;
        std::string content;
        const char* why;
    } cases[] = {
        {"empty", "", "neither a transcript nor a zelt-scan recording (empty)"},
        {"garbage", "\x89PNG\r\n", "neither a transcript nor a zelt-scan recording (not JSON)"},
        {"newer", "{\"format\":\"zelt-adapter-recording\",\"version\":2}\n",
         "a recording of version 2, newer than this emulator reads (1)"},
        // A run cut short leaves its last line unfinished.
        {"cut", "{\"format\":\"zelt-adapter-recording\",\"version\":1}\n{\"t\":0,\"command\":\"AT",
         "line 2 is not an exchange"},
    };
    for (const auto& c : cases) {
        const std::string path = ::testing::TempDir() + "replay-" + c.name;
        std::ofstream(path, std::ios::binary) << c.content;
        try {
            obd::sim::EmulatedAdapter::replayFile(path);
            ADD_FAILURE() << c.name << " was replayed";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(error.what(), path + ": " + c.why) << c.name;
        }
    }
}

}  // namespace
