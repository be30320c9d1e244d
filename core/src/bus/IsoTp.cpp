#include "bus/IsoTp.h"

#include <algorithm>

namespace obd::bus {

namespace {

constexpr std::uint8_t kSingleFrame = 0x0;
constexpr std::uint8_t kFirstFrame = 0x1;
constexpr std::uint8_t kConsecutiveFrame = 0x2;
constexpr std::uint8_t kFlowControl = 0x3;

CanFrame Blank(std::uint32_t id, std::uint8_t padding) {
    CanFrame frame;
    frame.id = id;
    frame.data.fill(padding);
    return frame;
}

}  // namespace

std::size_t FrameCount(std::size_t bytes) {
    constexpr std::size_t kSingle = 7;
    constexpr std::size_t kFirst = 6;
    constexpr std::size_t kConsecutive = 7;
    return bytes <= kSingle ? 1 : 1 + (bytes - kFirst + kConsecutive - 1) / kConsecutive;
}

std::vector<CanFrame> Segment(std::uint32_t id, const Bytes& message, std::uint8_t padding) {
    if (message.empty() || message.size() > kMaxIsoTpMessage) {
        throw IsoTpError("ISO-TP message of " + std::to_string(message.size()) +
                         " bytes cannot be sent");
    }
    std::vector<CanFrame> frames;
    if (message.size() <= 7) {
        CanFrame frame = Blank(id, padding);
        frame.data[0] = static_cast<std::uint8_t>(kSingleFrame << 4 | message.size());
        std::copy(message.begin(), message.end(), frame.data.begin() + 1);
        frames.push_back(frame);
        return frames;
    }
    CanFrame first = Blank(id, padding);
    first.data[0] = static_cast<std::uint8_t>(kFirstFrame << 4 | (message.size() >> 8));
    first.data[1] = static_cast<std::uint8_t>(message.size() & 0xFF);
    std::copy(message.begin(), message.begin() + 6, first.data.begin() + 2);
    frames.push_back(first);
    std::uint8_t sequence = 1;
    for (std::size_t offset = 6; offset < message.size(); offset += 7) {
        CanFrame next = Blank(id, padding);
        next.data[0] = static_cast<std::uint8_t>(kConsecutiveFrame << 4 | sequence);
        const std::size_t count = std::min<std::size_t>(7, message.size() - offset);
        std::copy(message.begin() + static_cast<std::ptrdiff_t>(offset),
                  message.begin() + static_cast<std::ptrdiff_t>(offset + count),
                  next.data.begin() + 1);
        frames.push_back(next);
        sequence = static_cast<std::uint8_t>((sequence + 1) & 0x0F);
    }
    return frames;
}

CanFrame FlowControl(std::uint32_t id, std::uint8_t padding) {
    CanFrame frame = Blank(id, padding);
    frame.data[0] = kFlowControl << 4;  // clear to send
    frame.data[1] = 0;                  // no block size limit
    frame.data[2] = 0;                  // no separation time
    return frame;
}

std::optional<Bytes> Reassembler::feed(const CanFrame& frame) {
    const std::uint8_t type = frame.data[0] >> 4;
    switch (type) {
        case kSingleFrame: {
            const std::size_t length = frame.data[0] & 0x0F;
            if (length == 0 || length > 7) {
                throw IsoTpError("single frame with length " + std::to_string(length));
            }
            // A single frame ends any message in progress.
            expected_ = 0;
            message_.clear();
            return Bytes(frame.data.begin() + 1,
                         frame.data.begin() + 1 + static_cast<std::ptrdiff_t>(length));
        }
        case kFirstFrame: {
            const std::size_t length =
                static_cast<std::size_t>(frame.data[0] & 0x0F) << 8 | frame.data[1];
            if (length <= 7) {
                expected_ = 0;
                throw IsoTpError("first frame with length " + std::to_string(length));
            }
            message_.assign(frame.data.begin() + 2, frame.data.end());
            expected_ = length;
            nextSequence_ = 1;
            return std::nullopt;
        }
        case kConsecutiveFrame: {
            if (expected_ == 0) {
                throw IsoTpError("consecutive frame without a first frame");
            }
            if ((frame.data[0] & 0x0F) != nextSequence_) {
                expected_ = 0;
                message_.clear();
                throw IsoTpError("consecutive frame out of sequence");
            }
            nextSequence_ = static_cast<std::uint8_t>((nextSequence_ + 1) & 0x0F);
            const std::size_t count = std::min<std::size_t>(7, expected_ - message_.size());
            message_.insert(message_.end(), frame.data.begin() + 1,
                            frame.data.begin() + 1 + static_cast<std::ptrdiff_t>(count));
            if (message_.size() < expected_) {
                return std::nullopt;
            }
            expected_ = 0;
            Bytes done;
            done.swap(message_);
            return done;
        }
        default:
            throw IsoTpError("unexpected frame type " + std::to_string(type));
    }
}

}  // namespace obd::bus
