#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "obd/IConnectionManager.h"
#include "zelt/ConnectionBridge.h"
#include "zelt/link/Export.h"
#include "zelt/link/Transport.h"

namespace zelt::link {

namespace detail {
// The pump's thread and what it uses. Defined and kept inside the library,
// so that none of its machinery is exported.
class PumpState;
}  // namespace detail

// How a BytePump reads the adapter's answers, and who sees its bytes.
struct ZELT_LINK_API BytePumpOptions {
    // The adapter's prompt, which ends each of its answers.
    char prompt = '>';
    // The most bytes an answer may have (no real adapter comes near it): a
    // peer that sends more without a prompt is not an adapter answering,
    // and the link is given up.
    std::size_t maxAnswerBytes = std::size_t{64} * 1024;
    // Sees the bytes of the dialogue as they pass ("<<" from the adapter,
    // ">>" to it), on the pump's thread; for traces. May be empty.
    std::function<void(const char* direction, const std::vector<std::uint8_t>& bytes)> trace;
};

// Carries the bytes of a vehicle connection between the core and an
// adapter's transport, on a thread of its own: it owns a ConnectionBridge
// registered with `manager`, sends what the core queues as soon as it is
// queued, and hands the core what the adapter sends as soon as it arrives.
// Nothing polls: the thread sleeps in the transport until either side has
// bytes.
//
//   auto root = obd::elm327::AdapterQuorvix::create();
//   zelt::link::BytePump pump(root->getConnectionManager(),
//                             zelt::link::OpenTransport("tcp://192.168.0.10:35000"));
//   pump.bridge().connect(obd::DataLinkProtocol::Automatic, true);
//
// The pump stops, and invalidates its bridge, when the transport fails, the
// adapter sends more than maxAnswerBytes without a prompt or more answers
// than the bridge holds unread (lostReason() then says why), or the vehicle
// connection closes: a pump carries one connection. Close the connection
// before the pump goes.
//
// Thread safety: every operation may be called from any thread.
// Not copyable: it owns a thread that refers to it.
class ZELT_LINK_API BytePump {
public:
    // Registers the pump's bridge with `manager` and starts its thread on
    // `transport`, an open link that the pump owns from now on.
    BytePump(std::shared_ptr<obd::IConnectionManager> manager,
             std::unique_ptr<ITransport> transport, BytePumpOptions options = {});
    ~BytePump();
    BytePump(const BytePump&) = delete;
    BytePump& operator=(const BytePump&) = delete;

    // The bridge to connect() through.
    ConnectionBridge& bridge();
    // Why the link to the adapter was given up; empty while it is up, and
    // after a close that the application asked for.
    std::string lostReason() const;

private:
    std::unique_ptr<detail::PumpState> state_;
};

}  // namespace zelt::link
