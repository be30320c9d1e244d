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
    std::uint8_t frame = 0;
    std::shared_ptr<obd::DtcDataModel> troubleCode;
    std::vector<std::shared_ptr<ParameterModel>> parameters;
};

struct OxygenSensor {
    obd::OxygenSensorLocation location = obd::OxygenSensorLocation::Bank1Sensor1;
    std::vector<std::shared_ptr<obd::OxygenSensorMonitorDataModel>> tests;
};

using TroubleCodes = std::vector<std::shared_ptr<obd::DtcDataModel>>;

// What one ECU reported, as the repositories handed it out. The records are
// shared with the repositories' caches and never change.
struct EcuReport {
    std::uint32_t address = 0;

    std::vector<std::shared_ptr<InfoDataModel>> ecuInfo;

    std::shared_ptr<MilStatus> mil;
    std::shared_ptr<SensorModel> distanceSince;
    std::shared_ptr<SensorModel> runTimeSince;

    TroubleCodes confirmed;
    TroubleCodes pending;
    TroubleCodes permanent;
    std::vector<FreezeFrame> freezeFrames;

    // Present only after --clear-codes: the codes as the ECU reports them
    // once it was asked to clear them, and its answer.
    bool codesCleared = false;
    bool clearAccepted = false;
    TroubleCodes confirmedAfterClear;
    TroubleCodes pendingAfterClear;
    TroubleCodes permanentAfterClear;

    std::vector<std::shared_ptr<obd::ReadinessMonitorDataModel>> readinessSinceReset;
    std::vector<std::shared_ptr<obd::ReadinessMonitorDataModel>> readinessThisCycle;
    std::vector<std::shared_ptr<obd::DiagnosticMonitorDataModel>> monitorTests;
    bool oxygenSensorMonitorsComplete = false;
    std::vector<OxygenSensor> oxygenSensors;
    std::vector<std::shared_ptr<obd::PerformanceCounterDataModel>> performanceCounters;
    std::vector<std::shared_ptr<obd::VehicleOperationDataModel>> vehicleOperationData;
    std::vector<std::shared_ptr<obd::TestRoutineDataModel>> testRoutines;

    // Every supported parameter with the sensor values read for this scan.
    std::vector<std::shared_ptr<ParameterModel>> liveData;
    // The exact values of the live data and of the distance and run time
    // since the MIL changed, whose records hold display texts.
    DecodedNumbers numbers;
};

// One profile parameter as read for the report.
struct ProfileReading {
    std::string name;
    std::string unit;                           // as the profile gives it
    std::shared_ptr<ParameterModel> parameter;  // null when it had no value
    std::string missing;                        // why not, then
};

// What one profile ECU reported: its manufacturer data and its UDS codes.
struct ModuleReport {
    obd::ProfileEcu ecu;
    std::vector<ProfileReading> data;
    obd::ModuleCodes codes;
    // Present only after --clear-codes.
    bool codesCleared = false;
    obd::ModuleClearing clearing;
    obd::ModuleCodes codesAfterClear;
};

// Everything one scan read: each scanned ECU, then the adapter.
struct Report {
    // What was scanned: the simulated vehicle's name, or over an adapter the
    // adapter, protocol and VIN.
    std::string title;
    bool overAdapter = false;
    std::string scenario;                  // empty over an adapter
    std::string protocol;                  // empty when unknown
    std::string vin;                       // empty when the vehicle did not report one
    std::vector<std::uint32_t> answering;  // every ECU that answered
    std::vector<EcuReport> ecus;           // the scanned ones, in the vehicle's order
    std::string profile;                   // the profile file; empty without one
    std::vector<ModuleReport> modules;     // the profile's ECUs, in its order

    std::shared_ptr<std::string> adapterName;
    std::shared_ptr<std::string> adapterDescription;
    std::shared_ptr<std::string> adapterIdentification;
    std::shared_ptr<std::string> batteryVoltage;
};

// Display names shared by the text and JSON reports.
ZELT_APP_API std::string EcuAddressText(std::uint32_t address);
ZELT_APP_API std::string PidText(obd::ParameterIdentifier::Id pid);
ZELT_APP_API std::string LocationText(obd::OxygenSensorLocation location);
ZELT_APP_API std::string RoutineStatusText(obd::TestRoutineStatus status);
// A sensor's value as shown in `units`, or "-" when it has none.
ZELT_APP_API std::string SensorValueText(const SensorModel& sensor, UnitSystem units);

}  // namespace zelt::app
