#pragma once

// The OBD-II protocols an ELM327-compatible adapter speaks, by the numbers
// it uses for them (ATSP, ATDPN), with the names it prints (ATDP) and how
// it frames what the vehicle answers.

#include <cstdint>
#include <string>

#include "obd/DataLinkProtocol.h"

namespace obd::bus {

enum class Framing {
    J1850,  // SAE J1850: 3-byte header, CRC check byte
    Iso,    // ISO 9141-2 and ISO 14230-4: 3-byte header, sum check byte
    Can11,  // ISO 15765-4, 11-bit identifiers
    Can29,  // ISO 15765-4, 29-bit identifiers
};

struct ProtocolInfo {
    DataLinkProtocol protocol;
    const char* name;  // as ATDP prints it
    Framing framing;
    // The header byte that opens a request to every ECU and the one that
    // opens an answer (J1850 and ISO 9141-2); ISO 14230-4 puts the length
    // into the format byte instead.
    std::uint8_t requestPriority;
    std::uint8_t responsePriority;
    // The target byte of a request to every ECU.
    std::uint8_t functionalTarget;
    // The bus is initialised before the first request: slowly (5 baud,
    // with progress dots) or fast.
    enum class Init { None, Slow, Fast } init;
};

// Nothing for Automatic or a number outside 1 to 9.
const ProtocolInfo* FindProtocol(DataLinkProtocol protocol);
const ProtocolInfo* FindProtocol(int number);

// "ISO 15765-4 (CAN 11/500)"; "AUTO" for Automatic.
std::string ProtocolName(DataLinkProtocol protocol);

// Whether answers come in the older 3-byte-header frames.
bool IsLegacy(DataLinkProtocol protocol);

// The tester's address on every protocol (J1979: F1).
constexpr std::uint8_t kTesterAddress = 0xF1;
// The address of the first ECU (the engine) on the buses that address ECUs
// by one byte; the simulated vehicle's further ECUs follow it.
constexpr std::uint8_t kFirstEcuAddress = 0x10;

}  // namespace obd::bus
