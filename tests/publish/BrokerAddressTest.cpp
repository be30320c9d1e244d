#include <gtest/gtest.h>

#include "zelt/publish/BrokerAddress.h"

namespace {

using zelt::publish::ParseBrokerAddress;

struct Accepted {
    const char* url;
    bool tls;
    const char* host;
    int port;
    const char* topic;
    const char* username;
    const char* password;
};

// Defaults are MQTT's registered ports (1883, and 8883 over TLS).
TEST(BrokerAddressTest, ReadsEachPart) {
    const Accepted cases[] = {
        {"mqtt://127.0.0.1/fleet/car1", false, "127.0.0.1", 1883, "fleet/car1", "", ""},
        {"mqtts://broker.example:9000/t", true, "broker.example", 9000, "t", "", ""},
        {"mqtts://h/t", true, "h", 8883, "t", "", ""},
        {"mqtt://[::1]:1884/a/b", false, "::1", 1884, "a/b", "", ""},
        {"mqtt://van7@h/t", false, "h", 1883, "t", "van7", ""},
        // Escaped ':' '@' '/' in a password, and the last '@' ends the credentials.
        {"mqtt://u:p%3Aa%40s%2Fs@h:1/t", false, "h", 1, "t", "u", "p:a@s/s"},
    };
    for (const auto& expected : cases) {
        const auto address = ParseBrokerAddress(expected.url);
        EXPECT_EQ(address.tls, expected.tls) << expected.url;
        EXPECT_EQ(address.host, expected.host) << expected.url;
        EXPECT_EQ(address.port, expected.port) << expected.url;
        EXPECT_EQ(address.topic, expected.topic) << expected.url;
        EXPECT_EQ(address.username, expected.username) << expected.url;
        EXPECT_EQ(address.password, expected.password) << expected.url;
    }
}

TEST(BrokerAddressTest, RefusesMalformedAddressesWithoutRepeatingThePassword) {
    const char* refused[] = {
        "tcp://h/t",     "mqtt://h",
        "mqtt://h/",     "mqtt:///t",
        "mqtt://h:0/t",  "mqtt://h:65536/t",
        "mqtt://h:/t",   "mqtt://h:1x/t",
        "mqtt://h/a/+",  "mqtt://h/a/#",
        "mqtt://h/a//b", "mqtt://[::1/t",
        "mqtt://@h/t",   "mqtt://u:s3cret%4@h/t",
    };
    for (const char* url : refused) {
        try {
            ParseBrokerAddress(url);
            ADD_FAILURE() << url << " was accepted";
        } catch (const zelt::publish::SettingsError& error) {
            EXPECT_EQ(std::string(error.what()).find("s3cret"), std::string::npos) << error.what();
        }
    }
}

}  // namespace
