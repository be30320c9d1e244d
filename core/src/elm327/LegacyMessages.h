#pragma once

// How the buses older than CAN (SAE J1850, ISO 9141-2, ISO 14230-4) carry
// OBD answers, as SAE J1979 lays them out: messages of at most seven data
// bytes behind a 3-byte header and followed by a check byte, each answer
// that does not fit one message split into several (trouble codes three to
// a message and no count; vehicle information four bytes to a message
// behind a message sequence number).
//
// The rest of the core sees answers as ISO 15765-4 carries them (one
// message per ECU, counts included); these functions convert between the
// two, so that every protocol gives the same records.

#include <cstdint>
#include <optional>
#include <vector>

#include "bus/Protocols.h"

namespace obd::elm327 {

using Bytes = std::vector<std::uint8_t>;

// The most data bytes one message carries on these buses.
constexpr std::size_t kMaxLegacyData = 7;

// The check byte that ends `message` (header and data): the SAE J1850 CRC
// or the ISO 9141-2 / ISO 14230-4 sum.
std::uint8_t CheckByte(bus::Framing framing, const Bytes& message);

// The number of data bytes a message's header declares: the low six bits
// of an ISO 14230 format byte that carries addresses (its top bit set).
// Nothing where the header holds no length (SAE J1850, ISO 9141-2, or a
// separate length byte).
std::optional<std::size_t> DeclaredDataLength(bus::Framing framing, const Bytes& message);

// The header of an answer from the ECU at `source` with `dataLength` data
// bytes.
Bytes AnswerHeader(const bus::ProtocolInfo& protocol, std::uint8_t source, std::size_t dataLength);

// The messages an ECU sends for `answer` (as ISO 15765-4 carries it).
std::vector<Bytes> ToLegacyMessages(const Bytes& answer);

// One ECU's answer as ISO 15765-4 carries it, from the messages that ECU
// sent; nothing when they do not form one answer.
std::optional<Bytes> FromLegacyMessages(const std::vector<Bytes>& messages);

}  // namespace obd::elm327
