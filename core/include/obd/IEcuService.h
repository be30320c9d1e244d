#pragma once

// The ECU service: identity and information of the selected ECU (services 01
// and 09).
//
// Thread safety: every operation may be called from any thread; requests to
// the vehicle are serialised by the connection, and the service keeps no
// cache. A closed connection reads as no data (empty texts and vectors,
// false).
//
// Ownership: built from the root and a connection service by
// EcuServiceBuilder; it keeps the connection alive. Every call returns new
// values and records that belong to the caller.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Export.h"
#include "ParameterDataModel.h"
#include "ParameterIdentifier.h"

namespace obd {

// Identity and information of the selected ECU (services 01 and 09). A read
// operation is meaningful only after its support test answered true.
class OBD_API IEcuService {
public:
    virtual ~IEcuService();

    // The addresses of every ECU that answered on this connection.
    virtual std::vector<std::uint32_t> getEcuAddresses() = 0;

    // Every parameter the ECU supports, read now.
    virtual std::vector<std::shared_ptr<ParameterDataModel>> readParameters() = 0;
    // True when the ECU supports `pid`.
    virtual bool isParameterSupported(ParameterIdentifier::Id pid) = 0;

    // Texts, empty when the ECU does not report them.
    virtual std::string readStandard() = 0;
    // The data link protocol's name, e.g. "ISO 15765-4 (CAN 11/500)".
    virtual std::string readProtocol() = 0;
    // The ECU's name, e.g. "ECM".
    virtual std::string readEcuName() = 0;
    // A description of the ECU.
    virtual std::string readEcuDescription() = 0;

    // True when the ECU reports the vehicle identification number.
    virtual bool isVinSupported() = 0;
    // The vehicle identification number.
    virtual std::string readVin() = 0;
    // True when the ECU reports calibration identifications.
    virtual bool isCalidSupported() = 0;
    // The calibration identifications.
    virtual std::vector<std::string> readCalids() = 0;
    // True when the ECU reports calibration verification numbers.
    virtual bool isCvnSupported() = 0;
    // The calibration verification numbers.
    virtual std::vector<std::string> readCvns() = 0;
    // True when the ECU reports the engine serial number.
    virtual bool isEsnSupported() = 0;
    // The engine serial number.
    virtual std::string readEsn() = 0;
    // True when the ECU reports the exhaust regulation or type approval number.
    virtual bool isErotanSupported() = 0;
    // The exhaust regulation or type approval number.
    virtual std::string readErotan() = 0;
    // True when the ECU reports the WWH-OBD GTR number.
    virtual bool isGtrNumberSupported() = 0;
    // The WWH-OBD GTR number.
    virtual std::string readGtrNumber() = 0;
    // True when the ECU reports the fueled engine operation ignition cycle counter.
    virtual bool isFueledEngineOperationSupported() = 0;
    // The fueled engine operation ignition cycle counter.
    virtual std::string readFueledEngineOperation() = 0;
    // True when the ECU reports the certification test group or engine family number.
    virtual bool isCertificationTestGroupSupported() = 0;
    // The certification test group or engine family number.
    virtual std::string readCertificationTestGroup() = 0;
    // True when the ECU reports the distance travelled since the evap monitoring decision.
    virtual bool isDistanceTraveledSinceEvapSupported() = 0;
    // The distance travelled since the evap monitoring decision.
    virtual std::string readDistanceTraveledSinceEvap() = 0;
    // True when the ECU reports the motorcycle category for type approval.
    virtual bool isMotorcycleCategoryTypeApprovalSupported() = 0;
    // The applicable motorcycle category for type approval.
    virtual std::string readMotorcycleCategoryTypeApproval() = 0;
};

}  // namespace obd
