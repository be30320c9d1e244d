#pragma once

#include <cstdint>
#include <vector>

#include "obd/MeasurementUnit.h"

namespace obd::detail {

// The vehicle operation data records as this core carries them in service
// 09: info types 0x41 to 0x44, each a count byte followed by that many
// unsigned 32-bit numbers, scaled as the fields below say.
struct VodField {
    const char* label;
    MeasurementUnit unit;
    double scale;  // physical value of one count
};

struct VodRecord {
    std::uint8_t infoType;
    const char* key;   // scenario key
    const char* name;  // record name
    std::vector<VodField> fields;
};

const std::vector<VodRecord>& VodRecords();
const VodRecord* FindVodRecord(std::uint8_t infoType);

}  // namespace obd::detail
