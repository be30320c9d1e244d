#include "zelt/RoutineRepository.h"

#include <ostream>

#include "obd/ServiceBuilders.h"

namespace zelt {

namespace {
std::ostream trace(nullptr);
}

RoutineRepository::RoutineRepository(const std::shared_ptr<obd::IQuorvix>& root)
    : connection_(obd::ConnectionServiceBuilder::create(root)),
      routineService_(obd::RoutineServiceBuilder::create(root, connection_)) {
    attachTo(connection_.get());
}

RoutineRepository::~RoutineRepository() {
    detachFrom(connection_.get());
}

void RoutineRepository::clearCache() {
    routines_.clear();
}

bool RoutineRepository::isConnected() const {
    return connection_->isConnected();
}

std::vector<std::shared_ptr<obd::TestRoutineDataModel>> RoutineRepository::getTestRoutines(
    bool refresh) {
    return routines_.withLock([&](RoutineMap& routines) {
        if (refresh || routines.empty()) {
            // Merged aside and swapped in: an allocation that fails part-way
            // leaves the cache as it was.
            auto answer = routineService_->getTestRoutines();
            RoutineMap merged = routines;
            for (auto& routine : answer) {
                const int id = routine->id;
                merged[id] = std::move(routine);
            }
            routines.swap(merged);
        } else {
            detail::Trace(trace, detail::kReturnFromCache);
        }
        return getValues(routines);
    });
}

std::shared_ptr<obd::TestRoutineDataModel> RoutineRepository::activateTestRoutine(int id) {
    auto activated = routineService_->activateTestRoutine(id);
    if (!activated) {
        return nullptr;
    }
    routines_.withLock([&](RoutineMap& routines) { routines[id] = activated; });
    return activated;
}

std::vector<std::shared_ptr<obd::TestRoutineDataModel>> RoutineRepository::getValues(
    const RoutineMap& routines) {
    std::vector<std::shared_ptr<obd::TestRoutineDataModel>> values;
    values.reserve(routines.size());
    for (const auto& entry : routines) {
        values.push_back(entry.second);
    }
    return values;
}

void RoutineRepository::onConnectionOpened() {
    clearCache();
}
void RoutineRepository::onEcuChanged() {
    clearCache();
}
void RoutineRepository::onConnectionClosed() {
    clearCache();
}

}  // namespace zelt
