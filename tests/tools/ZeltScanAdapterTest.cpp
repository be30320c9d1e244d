// End-to-end tests of zelt-scan --adapter against the emulated ELM327
// adapter served on a TCP port of 127.0.0.1.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

namespace {

using ::testing::HasSubstr;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

Outcome Execute(const std::string& command) {
    const std::string errFile = ::testing::TempDir() + "zelt-scan-adapter-stderr.txt";
    Outcome run;
    FILE* pipe = popen((command + " 2>" + errFile).c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return run;
    }
    std::array<char, 4096> buffer{};
    std::size_t read = 0;
    while ((read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        run.out.append(buffer.data(), read);
    }
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errFile);
    run.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    return run;
}

// The emulator server for one client; the port it listens on is read from
// its first line.
class EmulatorServer {
public:
    explicit EmulatorServer(const std::string& arguments = "") {
        pipe_ = popen((std::string(ZELT_ELM327_EMULATOR_PATH) + " --port 0 --once " + arguments).c_str(),
                      "r");
        char line[128] = {};
        if (pipe_ == nullptr || std::fgets(line, sizeof line, pipe_) == nullptr) {
            ADD_FAILURE() << "the emulator did not start";
            return;
        }
        const std::string text(line);
        const auto colon = text.rfind(':');
        address_ = "tcp://127.0.0.1:" + text.substr(colon + 1, text.find('\n') - colon - 1);
    }
    ~EmulatorServer() {
        if (pipe_ != nullptr) {
            pclose(pipe_);  // it exits once its client has gone
        }
    }
    const std::string& address() const { return address_; }

private:
    FILE* pipe_ = nullptr;
    std::string address_;
};

// Live values move with the time since the connection opened: their values
// are left out; which parameters and sensors there are, and everything
// else in the report, must be the same.
void DropReadings(nlohmann::json& json) {
    if (json.is_object()) {
        json.erase("value");
        json.erase("formatted");
        for (auto it = json.begin(); it != json.end(); ++it) {
            DropReadings(it.value());
        }
    } else if (json.is_array()) {
        for (auto& item : json) {
            DropReadings(item);
        }
    }
}

TEST(ZeltScanAdapterTest, ReportOverTcpEqualsTheInProcessReport) {
    EmulatorServer server;
    ASSERT_FALSE(server.address().empty());
    const Outcome remote = Execute(std::string(ZELT_SCAN_PATH) + " --json --adapter " + server.address());
    ASSERT_EQ(remote.exitCode, 0) << remote.err;
    const Outcome local = Execute(std::string(ZELT_SCAN_PATH) + " --json");
    ASSERT_EQ(local.exitCode, 0) << local.err;
    auto remoteJson = nlohmann::json::parse(remote.out);
    auto localJson = nlohmann::json::parse(local.out);
    DropReadings(remoteJson["liveData"]);
    DropReadings(localJson["liveData"]);
    ASSERT_FALSE(localJson["liveData"].empty());
    EXPECT_EQ(remoteJson.dump(2), localJson.dump(2));
}

TEST(ZeltScanAdapterTest, TraceShowsTheRawDialogue) {
    EmulatorServer server;
    const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --trace --adapter " + server.address());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr(">> ATZ\\r"));
    EXPECT_THAT(run.err, HasSubstr("<< "));
    EXPECT_THAT(run.out, HasSubstr("Vehicle Identification Number"));
}

TEST(ZeltScanAdapterTest, DroppedConnectionFailsClearlyAfterShowingWhatWasRead) {
    EmulatorServer server("--drop-after 60");
    const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("the adapter closed the connection"));
    EXPECT_THAT(run.out, HasSubstr("Vehicle and ECU information"));
}

TEST(ZeltScanAdapterTest, UnreachableAdapterFailsWithoutHanging) {
    const Outcome bad = Execute(std::string(ZELT_SCAN_PATH) + " --adapter serial-port");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_THAT(bad.err, HasSubstr("tcp://HOST:PORT"));
    // Port 1 on the loopback: nobody listens there.
    const Outcome refused = Execute(std::string(ZELT_SCAN_PATH) + " --adapter tcp://127.0.0.1:1");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_THAT(refused.err, HasSubstr("cannot connect to the adapter"));
}

}  // namespace
