// --record-anonymise: the VIN 1G1JC5444R7252367 (its serial part "252367")
// and a named calibration id, framed by hand as ISO 15765-2 (first frame
// 1L LL, consecutive frames 21, 22), the ELM327's numbered lines without
// headers, and SAE J1979 messages on ISO 9141-2 (48 6B 10, "49 02 n" and
// four bytes, check byte the sum of the others mod 256). The masked answer
// is written out in full: only the masked bytes and their check bytes
// differ from what the car sent.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "obd/elm327/DialogueAnonymiser.h"

namespace {

using Exchange = std::pair<std::string, std::string>;

struct Row {
    const char* name;
    std::vector<Exchange> before;  // the dialogue up to the exchange looked at
    Exchange exchange;
    std::string masked;
    std::vector<std::string> named = {};
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

const Exchange kVinOnCan11 = {"0902",
                              "7E8 10 14 49 02 01 31 47 31 \r7E8 21 4A 43 35 34 34 34 52 \r"
                              "7E9 03 7F 09 31 00 00 00 00 \r7E8 22 37 32 35 32 33 36 37 \r\r"};

const std::vector<Row> kRows = {
    {"Can11BitHeadersTwoEcusInterleaved",
     {{"ATH1", "OK\r\r"}, {"ATSP6", "OK\r\r"}},
     {"0902",
      "7E8 10 14 49 02 01 31 47 31 \r7E9 10 14 49 02 01 31 47 31 \r7E8 21 4A 43 35 34 34 34 52 "
      "\r7E9 21 4A 43 35 34 34 34 52 \r7E8 22 37 32 35 32 33 36 37 \r7E9 22 37 32 35 32 33 36 "
      "37 \r\r"},
     "7E8 10 14 49 02 01 31 47 31 \r7E9 10 14 49 02 01 31 47 31 \r7E8 21 4A 43 35 34 34 34 52 "
     "\r7E9 21 4A 43 35 34 34 34 52 \r7E8 22 37 30 30 30 30 30 30 \r7E9 22 37 30 30 30 30 30 "
     "30 \r\r"},
    {"Can29BitNoSpaces",
     {{"ATH1", "OK\r\r"}, {"ATS0", "OK\r\r"}, {"ATSP7", "OK\r\r"}},
     {"0902", "18DAF1101014490201314731\r18DAF110214A433534343452\r18DAF1102237323532333637\r\r"},
     "18DAF1101014490201314731\r18DAF110214A433534343452\r18DAF1102237303030303030\r\r"},
    {"CanWithoutHeadersNumberedLines",
     {{"ATH0", "OK\r\r"}, {"ATSP6", "OK\r\r"}},
     {"0902", "014\r0: 49 02 01 31 47 31 \r1: 4A 43 35 34 34 34 52 \r2: 37 32 35 32 33 36 37 \r\r"},
     "014\r0: 49 02 01 31 47 31 \r1: 4A 43 35 34 34 34 52 \r2: 37 30 30 30 30 30 30 \r\r"},
    {"Iso9141FiveMessagesCheckBytesRecomputed",
     {{"ATH1", "OK\r\r"}, {"ATSP3", "OK\r\r"}},
     {"0902",
      "BUS INIT: ...OK\r48 6B 10 49 02 01 00 00 00 31 40 \r48 6B 10 49 02 02 47 31 4A 43 15 \r"
      "48 6B 10 49 02 03 35 34 34 34 E2 \r48 6B 10 49 02 04 52 37 32 35 02 \r"
      "48 6B 10 49 02 05 32 33 36 37 E5 \r\r"},
     "BUS INIT: ...OK\r48 6B 10 49 02 01 00 00 00 31 40 \r48 6B 10 49 02 02 47 31 4A 43 15 \r"
     "48 6B 10 49 02 03 35 34 34 34 E2 \r48 6B 10 49 02 04 52 37 30 30 FB \r"
     "48 6B 10 49 02 05 30 30 30 30 D3 \r\r"},
    // The same header bytes as ISO 9141-2; the check byte is the SAE J1850
    // CRC (x^8 + x^4 + x^3 + x^2 + 1, initial FF, inverted).
    {"J1850VpwCrcRecomputed",
     {{"ATH1", "OK\r\r"}, {"ATSP2", "OK\r\r"}},
     {"0902",
      "48 6B 10 49 02 01 00 00 00 31 69 \r48 6B 10 49 02 02 47 31 4A 43 5B \r"
      "48 6B 10 49 02 03 35 34 34 34 AA \r48 6B 10 49 02 04 52 37 32 35 AF \r"
      "48 6B 10 49 02 05 32 33 36 37 0A \r\r"},
     "48 6B 10 49 02 01 00 00 00 31 69 \r48 6B 10 49 02 02 47 31 4A 43 5B \r"
     "48 6B 10 49 02 03 35 34 34 34 AA \r48 6B 10 49 02 04 52 37 30 30 5E \r"
     "48 6B 10 49 02 05 30 30 30 30 47 \r\r"},
    // ISO 14230-4 with the length in the format byte (87: seven data
    // bytes); a check byte the car got wrong (the last) stays wrong.
    {"Iso14230FormatByteAndAWrongCheckByte",
     {{"ATH1", "OK\r\r"}, {"ATSP5", "OK\r\r"}},
     {"0902",
      "87 F1 10 49 02 01 00 00 00 31 05 \r87 F1 10 49 02 02 47 31 4A 43 DA \r"
      "87 F1 10 49 02 03 35 34 34 34 A7 \r87 F1 10 49 02 04 52 37 32 35 C7 \r"
      "87 F1 10 49 02 05 32 33 36 37 00 \r\r"},
     "87 F1 10 49 02 01 00 00 00 31 05 \r87 F1 10 49 02 02 47 31 4A 43 DA \r"
     "87 F1 10 49 02 03 35 34 34 34 A7 \r87 F1 10 49 02 04 52 37 30 30 C0 \r"
     "87 F1 10 49 02 05 30 30 30 30 00 \r\r"},
    {"VinSeenBeforeMaskedInAnotherService",
     {{"ATH1", "OK\r\r"}, {"ATSP6", "OK\r\r"}, kVinOnCan11},
     {"22F190",
      "7E8 10 14 62 F1 90 31 47 31 \r7E8 21 4A 43 35 34 34 34 52 \r"
      "7E8 22 37 32 35 32 33 36 37 \r\r"},
     "7E8 10 14 62 F1 90 31 47 31 \r7E8 21 4A 43 35 34 34 34 52 \r"
     "7E8 22 37 30 30 30 30 30 30 \r\r"},
    {"NamedCalibrationIdAcrossFrames",
     {{"ATH1", "OK\r\r"}, {"ATSP6", "OK\r\r"}},
     {"0904",
      "7E8 10 13 49 04 01 4A 4D 42 \r7E8 21 2A 33 36 37 36 31 35 \r"
      "7E8 22 30 30 00 00 00 00 55 \r\r"},
     "7E8 10 13 49 04 01 30 30 30 \r7E8 21 30 30 30 30 30 30 30 \r"
     "7E8 22 30 30 00 00 00 00 55 \r\r",
     {"JMB*36761500"}},
};

class DialogueAnonymiserTest : public ::testing::TestWithParam<Row> {};

TEST_P(DialogueAnonymiserTest, MasksTheSerialAndNamedTextsOnly) {
    const Row& row = GetParam();
    obd::elm327::DialogueAnonymiser anonymiser(row.named);
    for (const auto& [command, answer] : row.before) {
        anonymiser.mask(command, answer);
    }
    EXPECT_EQ(anonymiser.mask(row.exchange.first, row.exchange.second), row.masked);
}

INSTANTIATE_TEST_SUITE_P(Answers, DialogueAnonymiserTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
