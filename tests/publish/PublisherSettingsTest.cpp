#include <gtest/gtest.h>

#include <string>

#include "zelt/publish/BrokerAddress.h"
#include "zelt/publish/Spool.h"

namespace {

using zelt::publish::ParseBrokerAddress;

// The parts as "[tls] host port topic user:password".
std::string Parts(const char* url) {
    const auto address = ParseBrokerAddress(url);
    return (address.tls ? "tls " : "") + address.host + " " + std::to_string(address.port) + " " +
           address.topic + " " + address.username + ":" + address.password;
}

// Defaults are MQTT's registered ports (1883, and 8883 over TLS).
TEST(BrokerAddressTest, ReadsEachPart) {
    const std::pair<const char*, const char*> cases[] = {
        {"mqtt://127.0.0.1/fleet/car1", "127.0.0.1 1883 fleet/car1 :"},
        {"mqtts://broker.example:9000/t", "tls broker.example 9000 t :"},
        {"mqtts://h/t", "tls h 8883 t :"},
        {"mqtt://[::1]:1884/a/b", "::1 1884 a/b :"},
        {"mqtt://van7@h/t", "h 1883 t van7:"},
        // Escaped ':' '@' '/' in a password, and the last '@' ends the credentials.
        {"mqtt://u:p%3Aa%40s%2Fs@h:1/t", "h 1 t u:p:a@s/s"},
    };
    for (const auto& [url, parts] : cases) {
        EXPECT_EQ(Parts(url), parts) << url;
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
