#pragma once

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
    virtual bool isParameterSupported(ParameterIdentifier::Id pid) = 0;

    // Texts, empty when the ECU does not report them.
    virtual std::string readStandard() = 0;
    virtual std::string readProtocol() = 0;
    virtual std::string readEcuName() = 0;
    virtual std::string readEcuDescription() = 0;

    virtual bool isVinSupported() = 0;
    virtual std::string readVin() = 0;
    virtual bool isCalidSupported() = 0;
    virtual std::vector<std::string> readCalids() = 0;
    virtual bool isCvnSupported() = 0;
    virtual std::vector<std::string> readCvns() = 0;
    virtual bool isEsnSupported() = 0;
    virtual std::string readEsn() = 0;
    virtual bool isErotanSupported() = 0;
    virtual std::string readErotan() = 0;
    virtual bool isGtrNumberSupported() = 0;
    virtual std::string readGtrNumber() = 0;
    virtual bool isFueledEngineOperationSupported() = 0;
    virtual std::string readFueledEngineOperation() = 0;
    virtual bool isCertificationTestGroupSupported() = 0;
    virtual std::string readCertificationTestGroup() = 0;
    virtual bool isDistanceTraveledSinceEvapSupported() = 0;
    virtual std::string readDistanceTraveledSinceEvap() = 0;
    virtual bool isMotorcycleCategoryTypeApprovalSupported() = 0;
    virtual std::string readMotorcycleCategoryTypeApproval() = 0;
};

}  // namespace obd
