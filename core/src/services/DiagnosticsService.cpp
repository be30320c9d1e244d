#include <array>

#include "j1979/Codec.h"
#include "j1979/InfoTypes.h"
#include "j1979/ReadinessMonitors.h"
#include "j1979/VehicleOperationData.h"
#include "services/SensorStatistics.h"
#include "services/Services.h"

namespace obd::detail {

namespace {

constexpr std::uint8_t kMonitorStatus = 0x01;
constexpr std::uint8_t kMonitorStatusThisCycle = 0x41;
constexpr std::uint8_t kOxygenSensors2Banks = 0x13;
constexpr std::uint8_t kOxygenSensors4Banks = 0x1D;
constexpr std::size_t kTestRecordSize = 9;
constexpr int kOxygenSensorMonitorBit = 5;  // byte C/D: oxygen sensor (spark) or exhaust gas sensor

std::string TestName(std::uint8_t testId) {
    // Test ids 01 to 0A are the standard oxygen sensor tests; the rest are
    // the manufacturer's.
    static const std::array<const char*, 10> kStandard = {
        "Rich to lean sensor threshold voltage",
        "Lean to rich sensor threshold voltage",
        "Low sensor voltage for switch time calculation",
        "High sensor voltage for switch time calculation",
        "Rich to lean sensor switch time",
        "Lean to rich sensor switch time",
        "Minimum sensor voltage for test cycle",
        "Maximum sensor voltage for test cycle",
        "Time between sensor transitions",
        "Sensor period"};
    if (testId >= 0x01 && testId <= 0x0A) {
        return kStandard[testId - 1];
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "Test 0x%02X", static_cast<unsigned>(testId));
    return buffer;
}

std::shared_ptr<ReadinessMonitorDataModel> Monitor(const char* name, bool supported,
                                                   bool incomplete) {
    auto monitor = std::make_shared<ReadinessMonitorDataModel>();
    monitor->name = name;
    monitor->supported = supported;
    monitor->complete = supported && !incomplete;
    return monitor;
}

// In-use performance tracking: the two general counters, then numerator
// and denominator pairs, in the order service 09 sends them.
const std::vector<const char*> kSparkCounters = {"Catalyst Monitor Bank 1",
                                                 "Catalyst Monitor Bank 2",
                                                 "Oxygen Sensor Monitor Bank 1",
                                                 "Oxygen Sensor Monitor Bank 2",
                                                 "EGR and/or VVT Monitor",
                                                 "Secondary Air Monitor",
                                                 "EVAP Monitor",
                                                 "Secondary Oxygen Sensor Monitor Bank 1",
                                                 "Secondary Oxygen Sensor Monitor Bank 2"};
const std::vector<const char*> kCompressionCounters = {
    "NMHC Catalyst Monitor",      "NOx/SCR Catalyst Monitor",
    "NOx Adsorber Monitor",       "PM Filter Monitor",
    "Exhaust Gas Sensor Monitor", "EGR and/or VVT Monitor",
    "Boost Pressure Monitor",     "Fuel Monitor"};

}  // namespace

DiagnosticsService::DiagnosticsService(std::shared_ptr<VehicleConnection> connection)
    : client_(std::move(connection)) {}

std::vector<std::uint8_t> DiagnosticsService::getSupportedMonitorIds() {
    const std::set<std::uint8_t> mids = client_.supported(client_.selectedEcu(), 0x06);
    return std::vector<std::uint8_t>(mids.begin(), mids.end());
}

std::vector<std::shared_ptr<ReadinessMonitorDataModel>> DiagnosticsService::readiness(
    std::uint8_t pid) {
    std::vector<std::shared_ptr<ReadinessMonitorDataModel>> monitors;
    std::optional<Bytes> data = client_.currentData(client_.selectedEcu(), pid);
    if (!data || data->size() != 4) {
        return monitors;
    }
    const std::uint8_t b = (*data)[1];
    const std::uint8_t c = (*data)[2];
    const std::uint8_t d = (*data)[3];
    const auto& continuous = j1979::ContinuousMonitors();
    for (std::size_t i = 0; i < continuous.size(); ++i) {
        monitors.push_back(Monitor(continuous[i].name, (b >> i & 1) != 0, (b >> (i + 4) & 1) != 0));
    }
    const auto& nonContinuous = j1979::NonContinuousMonitors(j1979::IgnitionOf(b));
    for (std::size_t i = 0; i < nonContinuous.size(); ++i) {
        if (nonContinuous[i].name != nullptr) {
            monitors.push_back(
                Monitor(nonContinuous[i].name, (c >> i & 1) != 0, (d >> i & 1) != 0));
        }
    }
    return monitors;
}

std::vector<std::shared_ptr<ReadinessMonitorDataModel>>
DiagnosticsService::getReadinessMonitorsSinceReset() {
    return readiness(kMonitorStatus);
}

std::vector<std::shared_ptr<ReadinessMonitorDataModel>>
DiagnosticsService::getReadinessMonitorsThisCycle() {
    return readiness(kMonitorStatusThisCycle);
}

std::vector<std::shared_ptr<DiagnosticMonitorDataModel>> DiagnosticsService::monitorResults(
    std::uint32_t ecu, std::uint8_t mid) {
    std::vector<std::shared_ptr<DiagnosticMonitorDataModel>> results;
    // Every 9-byte record of the answer repeats the MID.
    std::optional<Bytes> answer = client_.testResults(ecu, mid);
    if (!answer) {
        return results;
    }
    for (std::size_t offset = 0; offset + kTestRecordSize <= answer->size();
         offset += kTestRecordSize) {
        // A record whose unit and scaling id is unknown comes back unscaled.
        const j1979::MonitorTestResult decoded =
            j1979::DecodeMonitorTestResult(answer->data() + offset, kTestRecordSize);
        auto result = std::make_shared<DiagnosticMonitorDataModel>();
        result->monitorId = decoded.monitorId;
        result->testId = decoded.testId;
        result->monitorName = j1979::MonitorName(decoded.monitorId);
        result->testName = TestName(decoded.testId);
        result->unitAndScalingId = decoded.unitAndScalingId;
        result->unit = decoded.unit;
        result->value = decoded.value;
        result->minimum = decoded.minimum;
        result->maximum = decoded.maximum;
        result->passed = decoded.minimum <= decoded.value && decoded.value <= decoded.maximum;
        results.push_back(std::move(result));
    }
    return results;
}

std::vector<std::shared_ptr<DiagnosticMonitorDataModel>>
DiagnosticsService::getDiagnosticMonitors() {
    std::vector<std::shared_ptr<DiagnosticMonitorDataModel>> results;
    const std::uint32_t ecu = client_.selectedEcu();
    for (std::uint8_t mid : client_.supported(ecu, 0x06)) {
        for (auto& result : monitorResults(ecu, mid)) {
            results.push_back(std::move(result));
        }
    }
    return results;
}

std::vector<std::shared_ptr<PerformanceCounterDataModel>>
DiagnosticsService::getPerformanceCounters() {
    std::vector<std::shared_ptr<PerformanceCounterDataModel>> counters;
    const std::uint32_t ecu = client_.selectedEcu();
    const std::set<std::uint8_t> types = client_.supported(ecu, 0x09);
    const bool spark = types.count(info::kPerformanceSpark) != 0;
    if (!spark && types.count(info::kPerformanceCompression) == 0) {
        return counters;
    }
    auto item = client_.vehicleInformation(
        ecu, spark ? info::kPerformanceSpark : info::kPerformanceCompression);
    if (!item) {
        return counters;
    }
    const Bytes& data = item->second;
    const std::size_t values = std::min<std::size_t>(item->first, data.size() / 2);
    auto value = [&](std::size_t i) -> std::uint32_t {
        return i < values ? static_cast<std::uint32_t>(data[2 * i] << 8 | data[2 * i + 1]) : 0;
    };
    const char* general[] = {"OBD Monitoring Conditions Encountered", "Ignition Cycles"};
    for (std::size_t i = 0; i < 2 && i < values; ++i) {
        auto counter = std::make_shared<PerformanceCounterDataModel>();
        counter->name = general[i];
        counter->numerator = value(i);
        counters.push_back(std::move(counter));
    }
    const auto& names = spark ? kSparkCounters : kCompressionCounters;
    for (std::size_t i = 0; i < names.size() && 2 + 2 * i + 1 < values; ++i) {
        auto counter = std::make_shared<PerformanceCounterDataModel>();
        counter->name = names[i];
        counter->numerator = value(2 + 2 * i);
        counter->denominator = value(2 + 2 * i + 1);
        counters.push_back(std::move(counter));
    }
    return counters;
}

std::vector<OxygenSensorLocation> DiagnosticsService::getOxygenSensorLocations() {
    std::vector<OxygenSensorLocation> locations;
    const std::uint32_t ecu = client_.selectedEcu();
    const std::set<std::uint8_t> pids = client_.supported(ecu, 0x01);
    if (pids.count(kOxygenSensors2Banks) != 0) {
        // Bits 0-3: bank 1 sensors 1-4; bits 4-7: bank 2 sensors 1-4.
        std::optional<Bytes> data = client_.currentData(ecu, kOxygenSensors2Banks);
        if (data && data->size() == 1) {
            for (int bit = 0; bit < 8; ++bit) {
                if (((*data)[0] >> bit & 1) != 0) {
                    locations.push_back(static_cast<OxygenSensorLocation>(bit));
                }
            }
        }
    } else if (pids.count(kOxygenSensors4Banks) != 0) {
        // Two bits per bank, sensors 1 and 2.
        std::optional<Bytes> data = client_.currentData(ecu, kOxygenSensors4Banks);
        if (data && data->size() == 1) {
            for (int bit = 0; bit < 8; ++bit) {
                if (((*data)[0] >> bit & 1) != 0) {
                    locations.push_back(static_cast<OxygenSensorLocation>(bit / 2 * 4 + bit % 2));
                }
            }
        }
    }
    return locations;
}

std::vector<std::shared_ptr<OxygenSensorMonitorDataModel>>
DiagnosticsService::getOxygenSensorMonitors(OxygenSensorLocation location) {
    std::vector<std::shared_ptr<OxygenSensorMonitorDataModel>> monitors;
    const int index = static_cast<int>(location);
    if (index < 0 || index > 15) {
        return monitors;
    }
    // Monitor ids 01 to 10 are the oxygen sensor monitors, bank 1 sensor 1
    // first, in the order of the locations.
    for (const auto& result :
         monitorResults(client_.selectedEcu(), static_cast<std::uint8_t>(index + 1))) {
        auto monitor = std::make_shared<OxygenSensorMonitorDataModel>();
        monitor->location = location;
        monitor->testId = result->testId;
        monitor->name = result->testName;
        monitor->unit = result->unit;
        monitor->value = result->value;
        monitor->minimum = result->minimum;
        monitor->maximum = result->maximum;
        monitor->passed = result->passed;
        monitors.push_back(std::move(monitor));
    }
    return monitors;
}

bool DiagnosticsService::areOxygenSensorMonitorsComplete() {
    std::optional<Bytes> data = client_.currentData(client_.selectedEcu(), kMonitorStatus);
    if (!data || data->size() != 4) {
        return false;
    }
    const bool supported = ((*data)[2] >> kOxygenSensorMonitorBit & 1) != 0;
    const bool incomplete = ((*data)[3] >> kOxygenSensorMonitorBit & 1) != 0;
    return supported && !incomplete;
}

std::shared_ptr<VehicleOperationDataModel> DiagnosticsService::vehicleOperationData(
    std::uint8_t type) {
    const VodRecord* record = FindVodRecord(type);
    const std::uint32_t ecu = client_.selectedEcu();
    if (record == nullptr || client_.supported(ecu, 0x09).count(type) == 0) {
        return nullptr;
    }
    auto item = client_.vehicleInformation(ecu, type);
    if (!item) {
        return nullptr;
    }
    const Bytes& data = item->second;
    auto model = std::make_shared<VehicleOperationDataModel>();
    model->name = record->name;
    for (std::size_t i = 0;
         i < record->fields.size() && i < item->first && 4 * i + 4 <= data.size(); ++i) {
        const std::uint32_t raw = static_cast<std::uint32_t>(data[4 * i]) << 24 |
                                  static_cast<std::uint32_t>(data[4 * i + 1]) << 16 |
                                  static_cast<std::uint32_t>(data[4 * i + 2]) << 8 |
                                  data[4 * i + 3];
        const VodField& field = record->fields[i];
        const int decimals = field.scale >= 1 ? 0 : field.scale >= 0.1 ? 1 : 2;
        model->entries.push_back(
            {field.label, FormatNumber(raw * field.scale, decimals), field.unit});
    }
    return model;
}

std::shared_ptr<VehicleOperationDataModel> DiagnosticsService::getVodEngineRunIdleTime() {
    return vehicleOperationData(info::kVodEngineRunIdleTime);
}

std::shared_ptr<VehicleOperationDataModel> DiagnosticsService::getVodFuelDistanceUsed() {
    return vehicleOperationData(info::kVodFuelDistanceUsed);
}

std::shared_ptr<VehicleOperationDataModel> DiagnosticsService::getVodPkeEoe() {
    return vehicleOperationData(info::kVodPkeEoe);
}

std::shared_ptr<VehicleOperationDataModel> DiagnosticsService::getVodPsa() {
    return vehicleOperationData(info::kVodPsa);
}

}  // namespace obd::detail
