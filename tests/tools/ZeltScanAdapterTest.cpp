// End-to-end tests of zelt-scan --adapter against the emulated ELM327
// adapter served on a TCP port of 127.0.0.1 or on a pseudo-terminal.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
    // One file per process: test runs of other build trees share the
    // temporary folder.
    const std::string errFile =
        ::testing::TempDir() + "zelt-scan-adapter-stderr-" + std::to_string(::getpid()) + ".txt";
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
    std::remove(errFile.c_str());
    return run;
}

// The emulator server for one client; the address it serves on (a port or
// a pty's path) is read from its first line.
class EmulatorServer {
public:
    explicit EmulatorServer(const std::string& arguments = "", bool pty = false) {
        const std::string listen = pty ? " --pty" : " --port 0";
        pipe_ = popen(
            (std::string(ZELT_ELM327_EMULATOR_PATH) + listen + " --once " + arguments).c_str(),
            "r");
        char line[256] = {};
        if (pipe_ == nullptr || std::fgets(line, sizeof line, pipe_) == nullptr) {
            ADD_FAILURE() << "the emulator did not start";
            return;
        }
        std::string text(line);
        text.erase(text.find('\n'));
        if (pty) {
            address_ = "serial:" + text.substr(text.find('/'));
        } else {
            address_ = "tcp://127.0.0.1:" + text.substr(text.rfind(':') + 1);
        }
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

void ExpectReportEqualsTheInProcessReport(const EmulatorServer& server) {
    ASSERT_FALSE(server.address().empty());
    const Outcome remote =
        Execute(std::string(ZELT_SCAN_PATH) + " --json --adapter " + server.address());
    ASSERT_EQ(remote.exitCode, 0) << remote.err;
    EXPECT_EQ(remote.err, "");
    const Outcome local = Execute(std::string(ZELT_SCAN_PATH) + " --json");
    ASSERT_EQ(local.exitCode, 0) << local.err;
    auto remoteJson = nlohmann::json::parse(remote.out);
    auto localJson = nlohmann::json::parse(local.out);
    DropReadings(remoteJson["liveData"]);
    DropReadings(localJson["liveData"]);
    ASSERT_FALSE(localJson["liveData"].empty());
    EXPECT_EQ(remoteJson.dump(2), localJson.dump(2));
}

TEST(ZeltScanAdapterTest, ReportOverTcpEqualsTheInProcessReport) {
    ExpectReportEqualsTheInProcessReport(EmulatorServer());
}

#ifdef __linux__
// The pty stands for a USB or Bluetooth adapter on a serial port; the
// dialogue must cross its line discipline unchanged.
TEST(ZeltScanAdapterTest, ReportOverSerialPortEqualsTheInProcessReport) {
    ExpectReportEqualsTheInProcessReport(EmulatorServer("", true));
}

TEST(ZeltScanAdapterTest, SerialPortGoneMidScanFailsClearlyAfterShowingWhatWasRead) {
    EmulatorServer server("--drop-after 60", true);
    const Outcome run =
        Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address() + ":115200");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("the adapter closed the connection"));
    EXPECT_THAT(run.out, HasSubstr("Vehicle and ECU information"));
}
#endif

TEST(ZeltScanAdapterTest, BadSerialAddressesFailWithOnePreciseMessage) {
    const Outcome rate =
        Execute(std::string(ZELT_SCAN_PATH) + " --adapter serial:/dev/ttyUSB0:12345");
    EXPECT_EQ(rate.exitCode, 2);
    EXPECT_THAT(
        rate.err,
        HasSubstr(
            "unsupported baud rate '12345' in 'serial:/dev/ttyUSB0:12345': give one of 9600,"));
    EXPECT_EQ(std::count(rate.err.begin(), rate.err.end(), '\n'), 1);
    const Outcome empty = Execute(std::string(ZELT_SCAN_PATH) + " --adapter serial:");
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_THAT(empty.err, HasSubstr("serial:DEVICE[:BAUD]"));
    const Outcome missing =
        Execute(std::string(ZELT_SCAN_PATH) + " --adapter serial:" + ::testing::TempDir() +
                "no-such-port:9600");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_THAT(missing.err, HasSubstr("cannot open the serial port"));
}

// Opening takes the adapter's first vehicle requests; from the 20th on the
// scan itself is answered.
TEST(ZeltScanAdapterTest, AdapterErrorTextIsShownOnceAndTheScanCompletes) {
    for (const char* text : {"CAN ERROR", "BUS INIT: ...ERROR", "STOPPED", "BUFFER FULL", "?"}) {
        SCOPED_TRACE(text);
        EmulatorServer server(std::string("--error-from 20 --error '") + text + "'");
        const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address());
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_THAT(run.err, HasSubstr(std::string("the adapter reported an error: ") + text));
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_THAT(run.out, HasSubstr("Vehicle and ECU information"));
    }
}

TEST(ZeltScanAdapterTest, NoDataIsNoAnswerNotAnError) {
    EmulatorServer server("--error-from 20 --error 'NO DATA'");
    const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(run.out, HasSubstr("Vehicle and ECU information"));
}

TEST(ZeltScanAdapterTest, AdapterThatCannotReachTheVehicleFailsWithItsError) {
    EmulatorServer server("--error 'UNABLE TO CONNECT'");
    const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("no vehicle connection through the adapter"));
    EXPECT_THAT(run.err, HasSubstr("UNABLE TO CONNECT"));
    EXPECT_EQ(run.out, "");
}

TEST(ZeltScanAdapterTest, TraceShowsTheRawDialogue) {
    EmulatorServer server;
    const Outcome run =
        Execute(std::string(ZELT_SCAN_PATH) + " --trace --adapter " + server.address());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr(">> ATWS\\r"));
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

TEST(ZeltScanAdapterTest, AdapterFallingSilentMidScanFailsClearlyAfterShowingWhatWasRead) {
    EmulatorServer server("--mute-after 60");
    const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("the adapter stopped answering"));
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
