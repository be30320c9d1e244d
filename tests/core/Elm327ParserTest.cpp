#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bus/Hex.h"
#include "elm327/AnswerParser.h"
#include "elm327/LegacyMessages.h"

namespace {

using obd::DataLinkProtocol;
using obd::elm327::AnswerFormat;
using obd::elm327::AnswerStatus;
using obd::elm327::ParseAnswer;
using obd::elm327::ParsedAnswer;

// One ECU's answer as "7E8=41 0C 1A F8".
std::vector<std::string> Describe(const ParsedAnswer& answer) {
    std::vector<std::string> lines;
    for (const auto& response : answer.responses) {
        char id[16];
        std::snprintf(id, sizeof id, "%X", static_cast<unsigned>(response.ecu));
        lines.push_back(std::string(id) + "=" + obd::bus::ToHex(response.payload));
    }
    return lines;
}

struct Dialogue {
    const char* name;
    const char* command;
    const char* text;  // as the adapter printed it, prompt included
    bool headers;
    std::vector<std::string> expected;
    DataLinkProtocol protocol = DataLinkProtocol::Automatic;
};

class AnsweredDialogueTest : public ::testing::TestWithParam<Dialogue> {};

TEST_P(AnsweredDialogueTest, YieldsEachEcuPayload) {
    const Dialogue& dialogue = GetParam();
    AnswerFormat format;
    format.headers = dialogue.headers;
    format.protocol = dialogue.protocol;
    const ParsedAnswer answer = ParseAnswer(dialogue.text, dialogue.command, format);
    ASSERT_EQ(answer.status, AnswerStatus::Answered) << answer.message;
    EXPECT_EQ(Describe(answer), dialogue.expected);
}

const char kVinNumberedSpaces[] =
    "014\r0: 49 02 01 31 44 34\r1: 47 50 30 30 52 35 35\r2: 42 31 32 33 34 35 36\r\r>";
const std::string kVinPayload = "49 02 01 31 44 34 47 50 30 30 52 35 35 42 31 32 33 34 35 36";

INSTANTIATE_TEST_SUITE_P(
    RecordedDialogues, AnsweredDialogueTest,
    ::testing::Values(
        Dialogue{"SingleFrame11BitHeaders",
                 "010C",
                 "7E8 04 41 0C 1A F8 00 00 00\r\r>",
                 true,
                 {"7E8=41 0C 1A F8"}},
        Dialogue{"SingleFrame11BitNoSpaces",
                 "010C",
                 "7E804410C1AF8AAAAAA\r\r>",
                 true,
                 {"7E8=41 0C 1A F8"}},
        // Six PIDs with the answer count: engine speed, vehicle speed,
        // coolant, throttle, run time; intake temperature left out.
        Dialogue{"MultiPidMultiFrameWithCount",
                 "010C0D05110F1F1",
                 "7E8 10 0D 41 0C 1A F8 0D 32\r7E8 21 05 5A 11 40 1F 00 10\r\r>",
                 true,
                 {"7E8=41 0C 1A F8 0D 32 05 5A 11 40 1F 00 10"}},
        Dialogue{
            "SingleFrameWithoutPadding", "010D", "7E8 03 41 0D 32\r\r>", true, {"7E8=41 0D 32"}},
        Dialogue{"SingleFrame29Bit",
                 "010C",
                 "18 DA F1 10 04 41 0C 1A F8 55 55 55\r\r>",
                 true,
                 {"18DAF110=41 0C 1A F8"}},
        Dialogue{"SingleFrame29BitNoSpaces",
                 "010C",
                 "18DAF11004410C1AF8555555\r\r>",
                 true,
                 {"18DAF110=41 0C 1A F8"}},
        Dialogue{"RawMultiFrame11Bit",
                 "0902",
                 "7E8 10 14 49 02 01 31 44 34\r7E8 21 47 50 30 30 52 35 35\r"
                 "7E8 22 42 31 32 33 34 35 36\r\r>",
                 true,
                 {"7E8=" + kVinPayload}},
        Dialogue{"RawMultiFrame29Bit",
                 "0902",
                 "18DAF1101014490201314434\r18DAF1102147503030523535\r"
                 "18DAF1102242313233343536\r\r>",
                 true,
                 {"18DAF110=" + kVinPayload}},
        Dialogue{"SeveralEcusSortedByAddress",
                 "0100",
                 "7E9 06 41 00 98 18 80 01 00\r7E8 06 41 00 BE 3F A8 13 00\r\r>",
                 true,
                 {"7E8=41 00 BE 3F A8 13", "7E9=41 00 98 18 80 01"}},
        Dialogue{"InterleavedMultiFrameFromTwoEcus",
                 "0902",
                 "7E8 10 14 49 02 01 31 44 34\r7E9 03 7F 09 12\r7E8 21 47 50 30 30 52 35 35\r"
                 "7E8 22 42 31 32 33 34 35 36\r>",
                 true,
                 {"7E8=" + kVinPayload, "7E9=7F 09 12"}},
        Dialogue{"NumberedMultiFrame", "0902", kVinNumberedSpaces, false, {"0=" + kVinPayload}},
        Dialogue{"NumberedMultiFrameNoSpaces",
                 "0902",
                 "014\r0:490201314434\r1:47503030523535\r2:42313233343536\r\r>",
                 false,
                 {"0=" + kVinPayload}},
        Dialogue{"NumberedMultiFramePaddedLastLine",
                 "0902",
                 "00A\r0: 49 02 01 31 44 34\r1: 47 50 30 30 AA AA AA\r>",
                 false,
                 {"0=49 02 01 31 44 34 47 50 30 30"}},
        Dialogue{"NoHeadersSingleFrame", "010C", "41 0C 1A F8 \r\r>", false, {"0=41 0C 1A F8"}},
        Dialogue{"EchoLeftOn",
                 "010C",
                 "010C\r7E8 04 41 0C 1A F8 00 00 00\r\r>",
                 true,
                 {"7E8=41 0C 1A F8"}},
        Dialogue{"EchoWithSpacesAndLowerCase",
                 "01 0C",
                 "01 0c\r7e8 04 41 0c 1a f8\r>",
                 true,
                 {"7E8=41 0C 1A F8"}},
        Dialogue{"SearchingFirst",
                 "0100",
                 "SEARCHING...\r7E8 06 41 00 BE 3F A8 13 00\r\r>",
                 true,
                 {"7E8=41 00 BE 3F A8 13"}},
        Dialogue{"BusInitOk",
                 "0100",
                 "BUS INIT: ...OK\r7E8 06 41 00 BE 3F A8 13\r>",
                 true,
                 {"7E8=41 00 BE 3F A8 13"}},
        Dialogue{
            "CrLfEndings", "010C", "\r\n7E8 04 41 0C 1A F8\r\n\r\n>", true, {"7E8=41 0C 1A F8"}},
        Dialogue{
            "LfOnlyAndNulBytes", "010C", "\n7E8 04 41 0C 1A F8\n\0\n>", true, {"7E8=41 0C 1A F8"}},
        Dialogue{"TextAfterPromptIgnored",
                 "010C",
                 "7E8 04 41 0C 1A F8\r>STOPPED\r",
                 true,
                 {"7E8=41 0C 1A F8"}},
        Dialogue{"NegativeResponse", "0904", "7E8 03 7F 09 31\r>", true, {"7E8=7F 09 31"}},
        // The older buses: header 48 6B 10 (J1979: answer to the tester from
        // the engine, address 10), the data, and the check byte; ISO 9141-2
        // sums the bytes (48+6B+10+41+0C+1A+F8 = 0x322), ISO 14230-4 puts the
        // length into its format byte (84: four data bytes).
        Dialogue{"Iso9141Headers",
                 "010C",
                 "BUS INIT: ...OK\r48 6B 10 41 0C 1A F8 22\r\r>",
                 true,
                 {"10=41 0C 1A F8"},
                 DataLinkProtocol::Iso9141},
        Dialogue{"KwpHeaders",
                 "010C",
                 "84 F1 10 41 0C 1A F8 E4\r\r>",
                 true,
                 {"10=41 0C 1A F8"},
                 DataLinkProtocol::Iso14230FastInit},
        Dialogue{"Iso9141TwoEcus",
                 "010D",
                 "48 6B 18 41 0D 32 4B\r48 6B 10 41 0D 32 43\r\r>",
                 true,
                 {"10=41 0D 32", "18=41 0D 32"},
                 DataLinkProtocol::Iso9141},
        Dialogue{"LegacyWithoutHeaders",
                 "010C",
                 "SEARCHING...\r41 0C 1A F8\r\r>",
                 false,
                 {"0=41 0C 1A F8"},
                 DataLinkProtocol::SaeJ1850Vpw},
        // J1979 on the older buses: the VIN in five messages numbered 1 to 5,
        // the first filled with three 00 bytes; joined as CAN carries it.
        Dialogue{"LegacyVinInFiveMessages",
                 "0902",
                 "49 02 01 00 00 00 31\r49 02 02 44 34 47 50\r49 02 03 30 30 52 35\r"
                 "49 02 04 35 42 31 32\r49 02 05 33 34 35 36\r\r>",
                 false,
                 {"0=" + kVinPayload},
                 DataLinkProtocol::SaeJ1850Pwm},
        // Trouble codes three to a message, 00 00 filling, no count byte
        // (the datasheet's "43 01 33 00 00 00 00" is P0133).
        Dialogue{"LegacyOneTroubleCode",
                 "03",
                 "43 01 33 00 00 00 00\r\r>",
                 false,
                 {"0=43 01 01 33"},
                 DataLinkProtocol::Iso9141},
        Dialogue{"LegacyFourTroubleCodesInTwoMessages",
                 "03",
                 "43 01 33 01 34 01 35\r43 01 36 00 00 00 00\r>",
                 false,
                 {"0=43 04 01 33 01 34 01 35 01 36"},
                 DataLinkProtocol::SaeJ1850Vpw},
        Dialogue{"LegacyNoTroubleCode",
                 "03",
                 "43 00 00 00 00 00 00\r>",
                 false,
                 {"0=43 00"},
                 DataLinkProtocol::Iso9141},
        // Real cars: an ISO 14230-4 frame whose format byte (83: three data
        // bytes) ends it with no check byte; a Citroen's RPM line cut to an
        // odd digit count beside a second ECU's refusal; a clone's KWP trouble
        // codes, P1407 and two 00 00 fillers that are no code.
        Dialogue{"KwpFrameWithoutCheckByte",
                 "010D",
                 "83 F1 10 41 0D 32\r\r>",
                 true,
                 {"10=41 0D 32"},
                 DataLinkProtocol::Iso14230FastInit},
        Dialogue{"KwpLineCutToAnOddDigitCount",
                 "010C",
                 "BUS INIT: OK\r41 0C 000\r7F 01 12\r\r>",
                 false,
                 {"0=7F 01 12"},
                 DataLinkProtocol::Iso14230FastInit},
        Dialogue{"KwpTroubleCodeWithFillers",
                 "03",
                 "87 F1 12 43 14 07 00 00 00 00 E8\r>",
                 true,
                 {"12=43 01 14 07"},
                 DataLinkProtocol::Iso14230FastInit},
        Dialogue{"LegacySupportedInformation",
                 "0900",
                 "49 00 01 54 00 00 00\r>",
                 false,
                 {"0=49 00 54 00 00 00"},
                 DataLinkProtocol::Iso9141}),
    [](const ::testing::TestParamInfo<Dialogue>& info) { return info.param.name; });

struct ErrorDialogue {
    const char* name;
    const char* text;
    AnswerStatus status;
    const char* message;
};

class FailedDialogueTest : public ::testing::TestWithParam<ErrorDialogue> {};

TEST_P(FailedDialogueTest, GivesAClearResult) {
    const ErrorDialogue& dialogue = GetParam();
    const ParsedAnswer answer = ParseAnswer(dialogue.text, "0100", AnswerFormat{});
    EXPECT_EQ(answer.status, dialogue.status);
    EXPECT_EQ(answer.message, dialogue.message);
    EXPECT_TRUE(answer.responses.empty());
}

INSTANTIATE_TEST_SUITE_P(
    RecordedDialogues, FailedDialogueTest,
    ::testing::Values(
        ErrorDialogue{"NoData", "NO DATA\r\r>", AnswerStatus::NoData, ""},
        ErrorDialogue{"SearchingThenNoData", "SEARCHING...\rNO DATA\r>", AnswerStatus::NoData, ""},
        ErrorDialogue{"NoDataNoSpaces", "NODATA\r>", AnswerStatus::NoData, ""},
        ErrorDialogue{"OnlyPrompt", ">", AnswerStatus::NoData, ""},
        ErrorDialogue{"CanError", "CAN ERROR\r\r>", AnswerStatus::Error, "CAN ERROR"},
        ErrorDialogue{"BusInitError", "BUS INIT: ...ERROR\r>", AnswerStatus::Error,
                      "BUS INIT: ...ERROR"},
        ErrorDialogue{"Stopped", "STOPPED\r>", AnswerStatus::Error, "STOPPED"},
        ErrorDialogue{"UnableToConnect", "SEARCHING...\rUNABLE TO CONNECT\r>", AnswerStatus::Error,
                      "UNABLE TO CONNECT"},
        ErrorDialogue{"Unknown", "?\r>", AnswerStatus::Error, "?"},
        ErrorDialogue{"BufferFullAfterData", "7E8 04 41 0C 1A F8\rBUFFER FULL\r>",
                      AnswerStatus::Error, "BUFFER FULL"},
        ErrorDialogue{"MissingConsecutiveFrame",
                      "7E8 10 14 49 02 01 31 44 34\r7E8 21 47 50 30 30 52 35 35\r>",
                      AnswerStatus::Error, "incomplete multi-frame answer"},
        ErrorDialogue{
            "WrongSequence", "7E8 10 14 49 02 01 31 44 34\r7E8 22 47 50 30 30 52 35 35\r>",
            AnswerStatus::Error, "malformed multi-frame answer: consecutive frame out of sequence"},
        ErrorDialogue{"HeaderWithoutData", "7E8\r>", AnswerStatus::Error, "malformed answer: 7E8"},
        ErrorDialogue{"FrameTooLong", "7E8 04 41 0C 1A F8 00 00 00 00 00\r>", AnswerStatus::Error,
                      "malformed answer: 7E8 04 41 0C 1A F8 00 00 00 00 00"},
        // Declares four bytes, holds three: zero-filled it would read 768 rpm.
        ErrorDialogue{"SingleFrameShorterThanDeclared", "7E8 04 41 0C 0C\r>", AnswerStatus::Error,
                      "frame shorter than it declares: 7E8 04 41 0C 0C"},
        ErrorDialogue{"ConsecutiveFrameCut",
                      "7E8 10 14 49 02 01 31 44 34\r7E8 21 47 50 30\r"
                      "7E8 22 42 31 32 33 34 35 36\r>",
                      AnswerStatus::Error, "frame shorter than it declares: 7E8 21 47 50 30"},
        ErrorDialogue{"FirstFrameCut", "7E8 10 14 49 02 01\r>", AnswerStatus::Error,
                      "frame shorter than it declares: 7E8 10 14 49 02 01"}),
    [](const ::testing::TestParamInfo<ErrorDialogue>& info) { return info.param.name; });

// Older-bus answers whose framing does not hold together.
TEST(Elm327ParserTest, BrokenLegacyFramingIsAnError) {
    const struct {
        const char* text;
        DataLinkProtocol protocol;
        bool headers;
        const char* message;
    } cases[] = {
        {"48 6B 10 41 0C 1A F8 23\r>", DataLinkProtocol::Iso9141, true,
         "check byte does not match: 48 6B 10 41 0C 1A F8 23"},
        {"48 6B 10 41 0C 1A F8 22\r>", DataLinkProtocol::SaeJ1850Vpw, true,
         "check byte does not match: 48 6B 10 41 0C 1A F8 22"},
        {"85 F1 10 41 0C 1A F8 E5\r>", DataLinkProtocol::Iso14230SlowInit, true,
         "frame length differs from its format byte: 85 F1 10 41 0C 1A F8 E5"},
        {"48 6B 10 22\r>", DataLinkProtocol::Iso9141, true, "malformed answer: 48 6B 10 22"},
        // Message 3 of the VIN missing.
        {"49 02 01 00 00 00 31\r49 02 02 44 34 47 50\r49 02 04 35 42 31 32\r"
         "49 02 05 33 34 35 36\r>",
         DataLinkProtocol::Iso9141, false, "messages that do not form one answer"},
        {"43 01 33 00\r>", DataLinkProtocol::Iso9141, false,
         "messages that do not form one answer"},
    };
    for (const auto& c : cases) {
        AnswerFormat format;
        format.headers = c.headers;
        format.protocol = c.protocol;
        const ParsedAnswer answer = ParseAnswer(c.text, "0902", format);
        EXPECT_EQ(answer.status, AnswerStatus::Error) << c.text;
        EXPECT_EQ(answer.message, c.message);
    }
}

// The SAE J1850 CRC's check value (CRC-8/SAE-J1850 over "123456789").
TEST(Elm327ParserTest, J1850CheckByteIsTheSaeCrc) {
    const std::string text = "123456789";
    EXPECT_EQ(obd::elm327::CheckByte(obd::bus::Framing::J1850,
                                     obd::elm327::Bytes(text.begin(), text.end())),
              0x4B);
}

TEST(Elm327ParserTest, BatteryVoltageIsReadOnlyWhenPlausible) {
    using obd::elm327::ReadVoltage;
    EXPECT_EQ(ReadVoltage("12.6V"), 12.6);
    EXPECT_EQ(ReadVoltage("14V"), 14.0);
    EXPECT_EQ(ReadVoltage("0.0V"), 0.0);
    EXPECT_EQ(ReadVoltage("12.6"), 12.6);  // some clones leave the unit out
    for (const char* text : {"-5V", "99999V", "inf", "infV", "0x10V", "1e1V", "V", ".V", "12..6V",
                             "12.6 V", "12,6V", "nanV", "?", ""}) {
        EXPECT_EQ(ReadVoltage(text), std::nullopt) << text;
    }
}

TEST(Elm327ParserTest, NumberedAnswerShorterThanItsLengthIsAnError) {
    const ParsedAnswer answer =
        ParseAnswer("014\r0: 49 02 01 31 44 34\r>", "0902", AnswerFormat{false});
    EXPECT_EQ(answer.status, AnswerStatus::Error);
    EXPECT_EQ(answer.message, "incomplete multi-frame answer");
}

TEST(Elm327ParserTest, NumberedLineOutOfOrderIsAnError) {
    const ParsedAnswer answer = ParseAnswer("014\r1: 47 50 30 30 52 35 35\r0: 49 02 01 31 44 34\r>",
                                            "0902", AnswerFormat{false});
    EXPECT_EQ(answer.status, AnswerStatus::Error);
}

TEST(Elm327ParserTest, TwoNumberedAnswersAreTwoResponses) {
    const ParsedAnswer answer = ParseAnswer(
        "008\r0: 49 02 01 31 44 34\r1: 47 50 AA AA AA AA AA\r009\r0: 49 02 01 31 44 34\r"
        "1: 47 50 51 AA AA AA AA\r>",
        "0902", AnswerFormat{false});
    ASSERT_EQ(answer.status, AnswerStatus::Answered);
    ASSERT_EQ(answer.responses.size(), 2u);
    EXPECT_EQ(answer.responses[1].payload.size(), 9u);
}

TEST(Elm327ParserTest, ArbitraryBytesNeverCrash) {
    // Every prefix of recorded answers and some garbage: the parser must stay
    // within its input (ASan checks) and always give some result.
    const std::string samples[] = {
        kVinNumberedSpaces,
        "7E8 10 14 49 02 01 31 44 34\r7E8 21 47 50 30 30 52 35 35\r7E8 22 42 31 32 33 34 35 36\r>",
        "18DAF1101014490201314434\r18DAF1102147503030523535\r>",
        std::string("\0\0:\r::0:\r1\r: \r\xff\xfe 7E8 \t0\r", 22),
        "000\r0110\r>",  // a numbered answer of length 0
    };
    for (const std::string& sample : samples) {
        for (std::size_t n = 0; n <= sample.size(); ++n) {
            for (bool headers : {true, false}) {
                const ParsedAnswer answer = ParseAnswer(std::string_view(sample).substr(0, n),
                                                        "0902", AnswerFormat{headers});
                EXPECT_TRUE(answer.status != AnswerStatus::Answered || !answer.responses.empty());
                for (const auto& response : answer.responses) {
                    EXPECT_FALSE(response.payload.empty()) << sample.substr(0, n);
                }
            }
        }
    }
}

}  // namespace
