#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "NotifierMock.h"
#include "orvane/Observer.h"

namespace {

using ::testing::InSequence;
using ::testing::StrictMock;

struct Listener {
    virtual ~Listener() = default;
    virtual void onEvent() = 0;
};

class ListeningObserver : public orvane::Observer<Listener> {
public:
    using orvane::Observer<Listener>::attachTo;
    using orvane::Observer<Listener>::detachFrom;
    void onEvent() override {}
};

// A notifier that can make an observer forget it, as a dying notifier would.
class Notifier : public zelt::testing::NotifierMock<Listener> {
public:
    void forgetMe(orvane::Observer<Listener>& observer) { forget(observer, this); }
};

class ObserverTest : public ::testing::Test {
protected:
    StrictMock<Notifier> a, b, c;
    std::unique_ptr<ListeningObserver> observer = std::make_unique<ListeningObserver>();
};

TEST_F(ObserverTest, DuplicateAttachmentsAreListedAndDetachedInOrderOnDestruction) {
    InSequence order;
    EXPECT_CALL(a, attach(observer.get())).Times(2);
    EXPECT_CALL(b, attach(observer.get()));
    EXPECT_CALL(a, detach(observer.get())).Times(2);
    EXPECT_CALL(b, detach(observer.get()));

    observer->attachTo(&a);
    observer->attachTo(&a);
    observer->attachTo(&b);
    observer.reset();
}

TEST_F(ObserverTest, DetachFromRemovesEveryListingAndCallsDetachOnce) {
    EXPECT_CALL(a, attach).Times(2);
    EXPECT_CALL(b, attach);
    observer->attachTo(&a);
    observer->attachTo(&a);
    observer->attachTo(&b);

    EXPECT_CALL(a, detach(observer.get())).Times(1);
    observer->detachFrom(&a);

    // Only B remains listed.
    EXPECT_CALL(b, detach(observer.get()));
    observer.reset();
}

TEST_F(ObserverTest, DetachFromANeverAttachedNotifierStillCallsDetach) {
    EXPECT_CALL(a, attach);
    observer->attachTo(&a);

    EXPECT_CALL(c, detach(observer.get()));
    observer->detachFrom(&c);

    EXPECT_CALL(a, detach(observer.get()));
    observer.reset();
}

TEST_F(ObserverTest, ForgottenNotifierIsNeverCalledAgain) {
    EXPECT_CALL(b, attach).Times(2);
    observer->attachTo(&b);
    observer->attachTo(&b);

    b.forgetMe(*observer);
    observer.reset();  // StrictMock: any detach on B would fail the test
}

TEST_F(ObserverTest, FailedAttachLeavesTheListUnchanged) {
    EXPECT_CALL(a, attach).WillOnce([](Listener*) { throw std::runtime_error("refused"); });
    EXPECT_THROW(observer->attachTo(&a), std::runtime_error);
    observer.reset();  // no detach on A
}

TEST_F(ObserverTest, NotifierForgettingDuringTheDestructorWalkDoesNotDisturbIt) {
    EXPECT_CALL(a, attach);
    EXPECT_CALL(b, attach);
    observer->attachTo(&a);
    observer->attachTo(&b);

    // A forgets the observer from inside detach; B must still be detached.
    EXPECT_CALL(a, detach).WillOnce([&](Listener* listener) {
        // The observer is mid-destruction: only its Observer part is left.
        auto& dying = *static_cast<orvane::Observer<Listener>*>(listener);
        a.forgetMe(dying);
        b.forgetMe(dying);
    });
    EXPECT_CALL(b, detach(observer.get()));
    observer.reset();
}

}  // namespace
