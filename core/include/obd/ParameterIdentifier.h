#pragma once

// The parameter identifiers (SAE J1979 service 01 PIDs) and the conversion
// between them and the core's integer sensor ids.
//
// Thread safety: Pid2Uid() and Uid2Pid() are pure functions and may be called
// from any thread.

#include <cstdint>

#include "Export.h"

namespace obd {

namespace ParameterIdentifier {

// A parameter of the vehicle. Values 0x00 to 0xFF are the SAE J1979 service 01
// parameter numbers; any number in that range is a valid Id, the named ones are
// those the library and its tools refer to. BatteryVoltage (0xF4) is the
// core's own parameter: the adapter's reading of the supply voltage.
enum class Id : std::int32_t {
    SupportedPids01To20 = 0x00,
    MonitorStatus = 0x01,
    FreezeFrameTroubleCode = 0x02,
    FuelSystemStatus = 0x03,
    CalculatedEngineLoad = 0x04,
    EngineCoolantTemperature = 0x05,
    ShortTermFuelTrimBank1 = 0x06,
    LongTermFuelTrimBank1 = 0x07,
    ShortTermFuelTrimBank2 = 0x08,
    LongTermFuelTrimBank2 = 0x09,
    FuelPressure = 0x0A,
    IntakeManifoldPressure = 0x0B,
    EngineSpeed = 0x0C,
    VehicleSpeed = 0x0D,
    TimingAdvance = 0x0E,
    IntakeAirTemperature = 0x0F,
    MassAirFlowRate = 0x10,
    ThrottlePosition = 0x11,
    CommandedSecondaryAirStatus = 0x12,
    OxygenSensorsPresent2Banks = 0x13,
    OxygenSensor1 = 0x14,
    OxygenSensor2 = 0x15,
    OxygenSensor3 = 0x16,
    OxygenSensor4 = 0x17,
    OxygenSensor5 = 0x18,
    OxygenSensor6 = 0x19,
    OxygenSensor7 = 0x1A,
    OxygenSensor8 = 0x1B,
    ObdStandard = 0x1C,
    OxygenSensorsPresent4Banks = 0x1D,
    AuxiliaryInputStatus = 0x1E,
    RunTimeSinceEngineStart = 0x1F,
    SupportedPids21To40 = 0x20,
    DistanceWithMilOn = 0x21,
    FuelRailPressureRelative = 0x22,
    FuelRailGaugePressure = 0x23,
    CommandedEgr = 0x2C,
    EgrError = 0x2D,
    CommandedEvaporativePurge = 0x2E,
    FuelTankLevel = 0x2F,
    WarmUpsSinceCodesCleared = 0x30,
    DistanceSinceCodesCleared = 0x31,
    EvapSystemVaporPressure = 0x32,
    AbsoluteBarometricPressure = 0x33,
    CatalystTemperatureBank1Sensor1 = 0x3C,
    CatalystTemperatureBank2Sensor1 = 0x3D,
    CatalystTemperatureBank1Sensor2 = 0x3E,
    CatalystTemperatureBank2Sensor2 = 0x3F,
    SupportedPids41To60 = 0x40,
    MonitorStatusThisDriveCycle = 0x41,
    ControlModuleVoltage = 0x42,
    AbsoluteLoadValue = 0x43,
    CommandedEquivalenceRatio = 0x44,
    RelativeThrottlePosition = 0x45,
    AmbientAirTemperature = 0x46,
    AcceleratorPedalPositionD = 0x49,
    AcceleratorPedalPositionE = 0x4A,
    CommandedThrottleActuator = 0x4C,
    TimeRunWithMilOn = 0x4D,
    TimeSinceCodesCleared = 0x4E,
    FuelType = 0x51,
    EthanolFuelPercent = 0x52,
    EngineOilTemperature = 0x5C,
    FuelInjectionTiming = 0x5D,
    EngineFuelRate = 0x5E,
    SupportedPids61To80 = 0x60,
    DriverDemandEngineTorque = 0x61,
    ActualEngineTorque = 0x62,
    EngineReferenceTorque = 0x63,
    EngineRunTime = 0x7F,
    BatteryVoltage = 0xF4,
};

}  // namespace ParameterIdentifier

// A sensor's unique id is its parameter's number times 256 plus the sensor's
// position within the parameter, so the first sensor of a parameter carries
// the parameter's own uid and every sensor maps back to its parameter.
OBD_API int Pid2Uid(ParameterIdentifier::Id pid);
// The parameter a core sensor id (see Pid2Uid()) belongs to.
OBD_API ParameterIdentifier::Id Uid2Pid(int uid);

// SAE J1979's support ids: PID, monitor id, test id or information type
// 0x00, 0x20, 0x40 ... asks which of the next kSupportIdStep ids the ECU
// supports (a 32-bit bitmap whose last bit announces the next bitmap). They
// name no datum of their own.
constexpr int kSupportIdStep = 0x20;
// Whether `id` is one of the support ids (0x00, 0x20, 0x40 ...).
constexpr bool IsSupportId(int id) {
    return id % kSupportIdStep == 0;
}

}  // namespace obd
