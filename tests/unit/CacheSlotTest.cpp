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

// The values a slot may hold; the asked key is 1, another key 2.
struct Held {
    std::optional<Value> single;
    std::map<int, Value> keyed;
};

template <typename Fetch>
Value Get(Policy policy, Held& held, bool refresh, std::ostream& trace, Fetch fetch) {
    using namespace zelt::detail;
    switch (policy) {
        case Policy::EveryAnswer:
            return CacheEveryAnswer(held.single, refresh, trace, fetch);
        case Policy::UsableOnly:
            return StoreUsableAnswer(held.single, refresh, trace, fetch);
        case Policy::LastKnown:
            return KeepLastKnown(held.single, refresh, trace, fetch);
        case Policy::Keyed:
            return LookUpKeyed(held.keyed, 1, refresh, trace, fetch);
        case Policy::KeyedDropAll:
            return LookUpKeyed(held.keyed, 1, refresh, trace, fetch, KeyedRefresh::DropAll);
    }
    return nullptr;
}

// What is held for the asked key; nothing as an empty optional.
std::optional<Value> HeldFor(Policy policy, const Held& held) {
    if (policy != Policy::Keyed && policy != Policy::KeyedDropAll) {
        return held.single;
    }
    const auto entry = held.keyed.find(1);
    return entry == held.keyed.end() ? std::nullopt : std::optional<Value>(entry->second);
}

Held Filled(const Value& cached) {
    Held held{cached, {{2, std::make_shared<int>(3)}}};
    if (cached) {
        held.keyed[1] = cached;
    } else {
        held.single.reset();
    }
    return held;
}

TEST(CacheSlotTest, EachPolicyAnswersStoresAndTracesAsSpecified) {
    const Value cached = std::make_shared<int>(1);
    const Value answer = std::make_shared<int>(2);
    const auto expected = [&](Is is) { return is == Is::Cached ? cached : answer; };
    int row = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(row++);
        Held held = Filled(c.cachedBefore ? cached : nullptr);
        std::ostringstream trace;
        bool asked = false;
        const Value result = Get(c.policy, held, c.refresh, trace, [&] {
            asked = true;
            return c.usableAnswer ? answer : nullptr;
        });

        EXPECT_EQ(asked, c.asksCore);
        EXPECT_EQ(trace.str(), c.asksCore ? "" : "-return from cache");
        EXPECT_EQ(result, c.result == Is::Null ? nullptr : expected(c.result));
        const std::optional<Value> after = HeldFor(c.policy, held);
        ASSERT_EQ(after.has_value(), c.heldAfter != Is::Nothing);
        if (after) {
            EXPECT_EQ(*after, c.heldAfter == Is::Null ? nullptr : expected(c.heldAfter));
        }
        EXPECT_EQ(held.keyed.count(2), c.otherKeyKept ? 1u : 0u);
    }
}

TEST(CacheSlotTest, AFailingFetchLeavesTheHeldValueAsItWas) {
    const Value cached = std::make_shared<int>(1);
    for (const Policy policy :
         {Policy::EveryAnswer, Policy::UsableOnly, Policy::LastKnown, Policy::Keyed}) {
        Held held = Filled(cached);
        EXPECT_THROW(Get(policy, held, true, zelt::detail::NoTrace(),
                         []() -> Value { throw std::runtime_error("bus error"); }),
                     std::runtime_error);
        EXPECT_EQ(HeldFor(policy, held), cached);
    }
}

TEST(CacheSlotTest, AFailingFetchReleasesTheSlot) {
    CacheSlot<std::optional<Value>> slot;
    EXPECT_THROW(slot.getUsable(true, zelt::detail::NoTrace(),
                                []() -> Value { throw std::runtime_error("bus error"); }),
                 std::runtime_error);
    // Would deadlock if the mutex were still held.
    slot.clear();
}

}  // namespace
