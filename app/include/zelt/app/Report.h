#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "obd/DiagnosticsDataModels.h"
#include "obd/DtcDataModel.h"
#include "obd/IProfileHost.h"
#include "obd/TestRoutineDataModel.h"
#include "zelt/Models.h"
#include "zelt/app/Export.h"
#include "zelt/app/Units.h"

namespace zelt::app {

// One freeze frame: the code that caused it and the parameters it stored.
struct FreezeFrame {
    std::uint8_t frame = 0;                                   // its number (service 02)
    std::shared_ptr<obd::DtcDataModel> troubleCode;           // the code that stored it
    std::vector<std::shared_ptr<ParameterModel>> parameters;  // what it stored
};

// The service 05 test results of one oxygen sensor.
struct OxygenSensor {
    obd::OxygenSensorLocation location =
        obd::OxygenSensorLocation::Bank1Sensor1;                            // its bank and place
    std::vector<std::shared_ptr<obd::OxygenSensorMonitorDataModel>> tests;  // its results
};

using TroubleCodes = std::vector<std::shared_ptr<obd::DtcDataModel>>;

// What one ECU reported, as the repositories handed it out. The records are
// shared with the repositories' caches and never change.
struct EcuReport {
    std::uint32_t address = 0;  // its response address

    std::vector<std::shared_ptr<InfoDataModel>> ecuInfo;  // VIN, calibration ids, ...

    std::shared_ptr<MilStatus> mil;              // the lamp and the number of codes
    std::shared_ptr<SensorModel> distanceSince;  // since the MIL came on
    std::shared_ptr<SensorModel> runTimeSince;   // since the MIL came on

    TroubleCodes confirmed;                 // service 03
    TroubleCodes pending;                   // service 07
    TroubleCodes permanent;                 // service 0A
    std::vector<FreezeFrame> freezeFrames;  // service 02

    // Present only after --clear-codes: the codes as the ECU reports them
    // once it was asked to clear them, and its answer.
    bool codesCleared = false;
    bool clearAccepted = false;        // the ECU's answer to service 04
    TroubleCodes confirmedAfterClear;  // service 03, after the clearing
    TroubleCodes pendingAfterClear;    // service 07, after the clearing
    TroubleCodes permanentAfterClear;  // service 0A, after the clearing

    // The readiness monitors since the codes were cleared (PID 01).
    std::vector<std::shared_ptr<obd::ReadinessMonitorDataModel>> readinessSinceReset;
    // The readiness monitors of this driving cycle (PID 41).
    std::vector<std::shared_ptr<obd::ReadinessMonitorDataModel>> readinessThisCycle;
    // The on-board monitor test results (service 06).
    std::vector<std::shared_ptr<obd::DiagnosticMonitorDataModel>> monitorTests;
    bool oxygenSensorMonitorsComplete = false;  // service 05 answered in full
    std::vector<OxygenSensor> oxygenSensors;    // service 05, per sensor
    // In-use performance tracking (service 09).
    std::vector<std::shared_ptr<obd::PerformanceCounterDataModel>> performanceCounters;
    // Engine run time and idle counters (service 09).
    std::vector<std::shared_ptr<obd::VehicleOperationDataModel>> vehicleOperationData;
    // The test routines the ECU offers (service 08).
    std::vector<std::shared_ptr<obd::TestRoutineDataModel>> testRoutines;

    // Every supported parameter with the sensor values read for this scan.
    std::vector<std::shared_ptr<ParameterModel>> liveData;
    // The exact values of the live data and of the distance and run time
    // since the MIL changed, whose records hold display texts.
    DecodedNumbers numbers;
};

// One profile parameter as read for the report.
struct ProfileReading {
    std::string name;                           // the profile's name for it
    std::string unit;                           // as the profile gives it
    std::shared_ptr<ParameterModel> parameter;  // null when it had no value
    std::string missing;                        // why not, then
};

// What one profile ECU reported: its manufacturer data and its UDS codes.
struct ModuleReport {
    obd::ProfileEcu ecu;               // the module as the profile names it
    std::vector<ProfileReading> data;  // its parameters, in the profile's order
    obd::ModuleCodes codes;            // its UDS trouble codes
    // Present only after --clear-codes.
    bool codesCleared = false;
    obd::ModuleClearing clearing;      // its answer to the clearing
    obd::ModuleCodes codesAfterClear;  // its codes once cleared
};

// Everything one scan read: each scanned ECU, then the adapter.
struct Report {
    // What was scanned: the simulated vehicle's name, or over an adapter the
    // adapter, protocol and VIN.
    std::string title;
    bool overAdapter = false;              // false: the simulated vehicle
    std::string scenario;                  // empty over an adapter
    std::string protocol;                  // empty when unknown
    std::string vin;                       // empty when the vehicle did not report one
    std::vector<std::uint32_t> answering;  // every ECU that answered
    std::vector<EcuReport> ecus;           // the scanned ones, in the vehicle's order
    std::string profile;                   // the profile file; empty without one
    std::vector<ModuleReport> modules;     // the profile's ECUs, in its order

    // The adapter as it names itself (ATI, AT@1, AT@2) and the battery
    // voltage it measures (ATRV); null when it did not say.
    std::shared_ptr<std::string> adapterName;
    std::shared_ptr<std::string> adapterDescription;     // see adapterName
    std::shared_ptr<std::string> adapterIdentification;  // see adapterName
    std::shared_ptr<std::string> batteryVoltage;         // see adapterName
};

// Display names shared by the text and JSON reports.
ZELT_APP_API std::string EcuAddressText(std::uint32_t address);
ZELT_APP_API std::string PidText(obd::ParameterIdentifier::Id pid);
ZELT_APP_API std::string LocationText(obd::OxygenSensorLocation location);
ZELT_APP_API std::string RoutineStatusText(obd::TestRoutineStatus status);
// A sensor's value as shown in `units`, or "-" when it has none; `ownUnit`
// as for Present().
ZELT_APP_API std::string SensorValueText(const SensorModel& sensor, UnitSystem units,
                                         const std::string& ownUnit = {});

}  // namespace zelt::app
