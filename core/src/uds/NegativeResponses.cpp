#include "uds/NegativeResponses.h"

#include "j1979/Numbers.h"
#include "obd/NegativeResponse.h"

namespace obd::uds {

namespace {

struct Name {
    std::uint8_t code;
    const char* text;
};

// ISO 14229-1, negative response codes.
constexpr Name kNames[] = {
    {0x10, "general reject"},
    {0x11, "service not supported"},
    {0x12, "sub-function not supported"},
    {0x13, "incorrect message length or invalid format"},
    {0x14, "response too long"},
    {0x21, "busy, repeat request"},
    {0x22, "conditions not correct"},
    {0x24, "request sequence error"},
    {0x25, "no response from subnet component"},
    {0x26, "failure prevents execution of requested action"},
    {0x31, "request out of range"},
    {0x33, "security access denied"},
    {0x34, "authentication required"},
    {0x35, "invalid key"},
    {0x36, "exceeded number of attempts"},
    {0x37, "required time delay not expired"},
    {0x70, "upload/download not accepted"},
    {0x71, "transfer data suspended"},
    {0x72, "general programming failure"},
    {0x73, "wrong block sequence counter"},
    {0x78, "request correctly received, response pending"},
    {0x7E, "sub-function not supported in active session"},
    {0x7F, "service not supported in active session"},
    {0x81, "RPM too high"},
    {0x82, "RPM too low"},
    {0x83, "engine is running"},
    {0x84, "engine is not running"},
    {0x85, "engine run time too low"},
    {0x86, "temperature too high"},
    {0x87, "temperature too low"},
    {0x88, "vehicle speed too high"},
    {0x89, "vehicle speed too low"},
    {0x8A, "throttle/pedal too high"},
    {0x8B, "throttle/pedal too low"},
    {0x8C, "transmission range not in neutral"},
    {0x8D, "transmission range not in gear"},
    {0x8F, "brake switch(es) not closed"},
    {0x90, "shifter lever not in park"},
    {0x91, "torque converter clutch locked"},
    {0x92, "voltage too high"},
    {0x93, "voltage too low"},
    {0x94, "resource temporarily not available"},
};

}  // namespace

std::string NegativeResponseText(std::uint8_t code) {
    return obd::NegativeResponseName(code) + " (" + j1979::detail::HexByte(code) + ")";
}

}  // namespace obd::uds

namespace obd {

std::string NegativeResponseName(std::uint8_t code) {
    for (const uds::Name& name : uds::kNames) {
        if (name.code == code) {
            return name.text;
        }
    }
    if (code >= 0x38 && code <= 0x4F) {
        return "reserved by extended data link security";
    }
    if (code >= 0xF0 && code <= 0xFE) {
        return "manufacturer specific conditions not correct";
    }
    return "reserved negative response";
}

}  // namespace obd
