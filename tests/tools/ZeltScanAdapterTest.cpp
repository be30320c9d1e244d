// End-to-end tests of zelt-scan --adapter against the emulated ELM327
// adapter served on a TCP port of 127.0.0.1 or on a pseudo-terminal.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>
#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "ProcessRunner.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using Outcome = zelt::testing::ProcessResult;

// Runs `command` (shell syntax), capturing both streams.
Outcome Execute(const std::string& command) {
    const Outcome run = zelt::testing::RunShell(command);
    EXPECT_EQ(run.failure, "");
    EXPECT_FALSE(run.timedOut) << command;
    return run;
}

// The emulator server for one client; the address it serves on (a port or
// a pty's path) is read from its first line.
class EmulatorServer {
public:
    explicit EmulatorServer(const std::string& arguments = "", bool pty = false) {
        const std::string listen = pty ? " --pty" : " --port 0";
        // No wait after the last answer: the scenarios' values move with time.
        pipe_ = popen((std::string(ZELT_ELM327_EMULATOR_PATH) + listen +
                       " --once --answer-wait 0 " + arguments)
                          .c_str(),
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
        json.erase("text");
        for (auto it = json.begin(); it != json.end(); ++it) {
            DropReadings(it.value());
        }
    } else if (json.is_array()) {
        for (auto& item : json) {
            DropReadings(item);
        }
    }
}

// `notice`: what the tool says of how it reached the adapter, if anything.
void ExpectReportEqualsTheInProcessReport(const EmulatorServer& server,
                                          const std::string& notice = "") {
    ASSERT_FALSE(server.address().empty());
    const Outcome remote =
        Execute(std::string(ZELT_SCAN_PATH) + " --json --adapter " + server.address());
    ASSERT_EQ(remote.exitCode, 0) << remote.err;
    EXPECT_EQ(remote.err, notice);
    const Outcome local = Execute(std::string(ZELT_SCAN_PATH) + " --json");
    ASSERT_EQ(local.exitCode, 0) << local.err;
    auto remoteJson = nlohmann::json::parse(remote.out);
    auto localJson = nlohmann::json::parse(local.out);
    // Over the adapter the title names adapter, protocol and VIN.
    EXPECT_EQ(remoteJson["source"]["kind"], "adapter");
    EXPECT_EQ(remoteJson["source"]["title"],
              "ELM327 v1.5 adapter, " + localJson["source"]["protocol"].get<std::string>() +
                  ", VIN " + localJson["source"]["vin"].get<std::string>());
    remoteJson.erase("source");
    localJson.erase("source");
    ASSERT_EQ(localJson["ecus"].size(), 2u);
    ASSERT_FALSE(localJson["ecus"][0]["liveData"].empty());
    for (auto* json : {&remoteJson, &localJson}) {
        for (auto& ecu : (*json)["ecus"]) {
            DropReadings(ecu["liveData"]);
        }
    }
    EXPECT_EQ(remoteJson.dump(2), localJson.dump(2));
}

TEST(ZeltScanAdapterTest, ReportOverTcpEqualsTheInProcessReport) {
    ExpectReportEqualsTheInProcessReport(EmulatorServer());
}

// On a terminal, standard error shows one line of what the scan reads (the
// ECU, the part of the report, the requests so far), rewritten in place and
// blanked before the report; nothing with --json or without a terminal.
TEST(ZeltScanAdapterTest, ProgressLineShowsOnlyOnATerminal) {
    const struct {
        bool terminal;
        const char* options;
        bool shown;
    } cases[] = {{true, "", true}, {true, " --json", false}, {false, "", false}};
    for (const auto& c : cases) {
        EmulatorServer server;
        const std::string scan = std::string(ZELT_SCAN_PATH) + " --adapter " + server.address() +
                                 c.options + " 2>&1 >/dev/null";
        // script gives the command a terminal and prints what reached it.
        const Outcome run = Execute(c.terminal ? "script -qec '" + scan + "' /dev/null" : scan);
        EXPECT_EQ(run.exitCode, 0) << run.out;
        if (!c.shown) {
            EXPECT_EQ(run.out, "") << c.options;
            continue;
        }
        EXPECT_THAT(run.out, HasSubstr("\rzelt-scan: ECU 0x7E8, live data, 1 request\r"));
        EXPECT_EQ(run.out.find('\n'), std::string::npos) << "one line";
        // The last thing written: a carriage return, blanks, a carriage return.
        const std::size_t blank = run.out.rfind('\r', run.out.size() - 2);
        EXPECT_EQ(run.out.find_first_not_of(' ', blank + 1), run.out.size() - 1)
            << "blanked at the end";
    }
}

#ifdef __linux__
// The pty stands for a USB or Bluetooth adapter on a serial port; the
// dialogue must cross its line discipline unchanged. No rate is given, so
// the tool finds it (the ELM327's default, 38400, is tried first) and says so.
TEST(ZeltScanAdapterTest, ReportOverSerialPortEqualsTheInProcessReport) {
    ExpectReportEqualsTheInProcessReport(EmulatorServer("", true),
                                         "zelt-scan: the adapter answered at 38400 baud\n");
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

// Each status word of the ELM327 datasheet, answered while the watch asks
// which PIDs the ECUs support: the adapter's fault (exit 1), named with
// what it means, never a PID blamed as unknown (exit 2).
TEST(ZeltScanAdapterTest, AdapterStatusWordsAreNamedNotBlamedOnThePid) {
    for (const char* word :
         {"BUSY", "BUS BUSY", "BUS ERROR", "CAN ERROR", "DATA ERROR", "<DATA ERROR", "<RX ERROR",
          "BUFFER FULL", "FB ERROR", "LV RESET", "STOPPED", "ACT ALERT", "LP ALERT", "ERR94"}) {
        SCOPED_TRACE(word);
        EmulatorServer server(std::string("--error-from 3 --error '") + word + "'");
        const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address() +
                                    " --watch 0C --count 1");
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_THAT(run.err, HasSubstr(std::string("the adapter reported ") + word + "; "));
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
    EXPECT_THAT(run.err, HasSubstr("ignition"));  // and what to do about it
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

    // The vehicle requests of the whole default report of both ECUs: each
    // asked of each ECU (the header set before it) once, apart from the
    // "0100" of the adapter's protocol search, which the ECU discovery sends
    // again with headers on.
    std::istringstream lines(run.err);
    std::map<std::string, int> requests;
    std::string header;
    int total = 0;
    for (std::string line; std::getline(lines, line);) {
        const auto sent = line.find(">> ");
        if (sent == std::string::npos) {
            continue;
        }
        const std::string command = line.substr(sent + 3);
        if (command.rfind("ATSH", 0) == 0) {
            header = command;
        } else if (command.rfind("AT", 0) != 0) {
            ++requests[command == "0100\\r" ? command : header + command];
            ++total;
        }
    }
    EXPECT_LE(total, 50);
    for (const auto& [request, count] : requests) {
        EXPECT_EQ(count, request == "0100\\r" ? 2 : 1) << request;
    }
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

// An adapter that goes silent while watching or while the tool asks which
// parameters exist: exit 1 with why, never an empty reading or a blamed PID.
struct LostWhileWatching {
    const char* emulator;
    const char* arguments;
};

class ZeltScanWatchLossTest : public ::testing::TestWithParam<LostWhileWatching> {};

TEST_P(ZeltScanWatchLossTest, StopsAtTheLossWithExitOneAndTheReason) {
    EmulatorServer server(GetParam().emulator);
    const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address() +
                                " " + GetParam().arguments);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, HasSubstr("the adapter stopped answering"));
    EXPECT_THAT(run.err, Not(HasSubstr("unknown PID")));
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    // Every reading shown is a whole one.
    std::istringstream lines(run.out);
    std::string line;
    int readings = 0;
    while (std::getline(lines, line)) {
        ++readings;
        EXPECT_THAT(line, HasSubstr("RPM")) << line;
    }
    EXPECT_LT(readings, 50);
}

INSTANTIATE_TEST_SUITE_P(Cases, ZeltScanWatchLossTest,
                         ::testing::Values(LostWhileWatching{"--mute-after 40",
                                                             "--watch 0C --count 50 --interval 0"},
                                           LostWhileWatching{"--mute-after 14", "--watch 0C"}));

// Once the watch runs, the vehicle stops answering: each reading shows the
// parameters without an answer as missing, each with one warning, and the
// watch goes on.
TEST(ZeltScanAdapterTest, WatchShowsAParameterWithoutAnswerAsMissing) {
    EmulatorServer server("--error-from 8 --error 'NO DATA'");
    const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address() +
                                " --watch 0C,0D --count 5 --interval 0");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::size_t missing = 0;
    for (auto at = run.out.find(": missing"); at != std::string::npos;
         at = run.out.find(": missing", at + 1)) {
        ++missing;
    }
    EXPECT_GT(missing, 0u) << run.out;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 5);
    EXPECT_EQ(static_cast<std::size_t>(std::count(run.err.begin(), run.err.end(), '\n')), missing)
        << run.err;
    EXPECT_THAT(run.err, HasSubstr("zelt-scan: warning: reading 5: no answer for PID 0x0D"));
}

TEST(ZeltScanAdapterTest, LogHoldsTheWholeDialogue) {
    EmulatorServer server;
    const std::string log =
        ::testing::TempDir() + "zelt-scan-adapter-" + std::to_string(::getpid()) + ".log";
    const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address() +
                                " --log " + log + " --watch 0C --count 1");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");  // no --trace
    std::ifstream file(log);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    EXPECT_THAT(text, HasSubstr(">> ATWS\\r"));
    EXPECT_THAT(text, HasSubstr(">> 010C"));
    std::remove(log.c_str());
}

// SAE J1979 service 09 InfoType 02 on CAN: 49 02, the message count 01,
// then the VIN's 17 ASCII characters (the built-in vehicle's
// WBA3B5C51FK123456).
TEST(ZeltScanAdapterTest, RawRequestPrintsTheEcusAnswerBytes) {
    EmulatorServer server;
    const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address() +
                                " --raw 0902 --ecu 0x7E8");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "0x7E8: 49 02 01 57 42 41 33 42 35 43 35 31 46 4B 31 32 33 34 35 36\n");
}

// A protocol chosen by number is the one the report names; one the vehicle
// does not speak fails with the way out.
TEST(ZeltScanAdapterTest, ChosenProtocolIsUsedAndNamed) {
    EmulatorServer server("--protocol 3");
    const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address() +
                                " --protocol 3 --timeout 2000");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, HasSubstr("ISO 9141-2"));
    EmulatorServer kLine("--protocol 3");
    const Outcome can =
        Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + kLine.address() + " --protocol 6");
    EXPECT_EQ(can.exitCode, 1);
    EXPECT_THAT(can.err, HasSubstr("CAN ERROR; the vehicle may not speak protocol 6: try "
                                   "--protocol auto"));
}

// On K-line, service 09 answers carry a message sequence number, not the
// item count (J1979): the three 4-byte items of info type 41 arrive whole.
TEST(ZeltScanAdapterTest, RawServiceNineOnKLineGivesTheItemCountAsOnCan) {
    EmulatorServer server("--protocol 3");
    const Outcome run = Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + server.address() +
                                " --protocol 3 --raw 0941");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.out, ::testing::MatchesRegex("0x10: 49 41 03( [0-9A-F]{2}){12}\n"));
}

#ifndef _WIN32
// A client of the emulator at `address` (tcp://127.0.0.1:PORT) that sends
// `command` and returns what it reads until a prompt or a line end.
class RawClient {
public:
    explicit RawClient(const std::string& address) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<std::uint16_t>(std::stoi(address.substr(16))));
        EXPECT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    }
    ~RawClient() { ::close(fd_); }
    std::string ask(const std::string& command) {
        EXPECT_EQ(::send(fd_, command.data(), command.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(command.size()));
        std::string text;
        pollfd ready{fd_, POLLIN, 0};
        char byte = 0;
        while (text.find_first_of(">\n") == std::string::npos && ::poll(&ready, 1, 10000) > 0 &&
               ::recv(fd_, &byte, 1, 0) == 1) {
            text += byte;
        }
        return text;
    }

private:
    int fd_;
};

// A Wi-Fi adapter serves one client: the emulator tells a second so at once.
TEST(ZeltScanAdapterTest, EmulatorRefusesASecondClientWithALine) {
    EmulatorServer server("--bytes-per-second 50");
    RawClient first(server.address());
    EXPECT_THAT(first.ask("ATI\r"), HasSubstr("ELM327"));
    RawClient second(server.address());
    EXPECT_THAT(second.ask("ATI\r"), HasSubstr("BUSY: another client is connected"));
}
#endif

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

// A profile read over the adapter by physical addressing: the scenario's
// modules answer its identifiers, one behind response-pending answers and
// one refused with its ISO 14229 reason; their codes are listed, cleared
// (BMS refuses) and listed again.
namespace {

// The profile example with the ABS brake pressure held at 12 bar: the file's
// value ramps with time, so a loaded machine would read it later and higher.
std::string ProfileVehicleWithSteadyBrakePressure() {
    std::ifstream in(std::string(ZELT_SCENARIO_DIR) + "/profile-example.json");
    nlohmann::json scenario = nlohmann::json::parse(in);
    scenario["profileEcus"][0]["identifiers"]["0x4A20"]["value"] = 12;
    const std::string path =
        ::testing::TempDir() + "zelt-scan-profile-" + std::to_string(::getpid()) + ".json";
    std::ofstream(path) << scenario.dump();
    return path;
}

}  // namespace

TEST(ZeltScanAdapterTest, ProfileIsReadAndItsModulesCodesCleared) {
    const std::string scenario = ProfileVehicleWithSteadyBrakePressure();
    const std::string profile = std::string(ZELT_SCENARIO_DIR) + "/profiles/example.json";
    EmulatorServer server("--scenario " + scenario);
    const Outcome run =
        Execute(std::string(ZELT_SCAN_PATH) + " --json --adapter " + server.address() +
                " --profile " + profile + " --clear-codes --yes");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto modules = nlohmann::json::parse(run.out)["profile"]["ecus"];
    ASSERT_EQ(modules.size(), 3u);
    std::map<std::string, nlohmann::json> data;
    for (const auto& module : modules) {
        for (const auto& entry : module["manufacturerData"]) {
            data[entry["name"]] = entry;
        }
    }
    // 12 bar in the scenario, A*2 in the profile.
    EXPECT_EQ(data["Brake Fluid Pressure"]["value"], 24);
    EXPECT_EQ(data["ABS Coding"]["missing"], "security access denied (0x33)");
    EXPECT_EQ(data["Line Pressure"]["value"], 20);
    const auto& abs = modules[0];
    EXPECT_EQ(abs["troubleCodes"][0]["code"], "C0035-11");
    EXPECT_TRUE(abs["clear"]["confirmed"]);
    EXPECT_TRUE(abs["clear"]["troubleCodesAfter"].empty());
    EXPECT_FALSE(modules[2]["clear"]["confirmed"]);
    EXPECT_EQ(modules[2]["clear"]["error"], "conditions not correct (0x22)");

    EmulatorServer watched("--scenario " + scenario);
    const Outcome watch =
        Execute(std::string(ZELT_SCAN_PATH) + " --adapter " + watched.address() + " --profile " +
                profile + " --watch '0C,Battery State of Health,ABS Coding' --count 1");
    ASSERT_EQ(watch.exitCode, 0) << watch.err;
    EXPECT_THAT(watch.out, HasSubstr("Battery State of Health [ECU 0x7EC]: 94 %"));
    EXPECT_THAT(watch.out, HasSubstr("ABS Coding [ECU 0x7B8]: missing"));
    EXPECT_THAT(
        watch.err,
        HasSubstr("no answer for ABS Coding from ECU 0x7B8: security access denied (0x33)"));
}

namespace {

// The built-in vehicle with `ecus` OBD ECUs: its engine ECU alone, or it and
// copies of its transmission ECU at the next response addresses.
std::string VehicleWithEcus(int ecus) {
    std::ifstream in(std::string(ZELT_SCENARIO_DIR) + "/default.json");
    nlohmann::json scenario = nlohmann::json::parse(in);
    auto& list = scenario["ecus"];
    const nlohmann::json transmission = list[1];
    list.erase(list.begin() + 1, list.end());
    for (int i = 1; i < ecus; ++i) {
        list.push_back(transmission);
        list.back()["address"] = 0x7E8 + i;
    }
    const std::string path = ::testing::TempDir() + "zelt-scan-ecus-" + std::to_string(ecus) + "-" +
                             std::to_string(::getpid()) + ".json";
    std::ofstream(path) << scenario.dump();
    return path;
}

// What `--watch` sends in the adapter dialogue: vehicle requests and adapter
// (AT) commands.
struct Dialogue {
    int requests = 0;
    int commands = 0;
};

Dialogue WatchDialogue(const std::string& scenario, const std::string& options, int count) {
    EmulatorServer server("--scenario " + scenario);
    const Outcome run =
        Execute(std::string(ZELT_SCAN_PATH) + " --trace --adapter " + server.address() + " " +
                options + " --interval 0 --count " + std::to_string(count));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    Dialogue dialogue;
    std::istringstream lines(run.err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(">> ", 0) == 0) {
            ++(line.rfind(">> AT", 0) == 0 ? dialogue.commands : dialogue.requests);
        }
    }
    return dialogue;
}

// What one reading costs once the first has read the support bitmaps and
// named the parameters. One functional request of up to six PIDs is heard
// and answered by every ECU (ISO 15765-4, SAE J1979), so the count must not
// grow with the ECUs; a profile parameter of a module outside the emissions
// set (ABS, 7B0) needs one physical request of its own.
struct ReadingCost {
    const char* vehicle;
    int ecus;  // 0: the profile example's vehicle, with its profile
    const char* watch;
    int requests;  // the most per reading
    int commands;  // the most per reading
};

class ZeltScanReadingCostTest : public ::testing::TestWithParam<ReadingCost> {};

TEST_P(ZeltScanReadingCostTest, StaysWithinTheLinksLimit) {
    const ReadingCost& c = GetParam();
    const std::string scenario = c.ecus > 0
                                     ? VehicleWithEcus(c.ecus)
                                     : std::string(ZELT_SCENARIO_DIR) + "/profile-example.json";
    const std::string options =
        (c.ecus > 0 ? std::string()
                    : " --profile " + std::string(ZELT_SCENARIO_DIR) + "/profiles/example.json") +
        " --watch '" + c.watch + "'";
    constexpr int kReadings = 10;
    const Dialogue first = WatchDialogue(scenario, options, 1);
    const Dialogue more = WatchDialogue(scenario, options, 1 + kReadings);
    EXPECT_LE(more.requests - first.requests, c.requests * kReadings) << c.vehicle;
    EXPECT_LE(more.commands - first.commands, c.commands * kReadings) << c.vehicle;
}

INSTANTIATE_TEST_SUITE_P(Cases, ZeltScanReadingCostTest,
                         ::testing::Values(ReadingCost{"one ECU", 1, "0C,0D,05,0B", 1, 0},
                                           ReadingCost{"two ECUs", 2, "0C,0D,05,0B", 1, 0},
                                           ReadingCost{"four ECUs", 4, "0C,0D,05,0B", 1, 0},
                                           ReadingCost{"ABS profile parameter", 0,
                                                       "0C,0D,Brake Fluid Pressure", 2, 4}));

}  // namespace
