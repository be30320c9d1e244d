#pragma once

// The core's catalogue of trouble codes, independent of any vehicle.
//
// Thread safety: getTroubleCodes() may be called from any thread; the
// catalogue is a constant table. Ownership: every call returns new records
// that belong to the caller.

#include <memory>
#include <vector>

#include "DtcDataModel.h"
#include "Export.h"

namespace obd {

// The core's catalogue of trouble codes.
class OBD_API DtcReader {
public:
    // Every trouble code the core knows a description for, in code order, as
    // records with status DtcStatus::Known. Independent of any vehicle.
    static std::vector<std::shared_ptr<DtcDataModel>> getTroubleCodes();
};

}  // namespace obd
