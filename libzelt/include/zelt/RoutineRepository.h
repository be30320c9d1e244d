#pragma once

#include <map>
#include <memory>
#include <vector>

#include "obd/IConnectionService.h"
#include "obd/IQuorvix.h"
#include "obd/IRoutineService.h"
#include "obd/TestRoutineDataModel.h"
#include "zelt/Export.h"
#include "zelt/Observers.h"
#include "zelt/detail/CacheSlot.h"

namespace zelt {

// The on-board test routines of the selected ECU: the list the vehicle offers
// and the activation of one routine. Records are the core's own, shared with
// every caller and never changed.
//
// Thread safety: every public operation may be called from any thread. The
// cache is emptied when the connection opens or closes or the ECU changes.
// Not copyable or movable: it holds a mutex and a registration.
class ZELT_API RoutineRepository : public orvane::Observer<obd::IConnectionServiceObserver> {
public:
    // Builds the repository's services from `root` and attaches to its connection.
    explicit RoutineRepository(const std::shared_ptr<obd::IQuorvix>& root);
    ~RoutineRepository() override;

    RoutineRepository(const RoutineRepository&) = delete;
    RoutineRepository& operator=(const RoutineRepository&) = delete;

    // Empties every cache.
    void clearCache();
    // True while the vehicle connection is open.
    bool isConnected() const;

    // The routines in ascending id order. Asks the vehicle when `refresh` is
    // set or nothing is cached; an answer merges into the cache by id, so a
    // routine the vehicle no longer lists stays until the cache is cleared.
    std::vector<std::shared_ptr<obd::TestRoutineDataModel>> getTestRoutines(bool refresh);

    // Activates routine `id` and files the vehicle's answer under `id`, where
    // it replaces the listed record. Null when the core activated nothing; the
    // cache is then unchanged. The core is called without the cache locked.
    std::shared_ptr<obd::TestRoutineDataModel> activateTestRoutine(int id);

private:
    using RoutineMap = std::map<int, std::shared_ptr<obd::TestRoutineDataModel>>;

    void onConnectionOpened() override;
    void onEcuChanged() override;
    void onConnectionClosed() override;

    // The map's records in ascending id order.
    static std::vector<std::shared_ptr<obd::TestRoutineDataModel>> getValues(
        const RoutineMap& routines);

    // Constant after construction.
    std::shared_ptr<obd::IConnectionService> connection_;
    std::shared_ptr<obd::IRoutineService> routineService_;

    detail::CacheSlot<RoutineMap> routines_;
};

}  // namespace zelt
