#include "Scanner.h"

#include "zelt/ModelBuilders.h"

namespace zelt::scan {

namespace {

using obd::ParameterIdentifier::Id;

// Support bitmaps (0x00, 0x20, ...) say which parameters exist; they are no
// live data of their own.
bool IsSupportBitmap(Id pid) {
    const int value = static_cast<int>(pid);
    return value % 0x20 == 0 && value <= 0xE0;
}

// Freeze frames are numbered from 0; the vehicle stores few, so the scan stops
// at the first frame without a trouble code.
constexpr int kMaxFreezeFrames = 8;

void ReadFreezeFrames(TroubleCodeRepository& codes, Report& report) {
    for (int frame = 0; frame < kMaxFreezeFrames; ++frame) {
        const auto number = static_cast<std::uint8_t>(frame);
        FreezeFrame freezeFrame;
        freezeFrame.frame = number;
        freezeFrame.troubleCode = codes.getFreezeFrameTroubleCode(number, false);
        if (!freezeFrame.troubleCode) {
            break;
        }
        for (Id pid : codes.getFreezeFramePids(number, false)) {
            if (IsSupportBitmap(pid)) {
                continue;
            }
            if (auto parameter = codes.getFreezeFrameParameter(number, pid, false)) {
                freezeFrame.parameters.push_back(std::move(parameter));
            }
        }
        report.freezeFrames.push_back(std::move(freezeFrame));
    }
}

void ReadLiveData(ParameterRepository& parameters, Report& report) {
    for (Id pid : parameters.getPids()) {
        if (IsSupportBitmap(pid)) {
            continue;
        }
        const auto description = parameters.getParameter(pid);
        if (!description) {
            continue;
        }
        // The description names the parameter; the values are read now.
        report.liveData.push_back(
            ParameterModelBuilder::build(pid, description->name, parameters.getValues(pid, true)));
    }
}

}  // namespace

Report Scan(Session& session) {
    Report report;
    report.scenario = session.vehicleName();
    report.ecus = session.ecuAddresses();
    report.selectedEcu = session.selectedEcu();

    report.ecuInfo = session.ecu().getEcuInfo(false);

    auto& codes = session.troubleCodes();
    report.mil = codes.getMilStatus(false);
    const MilStatus since = report.mil ? *report.mil : MilStatus::Off;
    report.distanceSince = codes.getDistanceSince(since, false);
    report.runTimeSince = codes.getRuntimeSince(since, false);
    report.confirmed = codes.getConfirmedCodes(false);
    report.pending = codes.getPendingCodes(false);
    report.permanent = codes.getPermanentCodes(false);
    ReadFreezeFrames(codes, report);

    auto& diagnostics = session.diagnostics();
    report.readinessSinceReset = diagnostics.getReadinessMonitorsSinceReset(false);
    report.readinessThisCycle = diagnostics.getReadinessMonitorsThisCycle(false);
    report.monitorTests = diagnostics.getDiagnosticMonitors(false);
    report.oxygenSensorMonitorsComplete = diagnostics.areOxygenSensorMonitorsComplete(true);
    for (auto location : diagnostics.getOxygenSensorLocations(false)) {
        report.oxygenSensors.push_back(
            {location, diagnostics.getOxygenSensorMonitors(location, false)});
    }
    report.performanceCounters = diagnostics.getPerformanceCounters(false);
    report.vehicleOperationData = diagnostics.getVehicleOperationData(false);

    report.testRoutines = session.routines().getTestRoutines(false);

    ReadLiveData(session.parameters(), report);

    auto& dongle = session.dongle();
    report.adapterName = dongle.getHardwareName();
    report.adapterDescription = dongle.getHardwareDescription();
    report.adapterIdentification = dongle.getHardwareIdentification();
    report.batteryVoltage = dongle.getBatteryVoltage(false);
    return report;
}

void ClearTroubleCodes(Session& session, Report& report) {
    auto& codes = session.troubleCodes();
    report.codesCleared = true;
    report.clearAccepted = codes.resetTroubleCodes();
    report.confirmedAfterClear = codes.getConfirmedCodes(true);
    report.pendingAfterClear = codes.getPendingCodes(true);
    report.permanentAfterClear = codes.getPermanentCodes(true);
}

}  // namespace zelt::scan
