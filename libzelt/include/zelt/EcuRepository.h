#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "obd/IConnectionService.h"
#include "obd/IEcuService.h"
#include "obd/IQuorvix.h"
#include "zelt/Export.h"
#include "zelt/Models.h"
#include "zelt/Observers.h"
#include "zelt/detail/CacheSlot.h"

namespace zelt {

// Identity and information of the selected ECU: a labelled list of
// information items, the vehicle identification number as plain text, the
// parameters the ECU supports and a per-parameter support test.
//
// Information items are cached one by one; the list itself is rebuilt on
// every call from those caches and from four items that are read afresh each
// time (OBD requirements, protocol, ECU name, ECU description). An optional
// item the vehicle does not support (ids 8 to 13) is never cached, so its
// support test is asked on every call.
//
// Thread safety: every public operation may be called from any thread.
// getEcuInfo and getIdentificationNumber share one mutex and hold it for
// their whole run, core calls included; getParameters has its own. The
// caches are emptied when the connection opens or closes or the ECU changes.
// Records are shared with every caller and never changed.
// Not copyable or movable: it holds mutexes and a registration.
class ZELT_API EcuRepository : public orvane::Observer<obd::IConnectionServiceObserver> {
public:
    // Builds the repository's services from `root` and attaches to its connection.
    explicit EcuRepository(const std::shared_ptr<obd::IQuorvix>& root);
    ~EcuRepository() override;

    EcuRepository(const EcuRepository&) = delete;
    EcuRepository& operator=(const EcuRepository&) = delete;

    // Empties every cache.
    void clearCache();
    // True while the vehicle connection is open.
    bool isConnected() const;

    // The information items in ascending id order (several items of id 5 or
    // 6 in a row). With `refresh` set, every cached item is read again. If the
    // core throws, items read earlier in the same call stay cached.
    std::vector<std::shared_ptr<InfoDataModel>> getEcuInfo(bool refresh);

    // The VIN as the vehicle reported it; null when the vehicle does not
    // support it.
    std::shared_ptr<std::string> getIdentificationNumber(bool refresh);

    // The parameters the ECU supports, in the core's order.
    std::vector<std::shared_ptr<ParameterModel>> getParameters(bool refresh);

    // Asks the ECU whether it supports the parameter's pid; not cached.
    // REQUIRES: parameter != nullptr.
    bool isSupported(const std::shared_ptr<ParameterModel>& parameter) const;

private:
    using Item = std::shared_ptr<InfoDataModel>;
    using ItemList = std::vector<std::shared_ptr<InfoDataModel>>;

    // The cached information items. One mutex guards all ten: getEcuInfo
    // fills them one after another under that mutex.
    struct InfoCache {
        std::optional<Item> vin;
        std::optional<ItemList> calids;
        std::optional<ItemList> cvns;
        std::optional<Item> esn;
        std::optional<Item> erotan;
        std::optional<Item> gtrNumber;
        std::optional<Item> fueledEngineOperation;
        std::optional<Item> certificationTestGroup;
        std::optional<Item> distanceTraveledSinceEvap;
        std::optional<Item> motorcycleCategoryTypeApproval;
    };

    void onConnectionOpened() override;
    void onEcuChanged() override;
    void onConnectionClosed() override;

    // Items read afresh on every call; no lock of their own.
    Item getStandard() const;
    Item getProtocol() const;
    Item getEcuName() const;
    Item getEcuDescription() const;

    // Cached items. `cache` is the value guarded by the information mutex,
    // reachable only inside info_.withLock(): receiving it is what shows the
    // mutex is held.
    Item getVin(InfoCache& cache, bool refresh);
    ItemList getCalids(InfoCache& cache, bool refresh);
    ItemList getCvns(InfoCache& cache, bool refresh);
    Item getEsn(InfoCache& cache, bool refresh);
    Item getErotan(InfoCache& cache, bool refresh);
    Item getGtrNumber(InfoCache& cache, bool refresh);
    Item getFueledEngineOperation(InfoCache& cache, bool refresh);
    Item getCertificationTestGroup(InfoCache& cache, bool refresh);
    Item getDistanceTraveledSinceEvap(InfoCache& cache, bool refresh);
    Item getMotorcycleCategoryTypeApproval(InfoCache& cache, bool refresh);

    // Constant after construction.
    std::shared_ptr<obd::IConnectionService> connection_;
    std::shared_ptr<obd::IEcuService> ecuService_;

    detail::CacheSlot<InfoCache> info_;
    detail::CacheSlot<std::optional<std::vector<std::shared_ptr<ParameterModel>>>> parameters_;
};

}  // namespace zelt
