#pragma once

// CAN frames and ISO 15765-2 (ISO-TP) transport framing as OBD-II on CAN uses
// it: a message of up to 7 bytes travels in a single frame, a longer one as a
// first frame followed by consecutive frames. Every frame is padded to eight
// data bytes, as SAE J1979 requires on CAN.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

namespace obd::bus {

using Bytes = std::vector<std::uint8_t>;

// 11-bit identifiers of SAE J1979 on CAN.
constexpr std::uint32_t kFunctionalRequestId = 0x7DF;
constexpr std::uint32_t kFirstPhysicalRequestId = 0x7E0;
constexpr std::uint32_t kFirstResponseId = 0x7E8;

struct CanFrame {
    std::uint32_t id = 0;
    std::array<std::uint8_t, 8> data{};
};

class IsoTpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The largest message a first frame's 12-bit length can announce.
constexpr std::size_t kMaxIsoTpMessage = 4095;

// Splits `message` into frames with identifier `id`, unused bytes set to
// `padding`. Throws IsoTpError for an empty message or one over 4095 bytes.
std::vector<CanFrame> Segment(std::uint32_t id, const Bytes& message, std::uint8_t padding);

// How many frames Segment() makes of a message of `bytes` bytes: one single
// frame up to 7, else a first frame of 6 and consecutive frames of 7.
std::size_t FrameCount(std::size_t bytes);

// The flow control frame a receiver sends after a first frame: continue to
// send, no block limit, no separation time.
CanFrame FlowControl(std::uint32_t id, std::uint8_t padding);

// Collects the frames of one sender into messages.
class Reassembler {
public:
    // Feeds one frame. Returns the message it completes, if any. Throws
    // IsoTpError for a frame that breaks the sequence (a consecutive frame
    // without a first frame, a wrong sequence number, a bad length); the
    // partial message is then dropped.
    std::optional<Bytes> feed(const CanFrame& frame);
    // True while a multi-frame message is incomplete.
    bool inProgress() const { return expected_ != 0; }

private:
    Bytes message_;
    std::size_t expected_ = 0;
    std::uint8_t nextSequence_ = 0;
};

}  // namespace obd::bus
