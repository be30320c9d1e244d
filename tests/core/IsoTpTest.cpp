#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "bus/Addressing.h"
#include "bus/Hex.h"
#include "bus/IsoTp.h"

namespace {

using obd::bus::Bytes;
using obd::bus::CanFrame;
using obd::bus::IsoTpError;
using obd::bus::Reassembler;
using obd::bus::Segment;
using ::testing::ElementsAre;

std::string Data(const CanFrame& frame) {
    return obd::bus::ToHex(Bytes(frame.data.begin(), frame.data.end()));
}

TEST(IsoTpTest, ShortMessageIsOnePaddedSingleFrame) {
    const auto frames = Segment(0x7E8, {0x41, 0x0C, 0x1A, 0xF8}, 0x55);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].id, 0x7E8u);
    EXPECT_EQ(Data(frames[0]), "04 41 0C 1A F8 55 55 55");
}

TEST(IsoTpTest, LongMessageIsFirstFrameAndConsecutiveFrames) {
    // The VIN answer: 20 bytes.
    const Bytes vin =
        *obd::bus::ParseHex("49 02 01 57 42 41 33 42 35 43 35 31 46 4B 31 32 33 34 35 36");
    const auto frames = Segment(0x7E8, vin, 0xAA);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(Data(frames[0]), "10 14 49 02 01 57 42 41");
    EXPECT_EQ(Data(frames[1]), "21 33 42 35 43 35 31 46");
    EXPECT_EQ(Data(frames[2]), "22 4B 31 32 33 34 35 36");

    Reassembler reassembler;
    EXPECT_FALSE(reassembler.feed(frames[0]).has_value());
    EXPECT_TRUE(reassembler.inProgress());
    EXPECT_FALSE(reassembler.feed(frames[1]).has_value());
    EXPECT_EQ(reassembler.feed(frames[2]), vin);
    EXPECT_FALSE(reassembler.inProgress());
}

TEST(IsoTpTest, PaddingOfTheLastFrameIsNotPartOfTheMessage) {
    const Bytes message(8, 0x11);
    const auto frames = Segment(0x7E9, message, 0x00);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(Data(frames[1]), "21 11 11 00 00 00 00 00");
    Reassembler reassembler;
    reassembler.feed(frames[0]);
    EXPECT_EQ(reassembler.feed(frames[1]), message);
}

TEST(IsoTpTest, SequenceNumbersWrapAfterFifteen) {
    const Bytes message(6 + 7 * 17, 0x42);
    const auto frames = Segment(0x7E8, message, 0x55);
    ASSERT_EQ(frames.size(), 18u);
    EXPECT_EQ(frames[15].data[0], 0x2F);
    EXPECT_EQ(frames[16].data[0], 0x20);
    EXPECT_EQ(frames[17].data[0], 0x21);
    Reassembler reassembler;
    std::optional<Bytes> done;
    for (const CanFrame& frame : frames) {
        done = reassembler.feed(frame);
    }
    EXPECT_EQ(done, message);
}

TEST(IsoTpTest, BrokenSequencesAreRejected) {
    const auto frames = Segment(0x7E8, Bytes(20, 1), 0x55);
    Reassembler lost;
    EXPECT_THROW(lost.feed(frames[1]), IsoTpError);  // no first frame
    Reassembler skipped;
    skipped.feed(frames[0]);
    EXPECT_THROW(skipped.feed(frames[2]), IsoTpError);  // frame 1 missing
    EXPECT_FALSE(skipped.inProgress());
    EXPECT_THROW(Segment(0x7E8, {}, 0x55), IsoTpError);
    EXPECT_THROW(Segment(0x7E8, Bytes(4096, 0), 0x55), IsoTpError);
}

TEST(IsoTpTest, FlowControlAllowsEverythingAtOnce) {
    EXPECT_EQ(Data(obd::bus::FlowControl(0x7E0, 0x00)), "30 00 00 00 00 00 00 00");
}

}  // namespace

// The request id of an ECU from the id it answers with, on each addressing
// (ISO 15765-4 for CAN; the older buses name an ECU by its address).
TEST(AddressingTest, RequestIdsFollowEachAddressing) {
    struct Case {
        std::uint32_t response;
        std::uint32_t request;
    };
    const Case cases[] = {
        {0x7E8, 0x7E0},            // 11-bit: engine
        {0x7EF, 0x7E7},            // 11-bit: the eighth ECU
        {0x18DAF110, 0x18DA10F1},  // 29-bit: target and source swapped
        {0x18DAF11A, 0x18DA1AF1},
        {0x10, 0x10},  // J1850, ISO 9141-2, ISO 14230-4: the ECU's own address
    };
    for (const Case& c : cases) {
        EXPECT_EQ(obd::bus::RequestIdFor(c.response), c.request) << std::hex << c.response;
        EXPECT_EQ(obd::bus::ResponseIdFor(c.request), c.response) << std::hex << c.request;
    }
}
