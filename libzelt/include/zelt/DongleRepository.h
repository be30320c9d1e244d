#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "obd/IConnectionService.h"
#include "obd/IQuorvix.h"
#include "obd/ISensorService.h"
#include "obd/ITroubleshootingService.h"
#include "obd/MessageDataModel.h"
#include "zelt/Export.h"
#include "zelt/Observers.h"
#include "zelt/detail/CacheSlot.h"

namespace zelt {

// What concerns the OBD adapter rather than the vehicle: its name,
// description and identification, the battery voltage it reads, text
// messages through the troubleshooting service, and the troubleshooting data
// log (switching it, and the entries the core has reported).
//
// Two pieces of state: the log entries, collected from the troubleshooting
// service until clearCache(), and the battery voltage text, cached until
// clearCache() or an ECU change. Opening or closing the connection keeps both.
// Log entries are the core's records, shared with every list handed out.
//
// Thread safety: every public operation may be called from any thread, and
// events may arrive on any thread. Not copyable or movable: it holds mutexes
// and registrations.
class ZELT_API DongleRepository : public orvane::Observer<obd::IConnectionServiceObserver>,
                                  public orvane::Observer<obd::ITroubleshootingServiceObserver> {
public:
    // Builds the repository's services from `root` and attaches to its connection and
    // troubleshooting services.
    explicit DongleRepository(const std::shared_ptr<obd::IQuorvix>& root);
    ~DongleRepository() override;

    DongleRepository(const DongleRepository&) = delete;
    DongleRepository& operator=(const DongleRepository&) = delete;

    // Empties the log entries, then the battery voltage.
    void clearCache();
    // True while the vehicle connection is open.
    bool isConnected() const;

    // The battery voltage with its unit, such as "12.4 V". Asks the sensor
    // service when `refresh` is set or nothing is cached. Null when the core
    // has no reading (no sensor, or a sensor without value data); the cache
    // then keeps what it held.
    std::shared_ptr<std::string> getBatteryVoltage(bool refresh);

    // The adapter's texts, asked anew on every call; null when there is no
    // adapter or the text is empty.
    std::shared_ptr<std::string> getHardwareName() const;
    // The adapter's description, asked anew; null when there is none.
    std::shared_ptr<std::string> getHardwareDescription() const;
    // The adapter's identification, asked anew; null when there is none.
    std::shared_ptr<std::string> getHardwareIdentification() const;

    // The log entries reported so far, oldest first.
    std::vector<std::shared_ptr<obd::MessageDataModel>> getMessages();

    // Sends `message` through the troubleshooting service and returns its
    // answer unchanged; `timeoutMilliseconds` is passed on.
    std::string sendMessage(const std::string& message, unsigned int timeoutMilliseconds);

    // Starts collecting the adapter's data log entries.
    void enableDataLog();
    // Stops collecting data log entries.
    void disableDataLog();
    // True while the data log is enabled.
    bool isDataLogEnabled() const;

private:
    using Messages = std::vector<std::shared_ptr<obd::MessageDataModel>>;
    using Text = std::shared_ptr<std::string>;

    void onConnectionOpened() override;
    void onEcuChanged() override;
    void onConnectionClosed() override;
    void onLogEntryAdded(const std::shared_ptr<obd::MessageDataModel>& entry) override;

    // Constant after construction.
    std::shared_ptr<obd::IConnectionService> connection_;
    std::shared_ptr<obd::ITroubleshootingService> troubleshooting_;
    std::shared_ptr<obd::ISensorService> sensors_;

    detail::CacheSlot<Messages> messages_;
    detail::CacheSlot<std::optional<Text>> batteryVoltage_;
};

}  // namespace zelt
