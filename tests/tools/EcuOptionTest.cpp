// --ecu as docs/cli.md documents it: a response address in hexadecimal as
// ISO 15765-4 and ISO 14230-4 give them, with or without 0x, or "@" and an
// index among the answering ECUs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "zelt/app/EcuChoice.h"
#include "zelt/app/Errors.h"

namespace {

using zelt::app::InputError;
using zelt::app::ParseEcu;
using zelt::app::ResolveEcu;

struct EcuForm {
    const char* text;
    std::optional<std::uint32_t> address;  // an address; else an index
    std::uint32_t value;
};

// 7E8: the 11-bit CAN response of the first emission-related ECU; 18DAF110:
// the 29-bit CAN response of ECU 10 to tester F1 (ISO 15765-4); 10: the
// engine ECU's source address on ISO 9141-2 and ISO 14230-4.
TEST(EcuOptionTest, ReadsTheDocumentedForms) {
    const EcuForm forms[] = {
        {"7E8", 0x7E8, 0},           {"7e8", 0x7E8, 0}, {"0x7E9", 0x7E9, 0},
        {"18DAF110", 0x18DAF110, 0}, {"10", 0x10, 0},   {"@0", std::nullopt, 0},
        {"@1", std::nullopt, 1},
    };
    for (const auto& form : forms) {
        const auto choice = ParseEcu(form.text);
        EXPECT_EQ(choice.byAddress, form.address.has_value()) << form.text;
        EXPECT_EQ(choice.value, form.address.value_or(form.value)) << form.text;
    }
}

// Past 32 bits no CAN identifier exists; "@" needs a decimal index; "0x"
// needs digits.
TEST(EcuOptionTest, RefusesWhatIsNoAddressOrIndex) {
    for (const char* text :
         {"100000000", "FFFFFFFFFF", "@", "@x", "@-1", "@0x1", "0x", "7E8 ", "-7E8", "7G8", ""}) {
        try {
            ParseEcu(text);
            ADD_FAILURE() << "accepted " << text;
        } catch (const InputError& error) {
            EXPECT_THAT(error.what(), ::testing::HasSubstr("invalid ECU '" + std::string(text) +
                                                           "': give an address such as 7E9"));
        }
    }
}

// An index counts from 0 in the vehicle's order; an ECU that did not answer
// is refused with those that did.
TEST(EcuOptionTest, ResolvesAmongTheAnsweringEcus) {
    const std::vector<std::uint32_t> answering{0x7E8, 0x7E9};
    EXPECT_EQ(ResolveEcu(ParseEcu("@1"), "@1", answering), 0x7E9u);
    EXPECT_EQ(ResolveEcu(ParseEcu("7e8"), "7e8", answering), 0x7E8u);
    for (const char* text : {"@2", "7EA", "18DAF110"}) {
        try {
            ResolveEcu(ParseEcu(text), text, answering);
            ADD_FAILURE() << "resolved " << text;
        } catch (const InputError& error) {
            EXPECT_EQ(error.what(), "unknown ECU '" + std::string(text) +
                                        "'; the vehicle has @0=0x7E8, @1=0x7E9");
        }
    }
}

}  // namespace
