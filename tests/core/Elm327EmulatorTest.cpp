#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bus/Hex.h"
#include "elm327/AnswerParser.h"
#include "emulator/Emulator.h"

namespace {

using obd::detail::Bytes;
using obd::detail::EcuResponse;
using obd::elm327::AnswerFormat;
using obd::elm327::AnswerStatus;
using obd::elm327::Emulator;
using obd::elm327::EmulatorOptions;
using obd::elm327::ParseAnswer;

// A vehicle with two ECUs that answers every request with fixed payloads.
class FixedVehicle : public obd::detail::IRequestChannel {
public:
    std::vector<EcuResponse> transact(const Bytes& request, std::uint32_t ecu) override {
        lastRequest = request;
        lastEcu = ecu;
        std::vector<EcuResponse> out;
        for (const auto& response : answers) {
            if (ecu == obd::detail::kAllEcus || ecu == response.ecu) {
                out.push_back(response);
            }
        }
        return out;
    }
    std::optional<double> readBatteryVoltage() override { return 12.64; }
    void restartClock() override {}

    std::vector<EcuResponse> answers;
    Bytes lastRequest;
    std::uint32_t lastEcu = 99;
};

Bytes Hex(const char* text) {
    return *obd::bus::ParseHex(text);
}

Bytes Vin() {
    return *obd::bus::ParseHex("49 02 01 31 44 34 47 50 30 30 52 35 35 42 31 32 33 34 35 36");
}

class Elm327EmulatorTest : public ::testing::Test {
protected:
    std::string say(const std::string& command) { return emulator.receive(command + "\r"); }

    FixedVehicle vehicle;
    Emulator emulator{vehicle};
};

TEST_F(Elm327EmulatorTest, ResetIdentifiesAndEchoesUntilTurnedOff) {
    EXPECT_EQ(say("ATZ"), "ATZ\r\rELM327 v1.5\r\r>");
    EXPECT_EQ(say("ATE0"), "ATE0\rOK\r\r>");
    EXPECT_EQ(say("ATI"), "ELM327 v1.5\r\r>");
    EXPECT_EQ(say("AT@1"), "OBDII to RS232 Interpreter\r\r>");
    EXPECT_EQ(say("ATRV"), "12.6V\r\r>");
    EXPECT_EQ(say("ATL1"), "OK\r\n\r\n>");
    EXPECT_EQ(say("at xyz"), "?\r\n\r\n>");
}

TEST_F(Elm327EmulatorTest, CommandArrivingInPiecesIsAnsweredOnceComplete) {
    EXPECT_EQ(emulator.receive("AT"), "");
    EXPECT_EQ(emulator.receive("E0"), "");
    EXPECT_EQ(emulator.receive("\r"), "ATE0\rOK\r\r>");
}

TEST_F(Elm327EmulatorTest, AutomaticProtocolIsSearchedOnceThenDescribed) {
    say("ATE0");
    EXPECT_EQ(say("ATDPN"), "A0\r\r>");
    EXPECT_EQ(say("0100"), "SEARCHING...\rNO DATA\r\r>");
    EXPECT_EQ(say("0100"), "NO DATA\r\r>");
    EXPECT_EQ(say("ATDPN"), "A6\r\r>");
    EXPECT_EQ(say("ATDP"), "AUTO, ISO 15765-4 (CAN 11/500)\r\r>");
}

TEST_F(Elm327EmulatorTest, WrongProtocolGivesTheAdapterErrors) {
    say("ATE0");
    say("ATSP7");
    EXPECT_EQ(say("0100"), "CAN ERROR\r\r>");
    say("ATSP3");
    EXPECT_EQ(say("0100"), "BUS INIT: ...ERROR\r\r>");
    say("ATSPA3");
    EXPECT_EQ(say("0100"), "SEARCHING...\rNO DATA\r\r>");
}

TEST_F(Elm327EmulatorTest, HeaderSelectsOneEcu) {
    vehicle.answers = {{0x7E8, {0x41, 0x0D, 0x20}}, {0x7E9, {0x41, 0x0D, 0x21}}};
    say("ATE0");
    say("ATH1");
    say("ATSH7E1");
    EXPECT_EQ(say("010D"), "SEARCHING...\r7E9 03 41 0D 21 00 00 00 00\r\r>");
    EXPECT_EQ(vehicle.lastEcu, 0x7E9u);
    say("ATSH7DF");
    say("ATS0");
    EXPECT_EQ(say("010D1"),
              "7E80341"
              "0D2000000000\r\r>");
    EXPECT_EQ(vehicle.lastEcu, obd::detail::kAllEcus);
    EXPECT_EQ(vehicle.lastRequest, (Bytes{0x01, 0x0D}));
}

TEST_F(Elm327EmulatorTest, NumberedMultiFrameWithoutHeaders) {
    vehicle.answers = {{0x7E8, Vin()}};
    say("ATE0");
    EXPECT_EQ(say("0902"),
              "SEARCHING...\r014\r0: 49 02 01 31 44 34\r1: 47 50 30 30 52 35 35\r"
              "2: 42 31 32 33 34 35 36\r\r>");
}

TEST_F(Elm327EmulatorTest, MultiPidRequestGoesOutWholeAndItsLongAnswerInFrames) {
    vehicle.answers = {{0x7E8, Hex("41 0C 1A F8 0D 32 05 5A 11 40 1F 00 10")},
                       {0x7E9, Hex("41 0C 1A F8 0D 32")}};
    say("ATE0");
    say("ATH1");
    say("ATSP6");
    // Six PIDs and the answer count, in lines (ELM327 datasheet): the first
    // frame and the consecutive frame of the first answer are waited for.
    const std::string text = say("010C0D05110F1F 2");
    EXPECT_EQ(vehicle.lastRequest, Hex("01 0C 0D 05 11 0F 1F"));
    EXPECT_EQ(text, "7E8 10 0D 41 0C 1A F8 0D 32\r7E8 21 05 5A 11 40 1F 00 10\r\r>");
    const auto parsed = ParseAnswer(text, "010C0D05110F1F2", AnswerFormat{});
    ASSERT_EQ(parsed.responses.size(), 1u);
    EXPECT_EQ(parsed.responses[0].payload, vehicle.answers[0].payload);
    // Seven PIDs do not fit one CAN request.
    EXPECT_EQ(say("010C0D05110F1F04"), "?\r\r>");
}

TEST_F(Elm327EmulatorTest, InjectedErrorAnswersTheNextRequestOnly) {
    vehicle.answers = {{0x7E8, {0x41, 0x0D, 0x20}}};
    say("ATE0");
    say("ATSP6");
    emulator.injectError("BUFFER FULL");
    EXPECT_EQ(say("010D"), "BUFFER FULL\r\r>");
    EXPECT_EQ(say("010D"), "41 0D 20\r\r>");
}

// What an ELM327 prints on the older buses (its datasheet; header bytes
// and check byte from J1979 and ISO 9141-2 / ISO 14230-4).
TEST_F(Elm327EmulatorTest, OlderBusesPrintHeaderDataAndCheckByte) {
    vehicle.answers = {{0x7E8, Hex("41 0C 1A F8")}};
    EmulatorOptions options;
    const struct {
        obd::DataLinkProtocol protocol;
        std::vector<std::string> setup;
        const char* expected;
    } cases[] = {
        // Chosen, not searched: the adapter shows the bus initialisation,
        // with dots only for the slow one.
        {obd::DataLinkProtocol::Iso9141,
         {"ATE0", "ATH1", "ATSP3"},
         "BUS INIT: ...OK\r48 6B 10 41 0C 1A F8 22\r\r>"},
        {obd::DataLinkProtocol::Iso14230SlowInit,
         {"ATE0", "ATH1", "ATSP4"},
         "BUS INIT: ...OK\r84 F1 10 41 0C 1A F8 E4\r\r>"},
        {obd::DataLinkProtocol::Iso14230FastInit,
         {"ATE0", "ATH1", "ATS0", "ATSP5"},
         "BUS INIT: OK\r84F110410C1AF8E4\r\r>"},
        // Searched: no initialisation shown.
        {obd::DataLinkProtocol::Iso9141, {"ATE0"}, "SEARCHING...\r41 0C 1A F8\r\r>"},
    };
    for (const auto& c : cases) {
        options.vehicleProtocol = c.protocol;
        Emulator adapter(vehicle, options);
        for (const std::string& command : c.setup) {
            adapter.receive(command + "\r");
        }
        EXPECT_EQ(adapter.receive("010C\r"), c.expected);
        EXPECT_EQ(adapter.receive("010C\r").rfind("BUS INIT", 0), std::string::npos)
            << "the bus is initialised once";
    }
}

TEST_F(Elm327EmulatorTest, OlderBusesSplitLongAnswersIntoMessages) {
    EmulatorOptions options;
    options.vehicleProtocol = obd::DataLinkProtocol::SaeJ1850Vpw;
    Emulator adapter(vehicle, options);
    adapter.receive("ATE0\r");
    vehicle.answers = {{0x7E8, Vin()}};
    EXPECT_EQ(adapter.receive("0902\r"),
              "SEARCHING...\r49 02 01 00 00 00 31\r49 02 02 44 34 47 50\r49 02 03 30 30 52 35\r"
              "49 02 04 35 42 31 32\r49 02 05 33 34 35 36\r\r>");
    vehicle.answers = {{0x7E8, Hex("43 04 01 33 01 34 01 35 01 36")}};
    EXPECT_EQ(adapter.receive("03\r"), "43 01 33 01 34 01 35\r43 01 36 00 00 00 00\r\r>");
    EXPECT_EQ(adapter.receive("ATDP\r"), "AUTO, SAE J1850 VPW\r\r>");
    EXPECT_EQ(adapter.receive("ATDPN\r"), "A2\r\r>");
}

// One message of the older buses carries seven data bytes (SAE J1979), and
// their service 06 records have a format the emulator does not speak:
// neither engine run time (0x7F, 13 bytes) nor service 06 is announced.
TEST_F(Elm327EmulatorTest, OlderBusesAnnounceOnlyWhatTheyCarry) {
    EmulatorOptions options;
    options.vehicleProtocol = obd::DataLinkProtocol::Iso9141;
    Emulator adapter(vehicle, options);
    adapter.receive("ATE0\r");
    // Bits 1 and 0 of the last byte: PIDs 0x7F and 0x80.
    vehicle.answers = {{0x7E8, Hex("41 60 00 00 00 03")}};
    EXPECT_EQ(adapter.receive("0160\r"), "SEARCHING...\r41 60 00 00 00 01\r\r>");
    vehicle.answers = {{0x7E8, Hex("46 00 C0 00 00 01")}};
    EXPECT_EQ(adapter.receive("0600\r"), "NO DATA\r\r>");
}

TEST_F(Elm327EmulatorTest, CommandWithoutEndStaysBounded) {
    say("ATE0");
    const std::string flood(100000, 'A');
    EXPECT_EQ(emulator.receive(flood), "");
    EXPECT_EQ(emulator.receive("\r"), "?\r\r>");
    EXPECT_EQ(say("ATI"), "ELM327 v1.5\r\r>") << "the next command is read afresh";
}

TEST(Elm327CloneTest, ProfilesBehaveAsTheirMakes) {
    FixedVehicle vehicle;
    vehicle.answers = {{0x7E8, Hex("41 0C 1A F8")}};
    EmulatorOptions options;
    ASSERT_TRUE(obd::elm327::ApplyCloneProfile("cheap", options));
    options.quirks.firstPromptDelay = std::chrono::milliseconds(0);
    Emulator cheap(vehicle, options);
    EXPECT_EQ(cheap.receive("ATE0\r"), "ATE0\rOK\r\r\r>");
    for (const char* newer : {"ATS0", "ATAT1", "ATST19", "ATWS"}) {
        EXPECT_EQ(cheap.receive(std::string(newer) + "\r"), "?\r\r\r>") << newer;
    }
    EXPECT_EQ(cheap.receive("ATSP6\r"), "OK\r\r\r>");
    EXPECT_EQ(cheap.receive("010C\r"), "41 0c 1a f8\r\r\r>");

    ASSERT_TRUE(obd::elm327::ApplyCloneProfile("bluetooth", options));
    Emulator bluetooth(vehicle, options);
    EXPECT_EQ(bluetooth.receive("ATWS\r"), "ATWS\r\rELM327 v1.5\r\r>");
    EXPECT_FALSE(bluetooth.hungUp());
    bluetooth.receive("ATZ\r");
    EXPECT_TRUE(bluetooth.hungUp());
    EXPECT_FALSE(obd::elm327::ApplyCloneProfile("nonesuch", options));
}

TEST_F(Elm327EmulatorTest, EmptyLineRepeatsTheLastRequest) {
    vehicle.answers = {{0x7E8, {0x41, 0x0D, 0x20}}};
    say("ATE0");
    say("ATSP6");
    say("010D");
    EXPECT_EQ(say(""), "41 0D 20\r\r>");
}

// Whatever the formatting switches, the parser reads back what the ECUs sent.
struct Format {
    const char* name;
    std::vector<std::string> setup;
    bool headers;
    obd::DataLinkProtocol vehicle = obd::DataLinkProtocol::Iso15765Can11Bit500k;
};

class Elm327RoundTripTest : public ::testing::TestWithParam<Format> {};

TEST_P(Elm327RoundTripTest, ParserReadsBackEveryEcuAnswer) {
    FixedVehicle vehicle;
    EmulatorOptions options;
    options.vehicleProtocol = GetParam().vehicle;
    Emulator emulator(vehicle, options);
    for (const std::string& command : GetParam().setup) {
        emulator.receive(command + "\r");
    }
    const std::vector<std::vector<EcuResponse>> cases = {
        {{0x7E8, {0x41, 0x0C, 0x1A, 0xF8}}},
        {{0x7E8, Vin()}},
        {{0x7E8, {0x41, 0x00, 0xBE, 0x3F, 0xA8, 0x13}},
         {0x7E9, {0x41, 0x00, 0x98, 0x18, 0x80, 0x01}}},
        {{0x7E8, Vin()},
         {0x7E9, Hex("49 02 01 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31 31")}},
        {{0x7E8, Hex("43 04 01 33 01 34 01 35 01 36")}, {0x7E9, Hex("43 00")}},
        // Three 4-byte items: on the older buses no message says how many.
        {{0x7E8, Hex("49 41 03 00 1C 20 00 00 06 4A 8C 00 00 00 00")}},
    };
    for (const auto& answers : cases) {
        if (!GetParam().headers && answers.size() > 1) {
            continue;  // without headers the senders cannot be told apart
        }
        vehicle.answers = answers;
        const std::string text = emulator.receive("0902\r");
        AnswerFormat format{GetParam().headers};
        format.protocol = GetParam().vehicle;
        const auto parsed = ParseAnswer(text, "0902", format);
        ASSERT_EQ(parsed.status, AnswerStatus::Answered) << text << parsed.message;
        ASSERT_EQ(parsed.responses.size(), answers.size()) << text;
        for (std::size_t i = 0; i < answers.size(); ++i) {
            EXPECT_EQ(parsed.responses[i].payload, answers[i].payload) << text;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Switches, Elm327RoundTripTest,
    ::testing::Values(
        Format{"Defaults", {}, false}, Format{"Headers11Bit", {"ATE0", "ATH1", "ATSP6"}, true},
        Format{"Headers11BitNoSpaces", {"ATH1", "ATS0", "ATL1"}, true},
        Format{"Headers29Bit",
               {"ATE0", "ATH1", "ATSP7"},
               true,
               obd::DataLinkProtocol::Iso15765Can29Bit500k},
        Format{"Headers29BitNoSpaces",
               {"ATH1", "ATS0"},
               true,
               obd::DataLinkProtocol::Iso15765Can29Bit250k},
        Format{"NoSpacesNoHeaders", {"ATS0", "ATL1"}, false},
        Format{"J1850PwmHeaders", {"ATH1"}, true, obd::DataLinkProtocol::SaeJ1850Pwm},
        Format{
            "J1850VpwHeadersNoSpaces", {"ATH1", "ATS0"}, true, obd::DataLinkProtocol::SaeJ1850Vpw},
        Format{"Iso9141Chosen", {"ATE0", "ATH1", "ATSP3"}, true, obd::DataLinkProtocol::Iso9141},
        Format{"KwpSlowHeaders", {"ATH1", "ATSP4"}, true, obd::DataLinkProtocol::Iso14230SlowInit},
        Format{"KwpFastNoHeaders", {"ATSP5"}, false, obd::DataLinkProtocol::Iso14230FastInit}),
    [](const ::testing::TestParamInfo<Format>& info) { return info.param.name; });

}  // namespace
