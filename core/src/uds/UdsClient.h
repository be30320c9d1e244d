#pragma once

// An ISO 14229 (UDS) client for the few services a scan needs: reading data
// by identifier (22) and by local identifier (21), reading trouble codes by
// status mask (19 02) and clearing them (14). Each request goes to one
// module by physical addressing; response-pending answers (7F xx 78) are
// waited through; a refusal comes back named ("request out of range
// (0x31)").
//
// Thread safety: a client holds no state of its own beyond the channel; its
// operations may be called from any thread.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bus/PhysicalChannel.h"

namespace obd::uds {

// A module's answer to one request: its data (after the positive response
// id) or why there is none.
struct Reply {
    std::optional<Bytes> data;
    std::optional<std::uint8_t> refusal;  // the negative response code
    std::string why;                      // empty when data came

    bool ok() const { return data.has_value(); }
};

// A data identifier to read and how many data bytes its record has (0:
// unknown, which keeps it out of shared requests).
struct Identifier {
    std::uint16_t id = 0;
    std::size_t length = 0;
};

// A trouble code as service 19 reports it: three bytes and the status.
struct ModuleCode {
    std::uint32_t raw = 0;    // the J2012 code in the first two bytes, failure type in the third
    std::uint8_t status = 0;  // ISO 14229 status bits
    std::string code;         // "C0035-11"
    std::string baseCode;     // "C0035"
};

// ISO 14229 status bits of a trouble code.
namespace status {
constexpr std::uint8_t kTestFailed = 0x01;
constexpr std::uint8_t kPending = 0x04;
constexpr std::uint8_t kConfirmed = 0x08;
constexpr std::uint8_t kWarningIndicator = 0x80;
}  // namespace status

// "confirmed, pending, test failed, warning indicator": the bits that matter.
std::string StatusText(std::uint8_t status);

class UdsClient {
public:
    explicit UdsClient(IPhysicalChannel& channel) : channel_(channel) {}

    // Sends `request` and returns the final answer.
    Reply request(const PhysicalAddress& address, const Bytes& request);

    // Reads `ids` by service 22, several in one request where the module
    // takes it; once it refuses a shared request, `sharedRefused` is set and
    // every id goes alone. The answer holds each id's record data.
    std::map<std::uint16_t, Reply> readIdentifiers(const PhysicalAddress& address,
                                                   const std::vector<Identifier>& ids,
                                                   bool& sharedRefused);
    // Service 21 (local identifier) or 01 (PID) read of one id: the data after
    // the echoed id.
    Reply readLocal(const PhysicalAddress& address, std::uint8_t service, std::uint8_t id);

    // Service 19 02 with status mask FF.
    std::optional<std::vector<ModuleCode>> readCodes(const PhysicalAddress& address,
                                                     std::string& why);
    // Service 14 with group FFFFFF (all codes).
    Reply clearCodes(const PhysicalAddress& address);

private:
    // Reads `group` in one request; the ids missing from a positive answer
    // stay out of `results`.
    bool readShared(const PhysicalAddress& address, const std::vector<Identifier>& group,
                    std::map<std::uint16_t, Reply>& results, bool& refused);

    IPhysicalChannel& channel_;
};

}  // namespace obd::uds
