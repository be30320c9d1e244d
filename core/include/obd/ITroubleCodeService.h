#pragma once

// The trouble code service: stored, pending and permanent codes, the
// malfunction indicator lamp, freeze frames and clearing the codes of the
// selected ECU.
//
// Thread safety: every operation may be called from any thread; requests to
// the vehicle are serialised by the connection, and the service keeps no
// cache. A closed connection reads as no data.
//
// Ownership: built from the root and a connection service by
// TroubleCodeServiceBuilder; it keeps the connection alive. Every call returns
// new records that belong to the caller.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DtcDataModel.h"
#include "Export.h"
#include "ParameterDataModel.h"
#include "ParameterIdentifier.h"

namespace obd {

// Trouble codes and freeze frames of the selected ECU (services 01, 02, 03,
// 04, 07 and 0A).
class OBD_API ITroubleCodeService {
public:
    virtual ~ITroubleCodeService();

    // The description the core knows for a code such as "P0301"; empty if none.
    virtual std::string describeTroubleCode(const std::string& code) = 0;

    // The stored (confirmed) codes (service 03).
    virtual std::vector<std::shared_ptr<DtcDataModel>> readConfirmedCodes() = 0;
    // The pending codes (service 07).
    virtual std::vector<std::shared_ptr<DtcDataModel>> readPendingCodes() = 0;
    // The permanent codes (service 0A).
    virtual std::vector<std::shared_ptr<DtcDataModel>> readPermanentCodes() = 0;
    // Zero when the lamp is off, non-zero when on; null when unreadable.
    virtual std::shared_ptr<std::int32_t> readMilIndicator() = 0;
    // The number of confirmed codes the ECU reports; null when unreadable.
    virtual std::shared_ptr<std::int32_t> readTroubleCodeCount() = 0;
    // The number of freeze frames the ECU holds.
    virtual std::uint8_t readFreezeFrameCount() = 0;
    // The code that caused the frame to be stored; null when none.
    virtual std::shared_ptr<DtcDataModel> readFreezeFrameTroubleCode(std::uint8_t frame) = 0;
    // The parameters stored in the frame; empty when none.
    virtual std::vector<ParameterIdentifier::Id> readFreezeFramePids(std::uint8_t frame) = 0;
    // The parameter as stored in the frame; null when none.
    virtual std::shared_ptr<ParameterDataModel> readFreezeFrameParameter(
        std::uint8_t frame, ParameterIdentifier::Id pid) = 0;
    // Clears the codes in the vehicle; true on success.
    virtual bool clearTroubleCodes() = 0;
};

}  // namespace obd
