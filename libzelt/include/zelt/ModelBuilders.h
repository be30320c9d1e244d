#pragma once

#include <memory>
#include <string>
#include <vector>

#include "obd/ParameterDataModel.h"
#include "obd/ParameterIdentifier.h"
#include "obd/SensorDataModel.h"
#include "zelt/Export.h"
#include "zelt/Models.h"

// Builders that turn the core's parameter and sensor data into the records of
// zelt/Models.h, formatting every value text for display on the way: a unit
// name is appended, and the OBD time parameters (0x1F, 0x4D, 0x4E, 0x7F) are
// split into hours, minutes and seconds.
//
// The builders keep no state and may run on any number of threads at once.
// They never return null. Exceptions: a time parameter whose value text does
// not begin with a number throws std::invalid_argument, and one whose number
// does not fit (32 bits for 0x1F, 0x4D, 0x4E; 64 bits for 0x7F) throws
// std::out_of_range; nothing is built then.

namespace zelt {

namespace SensorModelBuilder {

// The sensor record. `additional` is false only for the sensor whose uid is
// that of parameter 0x05, 0x0C, 0x0D or 0x0F. The value record holds the
// core's first text raw and all four texts formatted.
// REQUIRES: data != nullptr.
ZELT_API std::shared_ptr<SensorModel> build(const std::shared_ptr<obd::SensorDataModel>& data);

}  // namespace SensorModelBuilder

namespace ParameterModelBuilder {

// The parameter record with every sensor built, in the core's order.
// REQUIRES: data != nullptr, and no element of data->sensors is null.
ZELT_API std::shared_ptr<ParameterModel> build(
    const std::shared_ptr<obd::ParameterDataModel>& data);

// A parameter record holding copies of the arguments; the sensor records are
// shared, not copied.
// REQUIRES: no element of `sensors` is null.
ZELT_API std::shared_ptr<ParameterModel> build(
    obd::ParameterIdentifier::Id pid, const std::string& name,
    const std::vector<std::shared_ptr<SensorModel>>& sensors);

}  // namespace ParameterModelBuilder

}  // namespace zelt
