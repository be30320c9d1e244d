#pragma once

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
