#include "j1979/PidTexts.h"

#include <cstddef>
#include <vector>

#include "bus/Hex.h"
#include "j1979/Codec.h"
#include "j1979/Numbers.h"
#include "j1979/ReadinessMonitors.h"

namespace obd::j1979::detail {

namespace {

struct NamedValue {
    std::uint8_t value;
    const char* text;
};

// Values outside a table are shown with their number rather than rejected:
// an ECU may send a value defined after this table was written.
template <std::size_t N>
std::string Lookup(const NamedValue (&names)[N], std::uint8_t value) {
    for (const auto& name : names) {
        if (name.value == value) {
            return name.text;
        }
    }
    return "Unknown (" + HexByte(value) + ")";
}

std::string Join(const std::vector<std::string>& items) {
    if (items.empty()) {
        return "None";
    }
    std::string text;
    for (const auto& item : items) {
        if (!text.empty()) {
            text += ", ";
        }
        text += item;
    }
    return text;
}

bool Bit(std::uint8_t byte, int bit) {
    return ((byte >> bit) & 1) != 0;
}

std::string MonitorsText(const std::uint8_t* bcd, bool complete) {
    std::vector<std::string> names;
    const auto& continuous = ContinuousMonitors();
    for (int bit = 0; bit < 3; ++bit) {
        if (Bit(bcd[0], bit) && Bit(bcd[0], bit + 4) != complete) {
            names.emplace_back(continuous[bit].name);
        }
    }
    const auto& monitors = NonContinuousMonitors(IgnitionOf(bcd[0]));
    for (int bit = 0; bit < 8; ++bit) {
        if (monitors[bit].name != nullptr && Bit(bcd[1], bit) && Bit(bcd[2], bit) != complete) {
            names.emplace_back(monitors[bit].name);
        }
    }
    return Join(names);
}

std::string ControlStatusText(std::uint8_t twoBits) {
    static constexpr NamedValue kStatus[] = {
        {0, "Reserved"}, {1, "Open loop"}, {2, "Closed loop"}, {3, "Fault present"}};
    return Lookup(kStatus, twoBits & 3);
}

std::string SensorsPresentText(std::uint8_t bits, int banks) {
    const int sensorsPerBank = 8 / banks;
    std::vector<std::string> present;
    for (int bit = 0; bit < 8; ++bit) {
        if (Bit(bits, bit)) {
            present.push_back("B" + std::to_string(bit / sensorsPerBank + 1) + "S" +
                              std::to_string(bit % sensorsPerBank + 1));
        }
    }
    return Join(present);
}

}  // namespace

std::string SupportedPidsText(std::uint8_t basePid, const std::uint8_t* field) {
    std::string text;
    for (int index = 0; index < 32; ++index) {
        // The most significant bit of byte A stands for the PID after the base.
        if (Bit(field[index / 8], 7 - index % 8)) {
            const int pid = basePid + index + 1;
            if (!text.empty()) {
                text += ' ';
            }
            text += bus::HexDigit(static_cast<unsigned>(pid) >> 4);
            text += bus::HexDigit(static_cast<unsigned>(pid));
        }
    }
    return text.empty() ? "None" : text;
}

std::string MilStatusText(const std::uint8_t* field) {
    return Bit(field[0], 7) ? "On" : "Off";
}

std::string TroubleCodeCountText(const std::uint8_t* field) {
    return std::to_string(field[0] & 0x7F);
}

std::string IgnitionTypeText(const std::uint8_t* field) {
    return IgnitionOf(field[0]) == IgnitionType::Compression ? "Compression ignition"
                                                             : "Spark ignition";
}

std::string MonitorsCompleteText(const std::uint8_t* field) {
    return MonitorsText(field, true);
}

std::string MonitorsIncompleteText(const std::uint8_t* field) {
    return MonitorsText(field, false);
}

std::string FreezeFrameTroubleCodeText(const std::uint8_t* field) {
    const auto raw = static_cast<std::uint16_t>(field[0] << 8 | field[1]);
    // 0000 is no code at all, not "P0000": no freeze frame is stored.
    return raw == 0 ? "None" : DecodeTroubleCode(raw);
}

std::string FuelSystemStatusText(const std::uint8_t* field) {
    static constexpr NamedValue kStatus[] = {
        {0x00, "Off or not present"},
        {0x01, "Open loop (engine cold)"},
        {0x02, "Closed loop"},
        {0x04, "Open loop (engine load or deceleration fuel cut)"},
        {0x08, "Open loop (system failure)"},
        {0x10, "Closed loop (feedback fault)"},
    };
    return Lookup(kStatus, field[0]);
}

std::string SecondaryAirStatusText(const std::uint8_t* field) {
    static constexpr NamedValue kStatus[] = {
        {0x01, "Upstream"},
        {0x02, "Downstream of catalytic converter"},
        {0x04, "From the outside atmosphere or off"},
        {0x08, "Pump commanded on for diagnostics"},
    };
    return Lookup(kStatus, field[0]);
}

std::string OxygenSensorsPresent2BanksText(const std::uint8_t* field) {
    return SensorsPresentText(field[0], 2);
}

std::string OxygenSensorsPresent4BanksText(const std::uint8_t* field) {
    return SensorsPresentText(field[0], 4);
}

std::string ObdStandardText(const std::uint8_t* field) {
    static constexpr NamedValue kStandards[] = {
        {1, "OBD-II as defined by the CARB"},
        {2, "OBD as defined by the EPA"},
        {3, "OBD and OBD-II"},
        {4, "OBD-I"},
        {5, "Not OBD compliant"},
        {6, "EOBD (Europe)"},
        {7, "EOBD and OBD-II"},
        {8, "EOBD and OBD"},
        {9, "EOBD, OBD and OBD-II"},
        {10, "JOBD (Japan)"},
        {11, "JOBD and OBD-II"},
        {12, "JOBD and EOBD"},
        {13, "JOBD, EOBD and OBD-II"},
        {17, "Engine Manufacturer Diagnostics (EMD)"},
        {18, "Engine Manufacturer Diagnostics Enhanced (EMD+)"},
        {19, "Heavy Duty On-Board Diagnostics, Child/Partial (HD OBD-C)"},
        {20, "Heavy Duty On-Board Diagnostics (HD OBD)"},
        {21, "World Wide Harmonized OBD (WWH OBD)"},
        {23, "Heavy Duty Euro OBD Stage I without NOx control (HD EOBD-I)"},
        {24, "Heavy Duty Euro OBD Stage I with NOx control (HD EOBD-I N)"},
        {25, "Heavy Duty Euro OBD Stage II without NOx control (HD EOBD-II)"},
        {26, "Heavy Duty Euro OBD Stage II with NOx control (HD EOBD-II N)"},
        {28, "Brazil OBD Phase 1 (OBDBr-1)"},
        {29, "Brazil OBD Phase 2 (OBDBr-2)"},
        {30, "Korean OBD (KOBD)"},
        {31, "India OBD I (IOBD I)"},
        {32, "India OBD II (IOBD II)"},
        {33, "Heavy Duty Euro OBD Stage VI (HD EOBD-IV)"},
    };
    if (field[0] >= 251) {
        return "Not available for assignment";
    }
    return Lookup(kStandards, field[0]);
}

std::string FuelTypeText(const std::uint8_t* field) {
    static constexpr NamedValue kTypes[] = {
        {0, "Not available"},
        {1, "Gasoline"},
        {2, "Methanol"},
        {3, "Ethanol"},
        {4, "Diesel"},
        {5, "LPG"},
        {6, "CNG"},
        {7, "Propane"},
        {8, "Electric"},
        {9, "Bifuel running Gasoline"},
        {10, "Bifuel running Methanol"},
        {11, "Bifuel running Ethanol"},
        {12, "Bifuel running LPG"},
        {13, "Bifuel running CNG"},
        {14, "Bifuel running Propane"},
        {15, "Bifuel running Electricity"},
        {16, "Bifuel running electric and combustion engine"},
        {17, "Hybrid gasoline"},
        {18, "Hybrid Ethanol"},
        {19, "Hybrid Diesel"},
        {20, "Hybrid Electric"},
        {21, "Hybrid running electric and combustion engine"},
        {22, "Hybrid Regenerative"},
        {23, "Bifuel running diesel"},
    };
    return Lookup(kTypes, field[0]);
}

std::string EmissionRequirementsText(const std::uint8_t* field) {
    static constexpr NamedValue kRequirements[] = {
        {0x0E, "Heavy Duty Vehicles (EURO IV) B1"},
        {0x0F, "Heavy Duty Vehicles (EURO V) B2"},
        {0x10, "Heavy Duty Vehicles (EURO EEV) C"},
    };
    return Lookup(kRequirements, field[0]);
}

std::string PowerTakeOffText(const std::uint8_t* field) {
    return Bit(field[0], 0) ? "Active" : "Inactive";
}

std::string NeutralDriveText(const std::uint8_t* field) {
    return Bit(field[0], 1) ? "Drive or reverse" : "Park or neutral";
}

std::string ManualGearText(const std::uint8_t* field) {
    return Bit(field[0], 2) ? "In gear" : "Neutral or clutch depressed";
}

std::string GlowPlugLampText(const std::uint8_t* field) {
    return Bit(field[0], 3) ? "On" : "Off";
}

std::string ControlStatusAText(const std::uint8_t* field) {
    return ControlStatusText(field[0]);
}

std::string ControlStatusBText(const std::uint8_t* field) {
    return ControlStatusText(static_cast<std::uint8_t>(field[0] >> 2));
}

std::string NteStatusText(const std::uint8_t* field) {
    static constexpr const char* kAreas[4] = {"Inside control area", "Outside control area",
                                              "Inside manufacturer carve-out area",
                                              "Deficiency active area"};
    std::vector<std::string> set;
    for (int bit = 0; bit < 4; ++bit) {
        if (Bit(field[0], bit)) {
            set.emplace_back(kAreas[bit]);
        }
    }
    return Join(set);
}

}  // namespace obd::j1979::detail
