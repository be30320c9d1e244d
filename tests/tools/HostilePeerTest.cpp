// zelt-scan against adapters that misbehave. A fake ELM327 on a TCP port of
// 127.0.0.1 answers the set-up as the ELM327 datasheet describes, in front
// of a CAN vehicle with one ECU, and then breaks the dialogue in one
// scripted way. Each case must end with its exit code and at most one line
// on stderr naming the fault, and well within a bound that only a hang
// exceeds.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ProcessRunner.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// How the fake adapter departs from a plausible ELM327 at one command.
enum class Fault {
    Answer,    // prints `text` instead of the plausible answer
    Flood,     // prints bytes without a prompt until the peer goes
    Chatter,   // prints "?" and its prompt over and over until the peer goes
    NoPrompt,  // prints the plausible answer without its prompt, then nothing more
    HangUp,    // closes the connection instead of answering (after `text`, if any)
};

struct Misbehaviour {
    const char* command;  // as sent, without the response count: "010C", "ATRV"
    int occurrence;       // the how-manyth time the command is sent
    Fault fault;
    std::string text;
};

// What an ELM327 v1.5 with headers on prints for a CAN vehicle (ISO 15765-4,
// 11 bit, 500 kbaud) whose engine ECU answers as 7E8: each frame is the
// identifier and the ISO 15765-2 bytes, length byte first. The values are
// SAE J1979's: PID 00 marks PIDs 0C and 0D supported; 0C is (256 A + B) / 4
// rpm, so 0B B8 is 750 rpm; 0D is A km/h. InfoType 00 marks InfoType 02 (the
// VIN) supported, and the VIN is the ELM327 datasheet's multi-frame example.
std::string PlausibleAnswer(const std::string& command) {
    static const std::map<std::string, std::string> kAnswers = {
        {"ATZ", "\r\rELM327 v1.5"},
        {"ATWS", "\r\rELM327 v1.5"},
        {"ATI", "ELM327 v1.5"},
        {"AT@1", "OBDII to RS232 Interpreter"},
        {"ATDPN", "A6"},
        {"ATRV", "12.6V"},
        {"0100", "7E8 06 41 00 00 18 00 00"},
        {"010C", "7E8 04 41 0C 0B B8"},
        {"010D", "7E8 03 41 0D 32"},
        {"0900", "7E8 06 49 00 40 00 00 00"},
        {"0902",
         "7E8 10 14 49 02 01 31 47 31\r7E8 21 4A 43 35 34 34 34 52\r7E8 22 37 32 35 32 33 36 37"},
        // Asked only where a row's bitmaps announce them (PID 80, InfoType 00):
        // PID 8B, which this tool has no layout for; a calibration id padded with FF.
        {"018B", "7E8 05 41 8B 12 34 56"},
        {"0904",
         "7E8 10 13 49 04 01 4A 4D 42\r7E8 21 2A 33 36 37 38 31 FF\r7E8 22 FF FF FF FF FF FF"},
    };
    const auto found = kAnswers.find(command);
    if (found != kAnswers.end()) {
        return found->second;
    }
    return command.rfind("AT", 0) == 0 ? "OK" : "NO DATA";
}

// A request is known without the adapter's response count (a last odd
// digit). Service 09 support bitmaps asked together are known by the
// first: the ECU answers only the ones it has, here InfoType 00.
std::string Key(std::string command) {
    if (command.rfind("AT", 0) == 0) {
        return command;
    }
    if (command.size() % 2 != 0) {
        command.pop_back();
    }
    return command.size() > 4 && command.rfind("09", 0) == 0 ? command.substr(0, 4) : command;
}

// Several service 01 PIDs asked at once are answered as SAE J1979 has it:
// one message of 41 and then each supported PID with its data, in the
// order asked. Together, this vehicle's PIDs fit one CAN frame.
std::string AnswerTo(const std::string& key) {
    if (key.rfind("01", 0) != 0 || key.size() <= 4) {
        return PlausibleAnswer(key);
    }
    std::string records;
    for (std::size_t at = 2; at + 2 <= key.size(); at += 2) {
        const std::string single = PlausibleAnswer("01" + key.substr(at, 2));
        if (single != "NO DATA") {
            records += single.substr(single.find(" 41 ") + 3);  // " PID data..."
        }
    }
    if (records.empty()) {
        return "NO DATA";
    }
    const std::size_t length = 1 + records.size() / 3;
    const char* const hex = "0123456789ABCDEF";
    return std::string("7E8 0") + hex[length] + " 41" + records;
}

std::string Repeated(const std::string& text, int times) {
    std::string repeated;
    for (int i = 0; i < times; ++i) {
        repeated += text;
    }
    return repeated;
}

// The fake adapter: serves one client on a port of 127.0.0.1 from a thread
// of its own, until the client goes or the fake is destroyed.
class FakeAdapter {
public:
    explicit FakeAdapter(Misbehaviour misbehaviour) : misbehaviour_(std::move(misbehaviour)) {
        // Close-on-exec: zelt-scan must not inherit the fake's sockets, or a
        // hang-up would not reach it.
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "the fake adapter cannot listen";
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeAdapter() {
        stopping_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        for (int fd : {client_, listener_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    FakeAdapter(const FakeAdapter&) = delete;
    FakeAdapter& operator=(const FakeAdapter&) = delete;

    std::string address() const { return "tcp://127.0.0.1:" + std::to_string(port_); }

private:
    // Waits for `events` on `fd` in short steps, so that the destructor
    // ends the wait.
    bool await(int fd, short events) {
        pollfd entry{fd, events, 0};
        while (!stopping_) {
            if (::poll(&entry, 1, 50) > 0) {
                return true;
            }
        }
        return false;
    }

    bool write(const std::string& bytes) {
        for (std::size_t sent = 0; sent < bytes.size();) {
            if (!await(client_, POLLOUT)) {
                return false;
            }
            const ssize_t count =
                ::send(client_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (count <= 0) {
                return false;
            }
            sent += static_cast<std::size_t>(count);
        }
        return true;
    }

    void serve() {
        if (!await(listener_, POLLIN) ||
            (client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) < 0) {
            return;
        }
        std::string command;
        std::string last;
        char buffer[512];
        while (await(client_, POLLIN)) {
            const ssize_t count = ::recv(client_, buffer, sizeof buffer, 0);
            if (count <= 0) {
                return;  // zelt-scan went
            }
            for (ssize_t i = 0; i < count; ++i) {
                if (buffer[i] != '\r') {
                    command += buffer[i];
                    continue;
                }
                // An empty line repeats the last command.
                if (command.empty()) {
                    command = last;
                }
                if (!answer(command)) {
                    return;
                }
                last = command;
                command.clear();
            }
        }
    }

    // False when the connection is to end.
    bool answer(const std::string& command) {
        if (muted_) {
            return true;
        }
        const std::string key = Key(command);
        std::string reply = echo_ ? command + "\r" : "";
        echo_ = echo_ && key != "ATE0";
        if (key != misbehaviour_.command || ++seen_ != misbehaviour_.occurrence) {
            return write(reply + AnswerTo(key) + "\r\r>");
        }
        switch (misbehaviour_.fault) {
            case Fault::Answer:
                return write(reply + misbehaviour_.text + "\r\r>");
            case Fault::Flood:
                while (write(Repeated("A", 4096))) {
                }
                return false;
            case Fault::Chatter:
                while (write(Repeated("?\r\r>", 1024))) {
                }
                return false;
            case Fault::NoPrompt:
                muted_ = true;
                return write(reply + AnswerTo(key) + "\r\r");
            case Fault::HangUp:
                if (!misbehaviour_.text.empty()) {
                    write(reply + misbehaviour_.text + "\r\r>");
                }
                ::shutdown(client_, SHUT_RDWR);
                return false;
        }
        return false;
    }

    const Misbehaviour misbehaviour_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    // The serving thread's only.
    int client_ = -1;
    bool echo_ = true;  // an ELM327 echoes until ATE0
    bool muted_ = false;
    int seen_ = 0;
};

struct HostileCase {
    const char* name;
    Misbehaviour peer;
    std::vector<std::string> arguments;  // zelt-scan's besides --adapter
    int exitCode;
    const char* error;                  // a fragment of the one line on stderr; "" for none
    std::vector<std::string> shown;     // fragments stdout holds
    std::vector<std::string> notShown;  // and does not
};

// A case the scan survives without a word on stderr, showing `shown`.
HostileCase Survived(const char* name, Misbehaviour peer, std::vector<std::string> shown,
                     std::vector<std::string> arguments = {}) {
    return {name, std::move(peer), std::move(arguments), 0, "", std::move(shown), {}};
}

void PrintTo(const HostileCase& row, std::ostream* out) {
    *out << row.name;
}

class HostilePeerTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostilePeerTest, EndsWithItsExitCodeAndOneLineNamingTheFault) {
    const HostileCase& row = GetParam();
    FakeAdapter adapter(row.peer);
    std::vector<std::string> arguments{"--adapter", adapter.address()};
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    const auto run =
        zelt::testing::RunProcess(ZELT_SCAN_PATH, arguments, "", std::chrono::seconds(15));
    ASSERT_EQ(run.failure, "");
    ASSERT_FALSE(run.timedOut) << "zelt-scan hung";
    EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), *row.error == '\0' ? 0 : 1)
        << run.err;
    EXPECT_THAT(run.err, HasSubstr(row.error));
    for (const std::string& text : row.shown) {
        EXPECT_THAT(run.out, HasSubstr(text));
    }
    for (const std::string& text : row.notShown) {
        EXPECT_THAT(run.out, Not(HasSubstr(text)));
    }
    if (std::find(arguments.begin(), arguments.end(), "--json") != arguments.end()) {
        EXPECT_TRUE(nlohmann::json::accept(run.out)) << run.out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostilePeerTest,
    ::testing::Values(HostileCase{"flood_without_prompt",
                                  {"010C0D", 1, Fault::Flood, ""},
                                  {},
                                  1,
                                  "the adapter sent more than 65536 bytes without a prompt",
                                  {"Vehicle and ECU information"},
                                  {}},
                      HostileCase{"answers_nobody_asked_for",
                                  {"010C0D", 1, Fault::Chatter, ""},
                                  {},
                                  1,
                                  "65536 bytes of answers nobody asked for",
                                  {"Vehicle and ECU information"},
                                  {}},
                      // An ELM327 takes longer to wake than to answer: the reset may take
                      // three times the request timeout, shortened here.
                      HostileCase{"no_prompt_after_reset",
                                  {"ATWS", 1, Fault::NoPrompt, ""},
                                  {"--timeout", "1000"},
                                  1,
                                  "no prompt after ATWS",
                                  {},
                                  {}},
                      // Zero-filled to 8 bytes, the frame would read 0C 03 and 0D 00:
                      // 768 rpm and 0 km/h. The PIDs are then asked one at a time.
                      HostileCase{"short_can_frame",
                                  {"010C0D", 1, Fault::Answer, "7E8 06 41 0C 0C 03 0D"},
                                  {},
                                  0,
                                  "frame shorter than it declares: 7E8 06 41 0C 0C 03 0D",
                                  {"750 RPM", "50 km/h"},
                                  {"768", " 0 km/h"}},
                      HostileCase{"stray_prompt_before_an_answer",
                                  {"010C0D", 1, Fault::Answer, ">7E8 06 41 0C 0B B8 0D 32"},
                                  {},
                                  0,
                                  "",
                                  {"750 RPM", "50 km/h"},
                                  {}},
                      HostileCase{"stray_prompt_before_the_first_answer",
                                  {"0100", 1, Fault::Answer, ">7E8 06 41 00 00 18 00 00"},
                                  {},
                                  0,
                                  "",
                                  {"750 RPM", "50 km/h"},
                                  {}},
                      // Answers that do not belong to their request, each after the prompt:
                      // the request fails soon after it, not at the request timeout.
                      HostileCase{"answer_of_another_ecu",
                                  {"0902", 1, Fault::Answer,
                                   "7EA 10 14 49 02 01 31 47 31\r7EA 21 4A 43 35 34 34 34 52\r"
                                   "7EA 22 37 32 35 32 33 36 37"},
                                  {},
                                  0,
                                  "does not belong to request 0902",
                                  {"750 RPM"},
                                  {"1G1JC5444R7252367"}},
                      HostileCase{"monitor_answer_without_its_id",
                                  {"060020406080A0", 1, Fault::Answer, "7E8 05 46 C0 00 00 01"},
                                  {},
                                  0,
                                  "does not belong to request 060020406080A0",
                                  {"750 RPM"},
                                  {}},
                      // Real cars: frames another request left behind ride along with
                      // an answer, and are set aside; a car that refuses service 01.
                      HostileCase{"stray_frames_in_the_first_answer",
                                  {"0100", 1, Fault::Answer,
                                   "7E8 06 41 00 00 18 00 00\r7E8 03 41 0D 00\r7E8 03 41 11 26"},
                                  {},
                                  0,
                                  "",
                                  {"750 RPM", "50 km/h"},
                                  {}},
                      HostileCase{"pending_codes_among_stray_frames",
                                  {"07", 1, Fault::Answer,
                                   "7E8 04 41 0C 17 10\r7E8 06 47 02 22 6D 22 6E\r7E8 03 41 0D 00"},
                                  {},
                                  0,
                                  "",
                                  {"P226D", "P226E"},
                                  {}},
                      HostileCase{"service_01_refused",
                                  {"0100", 1, Fault::Answer, "7E8 03 7F 01 7F"},
                                  {},
                                  1,
                                  "refuses OBD service 01 (ECU 7E8 answered 7F 01 7F",
                                  {},
                                  {}},
                      HostileCase{"empty_answer",
                                  {"03", 1, Fault::Answer, ""},
                                  {},
                                  0,
                                  "answer to request 03 was empty",
                                  {"750 RPM"},
                                  {}},
                      HostileCase{"empty_answer_to_the_search",
                                  {"0100", 1, Fault::Answer, ""},
                                  {},
                                  0,
                                  "search found nothing (an empty answer); ISO 15765-4",
                                  {"750 RPM"},
                                  {}},
                      HostileCase{"negative_voltage",
                                  {"ATRV", 1, Fault::Answer, "-5V"},
                                  {"--json"},
                                  0,
                                  "",
                                  {"\"batteryVoltage\": null"},
                                  {}},
                      HostileCase{"implausible_voltage",
                                  {"ATRV", 1, Fault::Answer, "99999V"},
                                  {"--json"},
                                  0,
                                  "",
                                  {"\"batteryVoltage\": null"},
                                  {}},
                      HostileCase{"infinite_voltage",
                                  {"ATRV", 1, Fault::Answer, "inf"},
                                  {"--json"},
                                  0,
                                  "",
                                  {"\"batteryVoltage\": null"},
                                  {}},
                      HostileCase{"hexadecimal_voltage",
                                  {"ATRV", 1, Fault::Answer, "0x10V"},
                                  {"--json"},
                                  0,
                                  "",
                                  {"\"batteryVoltage\": null"},
                                  {}},
                      // The hang-up comes at the third reading.
                      HostileCase{"hang_up_while_watching",
                                  {"010C", 3, Fault::HangUp, ""},
                                  {"--watch", "0C", "--count", "10", "--interval", "0"},
                                  1,
                                  "the adapter closed the connection",
                                  {"#1 ", "#2 ", "750 RPM"},
                                  {"#3 ", "missing"}},
                      // The vehicle announces 0C (PID 00) but has no answer at first.
                      HostileCase{"no_data_for_an_announced_pid",
                                  {"010C", 1, Fault::Answer, "NO DATA"},
                                  {"--watch", "0C", "--count", "2", "--interval", "0"},
                                  0,
                                  "reading 1: no answer for PID 0x0C",
                                  {"#1 ", ": missing\n#2 ", "750 RPM"},
                                  {}},
                      HostileCase{"raw_request_refused",
                                  {"0902", 1, Fault::Answer, "?"},
                                  {"--raw", "0902"},
                                  1,
                                  "the adapter refused the command 0902",
                                  {},
                                  {}},
                      // 7F 09 31: service 09 refused, request out of range (ISO 14229-1).
                      HostileCase{"raw_negative_response_as_json",
                                  {"0902", 1, Fault::Answer, "7E8 03 7F 09 31"},
                                  {"--raw", "0902", "--json"},
                                  0,
                                  "",
                                  {"\"ecu\": 2024", "\"name\": \"request out of range\""},
                                  {}},
                      HostileCase{"silent_within_the_timeout",
                                  {"0902", 1, Fault::NoPrompt, ""},
                                  {"--timeout", "200"},
                                  1,
                                  "larger --timeout",
                                  {"Vehicle and ECU information"},
                                  {}},
                      // ESC starts a terminal control sequence; E9 is Latin-1 (é), not
                      // UTF-8.
                      HostileCase{"control_and_latin1_bytes_in_text",
                                  {"ATI", 1, Fault::Answer, "ELM327 \x1B[2Jv1.5 \xE9"},
                                  {},
                                  0,
                                  "",
                                  {"ELM327 \\x1B[2Jv1.5 \\xE9"},
                                  {"\x1B", "\xE9"}},
                      HostileCase{"control_and_latin1_bytes_in_json",
                                  {"0902", 1, Fault::Answer,
                                   "7E8 10 14 49 02 01 31 47 31\r7E8 21 4A 43 35 34 34 1B 5B\r"
                                   "7E8 22 32 4A E9 32 33 36 37"},
                                  {"--json"},
                                  0,
                                  "",
                                  {"1G1JC544\\u001b[2J\xEF\xBF\xBD"
                                   "2367"},
                                  {}}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    RealCars, HostilePeerTest,
    ::testing::Values(
        // Shown though not decoded: PID 8B (bit 11 of PID 80's bitmap), 0C with one byte.
        Survived("undecodable_pid",
                 {"010020406080A0", 1, Fault::Answer,
                  "7E8 10 1A 41 00 00 18 00 01\r7E8 21 20 00 00 00 01 40 00\r"
                  "7E8 22 00 00 01 60 00 00 00\r7E8 23 01 80 00 20 00 00"},
                 {"\"text\": \"12 34 56\""}, {"--json"}),
        Survived("wrong_length", {"010C", 1, Fault::Answer, "7E8 03 41 0C 0B"},
                 {"Raw data bytes: 0B"}, {"--watch", "0C", "--count", "1"}),
        Survived("echo_in_lowercase", {"ATH1", 1, Fault::Answer, "ath1\rOK"}, {"750 RPM"}),
        Survived("search_overprinted_on_data",
                 {"0100", 1, Fault::Answer, "SEARCHING...7E8 06 41 00 00 18 00 00"}, {"750 RPM"}),
        // Cut within a byte: missing, then asked PID by PID.
        Survived("odd_length_frame", {"010C0D", 1, Fault::Answer, "7E8 06 41 0C 0B B8 0D 3"},
                 {"750 RPM", "50 km/h"}),
        Survived("calibration_id_padded_with_ff",
                 {"0900", 1, Fault::Answer, "7E8 06 49 00 50 00 00 00"}, {"JMB*36781\n"}),
        // What the adapter said before it went is named with the loss, and advised on.
        HostileCase{"busy_then_hang_up",
                    {"0100", 1, Fault::HangUp, "BUSY"},
                    {},
                    1,
                    "BUSY, then the adapter closed the connection; the adapter was still busy",
                    {},
                    {}}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

}  // namespace

#else
TEST(HostilePeerTest, NeedsPosixSockets) {
    GTEST_SKIP() << "the fake adapter uses POSIX sockets";
}
#endif
