#pragma once

// The sensor service: live data of the selected ECU (service 01) and the
// adapter's own readings.
//
// Thread safety: every operation may be called from any thread; requests to
// the vehicle are serialised by the connection, and the service keeps no
// cache of values. A closed connection reads as no data.
//
// Ownership: built from the root and a connection service by
// SensorServiceBuilder; it keeps the connection alive. Every call returns new
// records that belong to the caller.

#include <memory>
#include <vector>

#include "Export.h"
#include "ParameterDataModel.h"
#include "ParameterIdentifier.h"
#include "SensorDataModel.h"

namespace obd {

// Live data of the selected ECU (service 01) and the adapter's own readings
// (ParameterIdentifier::Id::BatteryVoltage).
class OBD_API ISensorService {
public:
    virtual ~ISensorService();

    // Reads several parameters at once, in the order asked; parameters the
    // vehicle lacks are left out.
    virtual std::vector<std::shared_ptr<ParameterDataModel>> readParameters(
        const std::vector<ParameterIdentifier::Id>& pids) = 0;
    // The parameters the vehicle offers; empty when none.
    virtual std::vector<ParameterIdentifier::Id> getPids() = 0;
    // The parameter read now; null when the vehicle has no such parameter.
    virtual std::shared_ptr<ParameterDataModel> getParameter(ParameterIdentifier::Id pid) = 0;
    // The parameter's sensors read now; empty when there are none.
    virtual std::vector<std::shared_ptr<SensorDataModel>> getSensors(
        ParameterIdentifier::Id pid) = 0;
    // True when the vehicle offers `pid`.
    virtual bool isSupported(ParameterIdentifier::Id pid) = 0;
};

}  // namespace obd
