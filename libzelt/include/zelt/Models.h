#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "obd/MeasurementUnit.h"
#include "obd/ParameterIdentifier.h"
#include "zelt/Export.h"

// The records the repositories hand to the application. Each is an immutable
// plain structure: every data member is const, so a record never changes
// after it is built and any number of threads may read one at the same time.
// Records travel as std::shared_ptr and are shared between a repository's
// cache and every caller that received them; a record stays valid for as long
// as anyone holds it.
//
// Const members rule out assignment, and they make moving a copy: a
// moved-from record keeps all its values.
//
// The field-wise constructors are inline and belong to the caller; the copy
// and move constructors and the destructors are exported.

namespace zelt {

// Which item of vehicle or ECU information an InfoDataModel is: its `id`,
// as EcuRepository assigns it. The first four come from the adapter and the
// ECU's own answers; the others are SAE J1979 service 09 information types.
enum class InfoItem : std::int32_t {
    ObdRequirements = 0,
    Protocol = 1,
    EcuName = 2,
    EcuDescription = 3,
    VehicleIdentificationNumber = 4,
    CalibrationIdentification = 5,      // one item per calibration id
    CalibrationVerificationNumber = 6,  // one item per number
    EngineSerialNumber = 7,
    ExhaustRegulationOrTypeApprovalNumber = 8,
    GtrNumber = 9,  // WWH-OBD GTR number
    FueledEngineOperationIgnitionCycleCounter = 10,
    CertificationTestGroup = 11,  // or engine family number
    DistanceTraveledSinceEvapMonitoringDecision = 12,
    MotorcycleCategoryTypeApproval = 13,
};

// One labelled line of vehicle or ECU information; `id` is an InfoItem.
struct InfoDataModel {
    // An item from its fields.
    InfoDataModel(std::int32_t id, std::string name, std::string value, bool fromVehicle)
        : id(id), name(std::move(name)), value(std::move(value)), fromVehicle(fromVehicle) {}
    // A copy of `other`.
    ZELT_API InfoDataModel(const InfoDataModel& other);
    // NOLINTNEXTLINE(performance-noexcept-move-constructor): copies, may allocate
    ZELT_API InfoDataModel(InfoDataModel&& other);
    ZELT_API ~InfoDataModel();

    const std::int32_t id;    // the item's id (see above)
    const std::string name;   // the label shown to the user
    const std::string value;  // "Not supported by the vehicle" for an unsupported item
    // True when the vehicle reported the value for a supported information
    // type; false for ids 0-3 and for the not-supported placeholder.
    const bool fromVehicle;
};

// The two limits of a numeric sensor, taken over bit for bit from the core.
// Trivially copyable; nothing of it is exported.
struct SensorLimits {
    // Limits from their two values.
    constexpr SensorLimits(float minimum, float maximum) : minimum(minimum), maximum(maximum) {}

    const float minimum;  // the lowest value the sensor can report
    const float maximum;  // the highest value the sensor can report
};

// The value texts of one sensor.
struct SensorValueModel {
    // Five empty strings.
    ZELT_API SensorValueModel();
    // Value texts from their fields.
    SensorValueModel(std::string rawValue, std::string formattedValue, std::string formattedValue2,
                     std::string formattedValue3, std::string formattedValue4)
        : rawValue(std::move(rawValue)),
          formattedValue(std::move(formattedValue)),
          formattedValue2(std::move(formattedValue2)),
          formattedValue3(std::move(formattedValue3)),
          formattedValue4(std::move(formattedValue4)) {}
    // A copy of `other`.
    ZELT_API SensorValueModel(const SensorValueModel& other);
    // NOLINTNEXTLINE(performance-noexcept-move-constructor): copies, may allocate
    ZELT_API SensorValueModel(SensorValueModel&& other);
    ZELT_API ~SensorValueModel();

    const std::string rawValue;  // the core's first value text, unchanged
    // The core's first to fourth value texts formatted for display: the unit
    // appended, or a time split into hours, minutes and seconds.
    const std::string formattedValue;
    // The core's second value text, formatted (the lowest reading).
    const std::string formattedValue2;
    // The core's third value text, formatted (the highest reading).
    const std::string formattedValue3;
    // The core's fourth value text, formatted (the average reading).
    const std::string formattedValue4;
};

// One measured quantity of a parameter.
struct SensorModel {
    // A sensor from its fields.
    SensorModel(bool additional, std::int32_t uid, std::string name, MeasurementUnit unit,
                std::shared_ptr<SensorLimits> limits, std::shared_ptr<SensorValueModel> value)
        : additional(additional),
          uid(uid),
          name(std::move(name)),
          unit(unit),
          limits(std::move(limits)),
          value(std::move(value)) {}
    // A copy of `other`.
    ZELT_API SensorModel(const SensorModel& other);
    // NOLINTNEXTLINE(performance-noexcept-move-constructor): copies, may allocate
    ZELT_API SensorModel(SensorModel&& other);
    ZELT_API ~SensorModel();

    // False for the sensors of the four primary parameters (engine coolant
    // temperature, engine speed, vehicle speed, intake air temperature).
    const bool additional;
    const std::int32_t uid;                         // obd::Uid2Pid(uid) is the sensor's parameter
    const std::string name;                         // the sensor's name
    const MeasurementUnit unit;                     // the unit of the sensor's values
    const std::shared_ptr<SensorLimits> limits;     // null for a sensor that is not numeric
    const std::shared_ptr<SensorValueModel> value;  // null when the core gave no value
};

// One OBD parameter with its sensors in the core's order. `sensors` never
// holds a null element.
struct ParameterModel {
    // A parameter from its fields.
    ParameterModel(obd::ParameterIdentifier::Id pid, std::string name,
                   std::vector<std::shared_ptr<SensorModel>> sensors)
        : pid(pid), name(std::move(name)), sensors(std::move(sensors)) {}
    // A copy of `other`.
    ZELT_API ParameterModel(const ParameterModel& other);
    // NOLINTNEXTLINE(performance-noexcept-move-constructor): copies, may allocate
    ZELT_API ParameterModel(ParameterModel&& other);
    ZELT_API ~ParameterModel();

    const obd::ParameterIdentifier::Id pid;  // the parameter's identifier
    const std::string name;                  // the parameter's name
    // The parameter's sensors, never null.
    const std::vector<std::shared_ptr<SensorModel>> sensors;
};

// The state of the malfunction indicator lamp; also selects which distance or
// run time TroubleCodeRepository reports.
enum class MilStatus : std::int32_t {
    Off = 0,
    On = 1,
};

// Which trouble code list to read.
enum class TroubleCodeType : std::int32_t {
    Confirmed = 0,  // stored
    Pending = 1,
    Permanent = 2,
};

// True exactly when the sensor has limits.
// REQUIRES: sensor != nullptr.
ZELT_API bool IsNumeric(const std::shared_ptr<SensorModel>& sensor);

// True when at least one of the parameter's sensors is numeric.
// REQUIRES: parameter != nullptr.
ZELT_API bool IsNumeric(const std::shared_ptr<ParameterModel>& parameter);

}  // namespace zelt
