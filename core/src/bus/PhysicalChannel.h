#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace obd::uds {

using Bytes = std::vector<std::uint8_t>;

// One module on the bus, asked by physical addressing.
struct PhysicalAddress {
    std::uint32_t request = 0;   // CAN identifier the module listens on
    std::uint32_t response = 0;  // the one it answers with
    bool extended = false;       // 29-bit identifiers
};

// The way a request reaches one module and its answers come back: through
// an adapter, its header set to the request id and its receive filter to
// the response id; in process, the simulated bus. Kept apart from the J1979
// request channel so that a channel without physical addressing simply
// does not offer it (found with dynamic_pointer_cast).
//
// Thread safety: every operation may be called from any thread; exchanges
// are serialised with the channel's other requests.
class IPhysicalChannel {
public:
    virtual ~IPhysicalChannel() = default;

    // Sends `request` to the module at `address` and returns the messages it
    // sent, in order (response-pending answers included, the final answer
    // last); empty when it kept silent. Nothing, with `error` telling why,
    // when the request could not be made.
    virtual std::optional<std::vector<Bytes>> transactPhysical(const Bytes& request,
                                                               const PhysicalAddress& address,
                                                               std::string& error) = 0;
    // The longest request the channel sends (an ELM327 sends one CAN frame).
    virtual std::size_t maxRequestSize() const = 0;
};

}  // namespace obd::uds
