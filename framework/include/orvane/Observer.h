#pragma once

#include <algorithm>
#include <vector>

#include "orvane/Notifier.h"

namespace orvane {

// Base of an object that receives the events of one or more notifiers of
// interface T. The observer remembers every notifier it attached to and
// detaches from all of them when it is destroyed, so a dead observer is never
// called.
//
// Thread safety: the notifier list has no lock. attachTo(), detachFrom(),
// remove() and the destructor must not run at the same time for one observer;
// deriving classes call them only while they are built or torn down.
//
// Not copyable: a copy would share registrations it never made.
template <typename T>
class Observer : public T {
public:
    Observer(const Observer&) = delete;
    Observer& operator=(const Observer&) = delete;

    // Detaches from every notifier still listed, in attachment order. The walk
    // runs over the list as it stood when destruction began, so a notifier
    // that calls remove() from inside detach() does not disturb it.
    ~Observer() override;

protected:
    Observer() = default;

    // Attaches to `notifier` and lists it. No duplicate check: attaching twice
    // lists the notifier twice. If attach() throws, the list is unchanged.
    // REQUIRES: notifier != nullptr.
    void attachTo(INotifier<T>* notifier);

    // Removes every listing of `notifier`, then detaches from it, also when it
    // was never listed.
    // REQUIRES: notifier != nullptr.
    void detachFrom(INotifier<T>* notifier);

private:
    friend class INotifier<T>;

    // Forgets `notifier` without calling it.
    void remove(INotifier<T>* notifier);

    std::vector<INotifier<T>*> notifiers_;
};

// The members are defined outside the class so that they are not inline: a
// library that instantiates and exports Observer<T> exports them too.

template <typename T>
Observer<T>::~Observer() {
    std::vector<INotifier<T>*> listed;
    listed.swap(notifiers_);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        listed[i]->detach(this);
    }
}

template <typename T>
void Observer<T>::attachTo(INotifier<T>* notifier) {
    notifiers_.reserve(notifiers_.size() + 1);  // so that listing cannot fail once attached
    notifier->attach(this);
    notifiers_.push_back(notifier);
}

template <typename T>
void Observer<T>::detachFrom(INotifier<T>* notifier) {
    remove(notifier);
    notifier->detach(this);
}

template <typename T>
void Observer<T>::remove(INotifier<T>* notifier) {
    notifiers_.erase(std::remove(notifiers_.begin(), notifiers_.end(), notifier), notifiers_.end());
}

}  // namespace orvane
