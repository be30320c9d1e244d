#pragma once

#include <cstddef>

namespace orvane {

template <typename T>
class Observer;

// A source of events for observers of interface T.
//
// Thread safety: implementations decide; the core's notifiers are safe to
// attach, detach and notify from any thread. After detach() has returned, the
// detached observer receives no further event.
//
// Ownership: a notifier does not own its observers; an observer detaches
// itself before it dies (see Observer<T>).
template <typename T>
class INotifier {
public:
    virtual ~INotifier() = default;

    // Number of observers currently attached.
    virtual std::size_t getObserverCount() const = 0;

    // Every event from now on reaches `observer`, until detach(observer).
    // Attaching an observer twice delivers each event to it twice.
    virtual void attach(T* observer) = 0;

    // No event reaches `observer` after this returns. Detaching an observer
    // that is not attached does nothing.
    virtual void detach(T* observer) = 0;

protected:
    // Lets a notifier that goes away first make `observer` forget it without
    // being called back with detach().
    static void forget(Observer<T>& observer, INotifier<T>* notifier) { observer.remove(notifier); }
};

}  // namespace orvane
