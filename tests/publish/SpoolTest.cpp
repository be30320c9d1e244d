#include <gtest/gtest.h>

#include <string>

#include "zelt/publish/Spool.h"

namespace {

// Each message below counts its topic (1 byte) and payload (9 bytes).
TEST(SpoolTest, FullSpoolDropsTheOldestAndCountsThem) {
    zelt::publish::Spool spool("", 30);
    for (const char* payload : {"reading 1", "reading 2", "reading 3", "reading 4"}) {
        spool.push("t", payload);
    }
    EXPECT_EQ(spool.messages().size(), 3U);
    EXPECT_EQ(spool.messages().front().payload, "reading 2");
    EXPECT_EQ(spool.dropped(), 1U);
    spool.push("t", std::string(40, 'x'));  // larger than the whole spool
    EXPECT_EQ(spool.messages().back().payload, "reading 4");
    EXPECT_EQ(spool.dropped(), 2U);
}

}  // namespace
