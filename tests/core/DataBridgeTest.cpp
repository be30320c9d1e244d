#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "obd/DataBridge.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A peer that never sends the delimiter cannot make the bridge hold more
// than its bound: past it the bridge is dead and holds nothing.
TEST(DataBridgeTest, BytesWithoutDelimiterBeyondTheBoundKillTheBridge) {
    obd::DataBridge bridge;
    bridge.setDelimiter('>');
    const Bytes chunk(4096, 'A');
    for (std::size_t held = 0; held + chunk.size() <= obd::DataBridge::kMaxIncomingBytes;
         held += chunk.size()) {
        bridge.set(chunk);
    }
    ASSERT_TRUE(bridge.isValid()) << "up to the bound is still an answer in the making";
    bridge.set(Bytes{'A'});
    EXPECT_FALSE(bridge.isValid());
    Bytes data;
    EXPECT_FALSE(bridge.receive(data, 0));
    EXPECT_TRUE(data.empty());
}

// An answer that arrives a byte at a time is delivered whole, up to and
// including its delimiter, and the bytes after it wait for the next one.
TEST(DataBridgeTest, AnswerArrivingInPiecesIsDeliveredUpToItsDelimiter) {
    obd::DataBridge bridge;
    bridge.setDelimiter('>');
    for (char byte : std::string("OK\r\r>41")) {
        bridge.set(Bytes{static_cast<std::uint8_t>(byte)});
    }
    Bytes data;
    ASSERT_TRUE(bridge.receive(data, 0));
    EXPECT_EQ(std::string(data.begin(), data.end()), "OK\r\r>");
    EXPECT_FALSE(bridge.receive(data, 0)) << "\"41\" has no prompt yet";
    bridge.set(Bytes{'\r', '>'});
    ASSERT_TRUE(bridge.receive(data, 0));
    EXPECT_EQ(std::string(data.begin(), data.end()), "41\r>");
}

// The adapter's last answer, sent just before the connection went, is
// delivered: it may say why (BUSY); then nothing more is.
TEST(DataBridgeTest, AnswerThatArrivedBeforeTheConnectionWentIsStillDelivered) {
    obd::DataBridge bridge;
    bridge.setDelimiter('>');
    bridge.set(Bytes{'B', 'U', 'S', 'Y', '\r', '\r', '>', '4'});
    bridge.invalidate();
    Bytes data;
    ASSERT_TRUE(bridge.receive(data, 1000));
    EXPECT_EQ(std::string(data.begin(), data.end()), "BUSY\r\r>");
    EXPECT_FALSE(bridge.receive(data, 1000)) << "\"4\" has no prompt and never will";
}

}  // namespace
