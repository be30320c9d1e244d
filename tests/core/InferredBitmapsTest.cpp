// A dialogue logged from after the client's first requests never asked the
// support bitmaps; the replay announces what each ECU answered. Expected
// bitmaps are worked out by hand by SAE J1979's layout: the first byte's top
// bit stands for the base + 1, the last bit for the next bitmap.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/ReplayedVehicle.h"

namespace {

struct Row {
    const char* dialogue;
    std::vector<std::string> inferred;
};

TEST(InferredBitmapsTest, AnnouncesWhatEachEcuAnswered) {
    const Row rows[] = {
        // 0D and 2F: 0D is bit 12 of 0100, 2F bit 14 of 0120, which 0100's
        // last bit announces.
        {R"([["ATH1","OK"],["ATSP6","OK"],["010D","7E8 03 41 0D 32"],["012F","7E8 03 41 2F 80"]])",
         {"never asked 0100: ECU 0x10 answers 41 00 00 08 00 01",
          "never asked 0120: ECU 0x10 answers 41 20 00 02 00 00"}},
        // ECU 11 only refused, ECU 10 only read out a CVN: both are OBD
        // ECUs, announcing no PID; only ECU 10 announces info type 06.
        {R"([["ATH1","OK"],["ATSP6","OK"],["010C","7E9 03 7F 01 12"],
            ["0906","7E8 07 49 06 01 11 22 33 44"]])",
         {"never asked 0100: ECU 0x10 answers 41 00 00 00 00 00",
          "never asked 0100: ECU 0x11 answers 41 00 00 00 00 00",
          "never asked 0900: ECU 0x10 answers 49 00 04 00 00 00"}},
        // The bitmap was asked: the car's own answer stands alone.
        {R"([["ATH1","OK"],["ATSP6","OK"],["0100","7E8 06 41 00 00 08 00 00"],
            ["010D","7E8 03 41 0D 32"]])",
         {}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(obd::elm327::ReadTranscript(row.dialogue).inferred, row.inferred) << row.dialogue;
    }
}

}  // namespace
