#include <cstdio>

#include "bus/Hex.h"
#include "j1979/Responses.h"
#include "services/Services.h"

namespace obd::detail {

namespace {

struct RoutineName {
    const char* name;
    const char* description;
};

RoutineName NameOf(int id) {
    if (id == 0x01) {
        return {"Evaporative System Leak Test",
                "Closes the evaporative emission system and checks it for leaks"};
    }
    return {nullptr, "Manufacturer test routine"};
}

std::shared_ptr<TestRoutineDataModel> Available(int id) {
    auto record = std::make_shared<TestRoutineDataModel>();
    record->id = id;
    const RoutineName name = NameOf(id);
    if (name.name != nullptr) {
        record->name = name.name;
    } else {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "Test Routine 0x%02X", static_cast<unsigned>(id));
        record->name = buffer;
    }
    record->description = name.description;
    record->status = TestRoutineStatus::Available;
    return record;
}

}  // namespace

RoutineService::RoutineService(std::shared_ptr<VehicleConnection> connection)
    : client_(std::move(connection)) {}

bool RoutineService::isTestRoutineSupported(int id) {
    return id > 0 && id <= 0xFF &&
           client_.supported(client_.selectedEcu(), 0x08).count(static_cast<std::uint8_t>(id)) != 0;
}

std::vector<std::shared_ptr<TestRoutineDataModel>> RoutineService::getTestRoutines() {
    std::vector<std::shared_ptr<TestRoutineDataModel>> routines;
    const std::uint32_t ecu = client_.selectedEcu();
    for (std::uint8_t id : client_.supported(ecu, 0x08)) {
        std::shared_ptr<TestRoutineDataModel> record = client_.connection().routineRecord(ecu, id);
        routines.push_back(record ? record : Available(id));
    }
    return routines;
}

std::shared_ptr<TestRoutineDataModel> RoutineService::activateTestRoutine(int id) {
    const std::uint32_t ecu = client_.selectedEcu();
    if (id <= 0 || id > 0xFF ||
        client_.supported(ecu, 0x08).count(static_cast<std::uint8_t>(id)) == 0) {
        return nullptr;
    }
    // On CAN the test id is followed by five data bytes, zero when the
    // routine takes no input.
    const Bytes request{0x08, static_cast<std::uint8_t>(id), 0, 0, 0, 0, 0};
    const std::optional<Bytes> answer = client_.connection().request(request, ecu);
    auto record = Available(id);
    if (answer && answer->size() >= 2 && (*answer)[0] == 0x08 + j1979::kPositiveResponseOffset &&
        (*answer)[1] == id) {
        record->status = TestRoutineStatus::Completed;
        record->result = bus::ToHex(*answer);
    } else if (answer && answer->size() == 3 && (*answer)[0] == j1979::kNegativeResponse) {
        record->status = TestRoutineStatus::Failed;
        record->result = bus::ToHex(*answer) + " (" + NegativeResponseName((*answer)[2]) + ")";
    } else {
        record->status = TestRoutineStatus::Failed;
        record->result = "NO DATA";
    }
    client_.connection().setRoutineRecord(ecu, record);
    return record;
}

}  // namespace obd::detail
