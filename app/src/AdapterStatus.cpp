#include "zelt/app/AdapterStatus.h"

#include <utility>

namespace zelt::app {

std::string AdapterGone(const Session& session) {
    std::string lost = session.linkLost();
    if (!lost.empty()) {
        return lost;
    }
    // A link can stay up while the adapter has gone silent (a Bluetooth
    // dongle out of range, a serial adapter without power).
    if (session.adapterLost()) {
        const std::string error = session.adapterError();
        return error.empty() ? "the adapter stopped answering" : error;
    }
    return {};
}

namespace {

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

std::string AdapterAdvice(const std::string& message, const SettingNames& names) {
    // The texts an ELM327 prints instead of an answer (its datasheet lists
    // them), and the tool's own words for a link that went.
    struct Advice {
        const char* text;
        const char* advice;
    };
    // The first entry that matches gives the advice.
    static const Advice kAdvice[] = {
        {"no prompt within",
         "give a slow adapter more time with a larger {timeout}, or check that it has power and "
         "is within reach of its link"},
        {"UNABLE TO CONNECT",
         "check that the ignition is on and that the adapter sits firmly in the OBD-II socket; "
         "if it still fails, name the protocol with {protocol}"},
        {"BUS INIT", "switch the ignition on (the engine may stay off) and scan again"},
        {"CAN ERROR",
         "check that the adapter sits firmly in the OBD-II socket and that the ignition is on"},
        {"BUS ERROR", "check the adapter's seat in the OBD-II socket and the socket's wiring"},
        {"BUS BUSY", "the bus is too busy for the adapter: scan again with the engine off"},
        {"FB ERROR", "check the adapter's seat in the OBD-II socket and the socket's wiring"},
        {"DATA ERROR", "the vehicle's answer arrived damaged: scan again"},
        {"RX ERROR", "the vehicle's answer arrived damaged: scan again"},
        {"BUFFER FULL",
         "the adapter received faster than it could send: use a faster link rate, e.g. "
         "serial:DEVICE:115200"},
        {"STOPPED", "the adapter was interrupted while it waited for the vehicle: scan again"},
        {"LV RESET", "the adapter's supply voltage dropped: check the vehicle's battery"},
        {"stopped answering",
         "check that the adapter has power and is within reach of its link (Bluetooth range, "
         "Wi-Fi network)"},
        {"closed the connection",
         "check that the adapter has power and is within reach of its link (Bluetooth range, "
         "Wi-Fi network)"},
        {"connection to the adapter was lost",
         "check that the adapter has power and is within reach of its link (Bluetooth range, "
         "Wi-Fi network)"},
    };
    if (message == "?") {
        return "the adapter did not understand a command; it may be a clone that lacks part of "
               "the ELM327 command set";
    }
    for (const auto& entry : kAdvice) {
        if (message.find(entry.text) != std::string::npos) {
            return Named(entry.advice, names);
        }
    }
    return {};
}

}  // namespace zelt::app
