#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "zelt/link/Address.h"

namespace {

using zelt::link::Address;
using zelt::link::AddressError;

struct GoodAddress {
    const char* text;
    Address::Kind kind;
    const char* hostOrDevice;
    int portOrBaud;
    bool bleByName = false;
};

// Each form the factory promises, with the defaults it fills in.
TEST(AddressTest, ReadsEveryPromisedForm) {
    const GoodAddress table[] = {
        {"tcp://192.168.0.10:35000", Address::Kind::Tcp, "192.168.0.10", 35000},
        {"tcp://localhost:1", Address::Kind::Tcp, "localhost", 1},
        {"tcp://[::1]:65535", Address::Kind::Tcp, "::1", 65535},
        {"serial:/dev/ttyUSB0", Address::Kind::Serial, "/dev/ttyUSB0", 38400},
        {"serial:/dev/rfcomm0:9600", Address::Kind::Serial, "/dev/rfcomm0", 9600},
        {"serial:COM3:115200", Address::Kind::Serial, "COM3", 115200},
        {"ble://aa:bb:cc:dd:ee:0f", Address::Kind::Ble, "AA:BB:CC:DD:EE:0F", 0},
        {"ble://IOS-Vlink", Address::Kind::Ble, "IOS-Vlink", 0, true},
        {"ble://AA:BB:CC:DD:EE", Address::Kind::Ble, "AA:BB:CC:DD:EE", 0, true},
    };
    for (const GoodAddress& good : table) {
        SCOPED_TRACE(good.text);
        const Address address = Address::Parse(good.text);
        EXPECT_EQ(address.kind, good.kind);
        if (good.kind == Address::Kind::Tcp) {
            EXPECT_EQ(address.host, good.hostOrDevice);
            EXPECT_EQ(address.port, good.portOrBaud);
        } else {
            EXPECT_EQ(address.device, good.hostOrDevice);
            EXPECT_EQ(address.baudRate, good.portOrBaud);
            EXPECT_EQ(address.bleByName, good.bleByName);
        }
    }
}

// A wrong address is refused with a message that names it and says what
// would be right; nothing is guessed (no wrapped ports, no octal).
TEST(AddressTest, RefusesBadAddressesWithTheirReason) {
    const std::pair<const char*, const char*> table[] = {
        {"", "give tcp://HOST:PORT, serial:DEVICE[:BAUD] or ble://ADDRESS|NAME"},
        {"192.168.0.10:35000", "give tcp://HOST:PORT, serial:DEVICE[:BAUD] or ble://ADDRESS|NAME"},
        {"udp://host:35000", "unknown adapter 'udp://host:35000'"},
        {"tcp://", "give tcp://HOST:PORT"},
        {"tcp://host", "give tcp://HOST:PORT"},
        {"tcp://host:", "give tcp://HOST:PORT"},
        {"tcp://:35000", "give tcp://HOST:PORT"},
        {"tcp://host:0", "invalid port '0'"},
        {"tcp://host:65536", "invalid port '65536'"},
        {"tcp://host:4294967331", "invalid port '4294967331'"},
        {"tcp://host:-1", "invalid port '-1'"},
        {"tcp://host:0x10", "invalid port '0x10'"},
        {"serial:", "give serial:DEVICE[:BAUD]"},
        {"serial::38400", "give serial:DEVICE[:BAUD]"},
        {"serial:/dev/ttyUSB0:12345", "unsupported baud rate '12345'"},
        {"serial:/dev/ttyUSB0:", "unsupported baud rate ''"},
        {"ble://", "give ble://AA:BB:CC:DD:EE:FF or ble://NAME"},
        {"ble://OBD\nII", "give ble://AA:BB:CC:DD:EE:FF or ble://NAME"},
    };
    for (const auto& [text, reason] : table) {
        SCOPED_TRACE(text);
        try {
            Address::Parse(text);
            ADD_FAILURE() << "accepted";
        } catch (const AddressError& error) {
            EXPECT_THAT(error.what(), ::testing::HasSubstr(reason));
        }
    }
}

}  // namespace
