#include "j1979/VehicleOperationData.h"

namespace obd::detail {

const std::vector<VodRecord>& VodRecords() {
    static const std::vector<VodRecord> records = {
        {0x41,
         "engineRunIdleTime",
         "Engine Run Time and Idle Time",
         {{"Total engine run time", MeasurementUnit::Second, 1},
          {"Total idle run time", MeasurementUnit::Second, 1},
          {"Total run time with PTO active", MeasurementUnit::Second, 1}}},
        {0x42,
         "fuelDistanceUsed",
         "Fuel and Distance Used",
         {{"Total distance traveled", MeasurementUnit::Kilometer, 0.1},
          {"Total fuel consumed", MeasurementUnit::Liter, 0.01}}},
        {0x43,
         "pkeEoe",
         "Positive Kinetic Energy and Engine Output Energy",
         {{"Positive kinetic energy", MeasurementUnit::Kilojoule, 1},
          {"Engine output energy", MeasurementUnit::Kilojoule, 1}}},
        {0x44,
         "psa",
         "Propulsion System Active Time",
         {{"Total propulsion system active time", MeasurementUnit::Second, 1},
          {"Idle propulsion system active time", MeasurementUnit::Second, 1},
          {"Urban propulsion system active time", MeasurementUnit::Second, 1}}},
    };
    return records;
}

const VodRecord* FindVodRecord(std::uint8_t infoType) {
    for (const VodRecord& record : VodRecords()) {
        if (record.infoType == infoType) {
            return &record;
        }
    }
    return nullptr;
}

}  // namespace obd::detail
