#pragma once

// The core's catalogue of trouble codes, independent of any vehicle.
//
// The titles are data under a licence of their own, read on first use from
// the file the environment variable ZELT_TROUBLE_CODES names, else from
// share/zelt/generic-trouble-codes.tsv of the install; without that file
// the catalogue is empty and a vehicle's codes are described by their SAE
// J2012 group ("Fuel and Air Metering (P01xx)").
//
// Thread safety: getTroubleCodes() may be called from any thread; the
// catalogue does not change once read. Ownership: every call returns new records
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
