#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
