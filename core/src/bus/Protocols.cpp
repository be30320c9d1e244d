#include "bus/Protocols.h"

namespace obd::bus {

namespace {

using Init = ProtocolInfo::Init;

// Names from the ELM327 datasheet's protocol table; header bytes from SAE
// J1979 (functional request 68 6A F1 / 61 6A F1 / C0|n 33 F1, answers
// 48 6B xx / 41 6B xx / 80|n F1 xx).
constexpr ProtocolInfo kProtocols[] = {
    {DataLinkProtocol::SaeJ1850Pwm, "SAE J1850 PWM", Framing::J1850, 0x61, 0x41, 0x6A, Init::None},
    {DataLinkProtocol::SaeJ1850Vpw, "SAE J1850 VPW", Framing::J1850, 0x68, 0x48, 0x6A, Init::None},
    {DataLinkProtocol::Iso9141, "ISO 9141-2", Framing::Iso, 0x68, 0x48, 0x6A, Init::Slow},
    {DataLinkProtocol::Iso14230SlowInit, "ISO 14230-4 (KWP 5BAUD)", Framing::Iso, 0xC0, 0x80, 0x33,
     Init::Slow},
    {DataLinkProtocol::Iso14230FastInit, "ISO 14230-4 (KWP FAST)", Framing::Iso, 0xC0, 0x80, 0x33,
     Init::Fast},
    {DataLinkProtocol::Iso15765Can11Bit500k, "ISO 15765-4 (CAN 11/500)", Framing::Can11, 0, 0, 0,
     Init::None},
    {DataLinkProtocol::Iso15765Can29Bit500k, "ISO 15765-4 (CAN 29/500)", Framing::Can29, 0, 0, 0,
     Init::None},
    {DataLinkProtocol::Iso15765Can11Bit250k, "ISO 15765-4 (CAN 11/250)", Framing::Can11, 0, 0, 0,
     Init::None},
    {DataLinkProtocol::Iso15765Can29Bit250k, "ISO 15765-4 (CAN 29/250)", Framing::Can29, 0, 0, 0,
     Init::None},
};

}  // namespace

const ProtocolInfo* FindProtocol(DataLinkProtocol protocol) {
    for (const ProtocolInfo& info : kProtocols) {
        if (info.protocol == protocol) {
            return &info;
        }
    }
    return nullptr;
}

const ProtocolInfo* FindProtocol(int number) {
    return FindProtocol(static_cast<DataLinkProtocol>(number));
}

std::string ProtocolName(DataLinkProtocol protocol) {
    if (protocol == DataLinkProtocol::Automatic) {
        return "AUTO";
    }
    const ProtocolInfo* info = FindProtocol(protocol);
    return info ? info->name : "";
}

bool IsLegacy(DataLinkProtocol protocol) {
    const ProtocolInfo* info = FindProtocol(protocol);
    return info && (info->framing == Framing::J1850 || info->framing == Framing::Iso);
}

}  // namespace obd::bus
