#include "zelt/app/Scanner.h"

#include <algorithm>

#include "obd/IAnswerSnapshot.h"

namespace zelt::app {

namespace {

using obd::ParameterIdentifier::Id;

// Support bitmaps (0x00, 0x20, ...) say which parameters exist; they are no
// live data of their own.
bool IsSupportBitmap(Id pid) {
    const int value = static_cast<int>(pid);
    return obd::IsSupportId(value) && value <= 0xE0;
}

// Freeze frames are numbered from 0; the vehicle stores few, so the scan stops
// at the first frame without a trouble code.
constexpr int kMaxFreezeFrames = 8;

void ReadFreezeFrames(TroubleCodeRepository& codes, EcuReport& report) {
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

// The parameter's record holds its name and the values of the same answer:
// the scan was started on an empty cache, so they are read now, once, and
// together.
void ReadLiveData(ParameterRepository& parameters, EcuReport& report) {
    std::vector<Id> pids = parameters.getPids();
    pids.erase(std::remove_if(pids.begin(), pids.end(), IsSupportBitmap), pids.end());
    for (auto& parameter : parameters.getParametersOf(pids)) {
        if (parameter) {
            report.liveData.push_back(std::move(parameter));
        }
    }
}

// Makes `address` the ECU the repositories read from. The core tells the
// repositories of the change on its own thread, later; emptying their caches
// here keeps the previous ECU's records out of this one's report.
EcuReport ScanEcu(Session& session, std::uint32_t address) {
    EcuReport report;
    report.address = address;
    // First, as it reads the most PIDs and reads them together: the status
    // PIDs the other sections show are then answered from the snapshot.
    ReadLiveData(session.parameters(), report);
    std::vector<Id> livePids;
    for (const auto& parameter : report.liveData) {
        livePids.push_back(parameter->pid);
    }
    // Answered from the scan's snapshot: the same answers, decoded exactly.
    report.numbers = session.decodedNumbers(livePids);
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
    report.oxygenSensorMonitorsComplete = diagnostics.areOxygenSensorMonitorsComplete(false);
    for (auto location : diagnostics.getOxygenSensorLocations(false)) {
        report.oxygenSensors.push_back(
            {location, diagnostics.getOxygenSensorMonitors(location, false)});
    }
    report.performanceCounters = diagnostics.getPerformanceCounters(false);
    report.vehicleOperationData = diagnostics.getVehicleOperationData(false);

    report.testRoutines = session.routines().getTestRoutines(false);
    return report;
}

// The value of the first item with `id` that the vehicle reported itself.
std::string VehicleInfo(const EcuReport& ecu, InfoItem id, bool fromVehicle) {
    for (const auto& item : ecu.ecuInfo) {
        if (item->id == static_cast<std::int32_t>(id) && item->fromVehicle == fromVehicle) {
            return item->value;
        }
    }
    return {};
}

std::string Title(const Report& report) {
    if (!report.overAdapter) {
        return report.scenario + " (simulated)";
    }
    std::string title =
        (report.adapterIdentification ? *report.adapterIdentification : "unknown") + " adapter";
    title += ", " + (report.protocol.empty() ? "protocol unknown" : report.protocol);
    title += report.vin.empty() ? ", no VIN reported" : ", VIN " + report.vin;
    return title;
}

}  // namespace

Report Scan(Session& session, const std::vector<std::uint32_t>& ecus, bool overAdapter) {
    Report report;
    report.overAdapter = overAdapter;
    if (!overAdapter) {
        report.scenario = session.vehicleName();
    }
    report.answering = session.ecuAddresses();
    // Each datum is asked of the vehicle once for the whole report.
    const obd::SnapshotScope snapshot(session.root());
    for (std::uint32_t address : ecus.empty() ? report.answering : ecus) {
        session.selectEcu(address);
        report.ecus.push_back(ScanEcu(session, address));
    }
    for (const auto& ecu : report.ecus) {
        if (report.protocol.empty()) {
            report.protocol = VehicleInfo(ecu, InfoItem::Protocol, false);
        }
        if (report.vin.empty()) {
            report.vin = VehicleInfo(ecu, InfoItem::VehicleIdentificationNumber, true);
        }
    }

    auto& dongle = session.dongle();
    report.adapterName = dongle.getHardwareName();
    report.adapterDescription = dongle.getHardwareDescription();
    report.adapterIdentification = dongle.getHardwareIdentification();
    report.batteryVoltage = dongle.getBatteryVoltage(false);
    report.title = Title(report);
    return report;
}

void ClearTroubleCodes(Session& session, Report& report) {
    auto& codes = session.troubleCodes();
    for (auto& ecu : report.ecus) {
        session.selectEcu(ecu.address);
        ecu.codesCleared = true;
        ecu.clearAccepted = codes.resetTroubleCodes();
        ecu.confirmedAfterClear = codes.getConfirmedCodes(true);
        ecu.pendingAfterClear = codes.getPendingCodes(true);
        ecu.permanentAfterClear = codes.getPermanentCodes(true);
    }
}

}  // namespace zelt::app
