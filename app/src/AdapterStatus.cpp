#include "zelt/app/AdapterStatus.h"

#include <cctype>
#include <utility>

#include "LinkLoss.h"

namespace zelt::app {

namespace {

// What the user can do when the link to the adapter went.
constexpr const char* kCheckTheLink =
    "check that the adapter has power and is within reach of its link (Bluetooth range, Wi-Fi "
    "network)";

// The words an ELM327 prints instead of an answer (its datasheet lists
// them), what each means, and what the user can do about it; then the
// tool's own words for a link that went. Longer words come before the
// shorter ones they contain ("BUS BUSY" before "BUSY").
struct Status {
    const char* word;
    const char* meaning;  // empty for the tool's own words, which say it
    const char* advice;
};
constexpr Status kStatuses[] = {
    {"no prompt within", "",
     "give a slow adapter more time with a larger {timeout}, or check that it has power and is "
     "within reach of its link"},
    {"UNABLE TO CONNECT", "",
     "check that the ignition is on and that the adapter sits firmly in the OBD-II socket; if it "
     "still fails, name the protocol with {protocol}"},
    {"BUS INIT", "", "switch the ignition on (the engine may stay off) and scan again"},
    {"CAN ERROR", "the adapter could not send or receive on the CAN bus",
     "check that the adapter sits firmly in the OBD-II socket and that the ignition is on"},
    {"BUS BUSY", "the bus was too busy for the adapter to send the request",
     "scan again with the engine off"},
    {"BUS ERROR", "the adapter saw an invalid signal on the bus",
     "check the adapter's seat in the OBD-II socket and the socket's wiring"},
    {"FB ERROR", "the adapter's output to the bus did not read back as sent",
     "check the adapter's seat in the OBD-II socket and the socket's wiring"},
    {"DATA ERROR", "the vehicle's answer arrived damaged", "scan again"},
    {"RX ERROR", "the adapter received a damaged CAN message", "scan again"},
    {"BUFFER FULL", "the adapter received faster than it could pass the answer on",
     "use a faster link rate, e.g. serial:DEVICE:115200"},
    {"STOPPED", "the adapter was interrupted while it waited for the vehicle", "scan again"},
    {"LV RESET", "the adapter restarted because its supply voltage dropped",
     "check the vehicle's battery and the adapter's seat in the socket"},
    {"ACT ALERT", "the adapter saw no activity and is about to sleep",
     "check that the ignition is on"},
    {"LP ALERT", "the adapter is about to enter its low power mode",
     "check that the ignition is on"},
    {"BUSY", "the adapter was still busy with an earlier command",
     "scan again; if it persists, power the adapter off and on"},
    {"stopped answering", "", kCheckTheLink},
    {"closed the connection", "", kCheckTheLink},
    {"connection to the adapter was lost", "", kCheckTheLink},
};

// The ELM327's internal errors: "ERR" and two digits.
bool IsInternalError(const std::string& message) {
    for (std::size_t at = message.find("ERR"); at != std::string::npos;
         at = message.find("ERR", at + 1)) {
        const bool digits = at + 5 <= message.size() &&
                            std::isdigit(static_cast<unsigned char>(message[at + 3])) &&
                            std::isdigit(static_cast<unsigned char>(message[at + 4]));
        if (digits && (at + 5 == message.size() ||
                       !std::isalnum(static_cast<unsigned char>(message[at + 5])))) {
            return true;
        }
    }
    return false;
}

// `advice` with {timeout} and {protocol} in the front end's words.
std::string Named(std::string advice, const SettingNames& names) {
    const std::pair<const char*, const std::string*> marks[] = {{"{timeout}", &names.timeout},
                                                                {"{protocol}", &names.protocol}};
    for (const auto& [mark, name] : marks) {
        const std::size_t at = advice.find(mark);
        if (at != std::string::npos) {
            advice.replace(at, std::string(mark).size(), *name);
        }
    }
    return advice;
}

}  // namespace

std::string AdapterGone(const Session& session) {
    const std::string lost = session.linkLost();
    if (!lost.empty()) {
        return LinkLoss(lost, session.adapterError());
    }
    // A link can stay up while the adapter has gone silent (a Bluetooth
    // dongle out of range, a serial adapter without power).
    if (session.adapterLost()) {
        const std::string error = session.adapterError();
        return error.empty() ? "the adapter stopped answering" : error;
    }
    return {};
}

std::string AdapterAdvice(const std::string& message, const SettingNames& names) {
    if (message == "?") {
        return "the adapter did not understand a command; it may be a clone that lacks part of "
               "the ELM327 command set";
    }
    for (const auto& status : kStatuses) {
        if (message.find(status.word) != std::string::npos) {
            const std::string advice = Named(status.advice, names);
            return *status.meaning == '\0'
                       ? advice
                       : std::string(status.meaning).append(": ").append(advice);
        }
    }
    if (IsInternalError(message)) {
        return "the adapter reported an internal error of its own: power it off and on, and scan "
               "again";
    }
    return {};
}

}  // namespace zelt::app
