#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "LocalBroker.h"
#include "zelt/publish/Spool.h"

namespace {

using zelt::publish::Spool;

std::vector<std::string> Payloads(const Spool& spool) {
    std::vector<std::string> payloads;
    for (const auto& message : spool.messages()) {
        payloads.push_back(message.payload);
    }
    return payloads;
}

// Each message counts its topic (1 byte) and payload (9 bytes).
TEST(SpoolTest, FullSpoolDropsTheOldestAndCountsThem) {
    Spool spool("", 30);
    for (const char* payload : {"reading 1", "reading 2", "reading 3", "reading 4"}) {
        spool.push("t", payload);
    }
    EXPECT_EQ(Payloads(spool), (std::vector<std::string>{"reading 2", "reading 3", "reading 4"}));
    EXPECT_EQ(spool.dropped(), 1U);
    spool.push("t", std::string(40, 'x'));  // larger than the whole spool
    EXPECT_EQ(spool.messages().size(), 3U);
    EXPECT_EQ(spool.dropped(), 2U);
}

TEST(SpoolTest, NextRunFindsWhatWasNotAcknowledgedInOrder) {
    zelt::testing::TemporaryFolder folder;
    std::uint64_t last = 0;
    {
        Spool spool(folder.path, 1000);
        for (const char* payload : {"one", "two\nlines", "three"}) {
            spool.push("fleet/car1", payload);
        }
        EXPECT_TRUE(spool.remove(spool.messages().front().sequence));
        last = spool.messages().back().sequence;
    }
    // A write cut short by a kill leaves a temporary file, never a message.
    std::ofstream(folder.path + "/00000000000000000009.msg.tmp") << "fleet/car1\nhalf";

    Spool next(folder.path, 1000);
    EXPECT_EQ(Payloads(next), (std::vector<std::string>{"two\nlines", "three"}));
    EXPECT_EQ(next.messages().front().topic, "fleet/car1");
    next.push("fleet/car1", "four");
    EXPECT_GT(next.messages().back().sequence, last);
}

}  // namespace
