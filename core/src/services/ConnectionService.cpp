#include "orvane/Observer.h"
#include "services/Services.h"

namespace obd::detail {

ConnectionService::ConnectionService(std::shared_ptr<VehicleConnection> connection)
    : connection_(std::move(connection)),
      observers_(std::make_shared<VehicleConnection::ConnectionObservers>()) {
    connection_->addConnectionObservers(observers_);
}

ConnectionService::~ConnectionService() {
    // An observer that outlives its notifier must not detach from it later.
    using Notifier = orvane::INotifier<IConnectionServiceObserver>;
    for (IConnectionServiceObserver* observer : observers_->snapshot()) {
        if (auto* listed = dynamic_cast<orvane::Observer<IConnectionServiceObserver>*>(observer)) {
            Notifier::forget(*listed, this);
        }
    }
}

std::size_t ConnectionService::getObserverCount() const {
    return observers_->size();
}

void ConnectionService::attach(IConnectionServiceObserver* observer) {
    observers_->add(observer);
}

void ConnectionService::detach(IConnectionServiceObserver* observer) {
    observers_->remove(observer);
}

bool ConnectionService::isConnected() const {
    return connection_->isOpen();
}

std::uint32_t ConnectionService::getSelectedEcu() const {
    return connection_->selectedEcu();
}

std::shared_ptr<IAdapter> ConnectionService::getAdapter() {
    return connection_->adapter();
}

}  // namespace obd::detail
