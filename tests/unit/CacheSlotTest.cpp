// Each caching policy of the repositories, specified once: what a getter
// returns, what the slot holds afterwards, whether the core is asked and
// whether "-return from cache" is traced.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>

#include "zelt/detail/CacheSlot.h"

namespace {

using zelt::detail::CacheSlot;
using zelt::detail::KeyedRefresh;
using Value = std::shared_ptr<int>;

enum class Policy { EveryAnswer, UsableOnly, LastKnown, Keyed, KeyedDropAll };
// A value as a case names it: nothing (no entry), null, the cached one, the
// core's answer.
enum class Is { Nothing, Null, Cached, Answer };

struct Case {
    Policy policy;
    bool cachedBefore;
    bool refresh;
    bool usableAnswer;
    bool asksCore;
    Is result;
    Is heldAfter;
    bool otherKeyKept;  // keyed policies: the entry of another key survives
};

const Case kCases[] = {
    // policy, cached, refresh, usable, asks, result, held after, other kept
    {Policy::EveryAnswer, false, false, false, true, Is::Null, Is::Null, true},
    {Policy::EveryAnswer, true, false, true, false, Is::Cached, Is::Cached, true},
    {Policy::EveryAnswer, true, true, false, true, Is::Null, Is::Null, true},
    {Policy::UsableOnly, false, false, false, true, Is::Null, Is::Nothing, true},
    {Policy::UsableOnly, true, false, true, false, Is::Cached, Is::Cached, true},
    {Policy::UsableOnly, true, true, false, true, Is::Null, Is::Cached, true},
    {Policy::UsableOnly, true, true, true, true, Is::Answer, Is::Answer, true},
    {Policy::LastKnown, false, false, false, true, Is::Null, Is::Nothing, true},
    {Policy::LastKnown, true, false, true, false, Is::Cached, Is::Cached, true},
    {Policy::LastKnown, true, true, false, true, Is::Cached, Is::Cached, true},
    {Policy::LastKnown, true, true, true, true, Is::Answer, Is::Answer, true},
    {Policy::Keyed, false, false, false, true, Is::Null, Is::Nothing, true},
    {Policy::Keyed, false, false, true, true, Is::Answer, Is::Answer, true},
    {Policy::Keyed, true, false, true, false, Is::Cached, Is::Cached, true},
    {Policy::Keyed, true, true, false, true, Is::Null, Is::Cached, true},
    {Policy::KeyedDropAll, true, false, true, false, Is::Cached, Is::Cached, true},
    {Policy::KeyedDropAll, true, true, false, true, Is::Null, Is::Nothing, false},
    {Policy::KeyedDropAll, true, true, true, true, Is::Answer, Is::Answer, false},
};

// One slot of each shape, driven through the policy a case names.
class Slots {
public:
    Slots(const Value& cached, const Value& other) {
        if (cached) {
            single_.withLock([&](std::optional<Value>& held) { held = cached; });
        }
        keyed_.withLock([&](std::map<int, Value>& held) {
            held[2] = other;
            if (cached) {
                held[1] = cached;
            }
        });
    }

    template <typename Fetch>
    Value get(Policy policy, bool refresh, std::ostream& trace, Fetch fetch) {
        switch (policy) {
            case Policy::EveryAnswer:
                return single_.get(refresh, trace, fetch);
            case Policy::UsableOnly:
                return single_.getUsable(refresh, trace, fetch);
            case Policy::LastKnown:
                return single_.getLastKnown(refresh, trace, fetch);
            case Policy::Keyed:
                return keyed_.getKeyed(1, refresh, trace, fetch);
            case Policy::KeyedDropAll:
                return keyed_.getKeyed(1, refresh, trace, fetch, KeyedRefresh::DropAll);
        }
        return nullptr;
    }

    // What the slot holds for the asked key; nothing as an empty optional.
    std::optional<Value> held(Policy policy) {
        if (policy == Policy::Keyed || policy == Policy::KeyedDropAll) {
            return keyed_.withLock([](std::map<int, Value>& held) -> std::optional<Value> {
                const auto entry = held.find(1);
                return entry == held.end() ? std::nullopt : std::optional<Value>(entry->second);
            });
        }
        return single_.withLock([](std::optional<Value>& held) { return held; });
    }

    bool hasOtherKey() {
        return keyed_.withLock([](std::map<int, Value>& held) { return held.count(2) == 1; });
    }

private:
    CacheSlot<std::optional<Value>> single_;
    CacheSlot<std::map<int, Value>> keyed_;
};

TEST(CacheSlotTest, EachPolicyAnswersStoresAndTracesAsSpecified) {
    const Value cached = std::make_shared<int>(1);
    const Value answer = std::make_shared<int>(2);
    const auto expected = [&](Is is) { return is == Is::Cached ? cached : answer; };
    int row = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(row++);
        Slots slots(c.cachedBefore ? cached : nullptr, std::make_shared<int>(3));
        std::ostringstream trace;
        bool asked = false;
        const Value result = slots.get(c.policy, c.refresh, trace, [&] {
            asked = true;
            return c.usableAnswer ? answer : nullptr;
        });

        EXPECT_EQ(asked, c.asksCore);
        EXPECT_EQ(trace.str(), c.asksCore ? "" : "-return from cache");
        EXPECT_EQ(result, c.result == Is::Null ? nullptr : expected(c.result));
        const std::optional<Value> held = slots.held(c.policy);
        ASSERT_EQ(held.has_value(), c.heldAfter != Is::Nothing);
        if (held) {
            EXPECT_EQ(*held, c.heldAfter == Is::Null ? nullptr : expected(c.heldAfter));
        }
        EXPECT_EQ(slots.hasOtherKey(), c.otherKeyKept);
    }
}

TEST(CacheSlotTest, AFailingFetchLeavesTheSlotAsItWas) {
    const Value cached = std::make_shared<int>(1);
    for (const Policy policy :
         {Policy::EveryAnswer, Policy::UsableOnly, Policy::LastKnown, Policy::Keyed}) {
        Slots slots(cached, std::make_shared<int>(3));
        std::ostringstream trace;
        EXPECT_THROW(slots.get(policy, true, trace,
                               []() -> Value { throw std::runtime_error("bus error"); }),
                     std::runtime_error);
        // The mutex was released on the way out, and the value is untouched.
        EXPECT_EQ(slots.held(policy), cached);
    }
}

}  // namespace
