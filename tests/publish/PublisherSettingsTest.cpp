#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
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
        "tcp://h/t",
        "mqtt://h",
        "mqtt://h/",
        "mqtt:///t",
        "mqtt://h:0/t",
        "mqtt://h:65536/t",
        "mqtt://h:/t",
        "mqtt://h:1x/t",
        "mqtt://h/a/+",
        "mqtt://h/a/#",
        "mqtt://h/a//b",
        "mqtt://[::1/t",
        "mqtt://@h/t",
        "mqtt://u:s3cret%4@h/t",
        // The broker's own topics, which it would silently drop; a topic
        // that is not UTF-8 (MQTT 3.1.1 1.5.3); a NUL in a password.
        "mqtt://h/$SYS/x",
        "mqtt://h/a/\xff",
        "mqtt://u:s3cret%00@h/t",
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

namespace fs = std::filesystem;

// A fresh spool directory for one test.
class SpoolDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = fs::temp_directory_path() /
                     ("zelt-spool-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override { fs::remove_all(directory_); }

    void file(const std::string& name, const std::string& content) const {
        std::ofstream(directory_ / name, std::ios::binary) << content;
    }
    std::size_t count(const fs::path& folder) const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
    }

    fs::path directory_;
};

// The client holds up to its window of messages; those are on their way and
// must not be counted as dropped (a 1 KiB spool with a live broker).
TEST(SpoolTest, MessagesHandedToTheClientAreNeitherBoundedNorDropped) {
    zelt::publish::Spool spool("", 30);
    for (const char* payload : {"reading 1", "reading 2", "reading 3", "reading 4"}) {
        spool.push("t", payload);
        spool.handOver(spool.messages().back().sequence);
    }
    EXPECT_EQ(spool.messages().size(), 4U);
    EXPECT_EQ(spool.dropped(), 0U);
}

TEST_F(SpoolDirectoryTest, SetsAsideWhatCannotBeSentAndKeepsTheRestInOrder) {
    const std::pair<const char*, const char*> unsendable[] = {
        {"00000000000000000003.msg", "a/+\nwildcard"},
        {"00000000000000000004.msg", "$SYS/x\nbroker's own"},
        {"00000000000000000005.msg", "a/\xc3\x28\nnot UTF-8"},
        {"00000000000000000006.msg", "no line feed"},
        {"18446744073709551616.msg", "t\n2^64, past any sequence"},
    };
    for (const auto& [name, content] : unsendable) {
        file(name, content);
    }
    file("00000000000000000007.msg", "t\nsecond");
    file("00000000000000000002.msg", "t\nfirst");
    zelt::publish::Spool spool(directory_.string(), 1024);
    ASSERT_EQ(spool.messages().size(), 2U);
    EXPECT_EQ(spool.messages()[0].payload, "first");
    EXPECT_EQ(spool.messages()[1].payload, "second");
    EXPECT_EQ(count(directory_ / "quarantine"), std::size(unsendable));
    EXPECT_EQ(spool.takeNotices().size(), std::size(unsendable));
    spool.push("t", "third");
    EXPECT_EQ(spool.messages().back().sequence, 8U);
}

// Judged by size before reading: the oldest over the bound are dropped at
// start-up, and counted like any other drop.
TEST_F(SpoolDirectoryTest, CountsWhatAnEarlierRunLeftOverTheBound) {
    file("00000000000000000001.msg", "t\n" + std::string(100, 'x'));
    file("00000000000000000002.msg", "t\nreading 2");
    file("00000000000000000003.msg", "t\nreading 3");
    zelt::publish::Spool spool(directory_.string(), 30);
    EXPECT_EQ(spool.messages().size(), 2U);
    EXPECT_EQ(spool.dropped(), 1U);
    EXPECT_EQ(spool.takeNotices().size(), 1U);
}

TEST_F(SpoolDirectoryTest, OneProcessPerDirectoryAndNoUnwrittenMessageCountsAsKept) {
    // Where the next message's file goes, a directory: its write fails even
    // for root.
    fs::create_directories(directory_ / "00000000000000000001.msg.tmp" / "x");
    zelt::publish::Spool spool(directory_.string(), 1024);
    EXPECT_THROW(zelt::publish::Spool(directory_.string(), 1024), std::runtime_error);
    spool.push("t", "reading 1");
    spool.push("t", "reading 2");
    EXPECT_EQ(spool.unwritten(), 1U);
    EXPECT_NE(spool.diskError().find("00000000000000000001.msg"), std::string::npos);
    EXPECT_FALSE(spool.messages()[0].onDisk);
    EXPECT_TRUE(spool.messages()[1].onDisk);
}

}  // namespace
