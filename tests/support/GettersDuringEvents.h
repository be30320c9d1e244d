#pragma once

// The race every repository must survive: connection events fired on one
// thread while getters run on others. The events clear the cache at any point
// of a getter; the getters check what they got.

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "CoreMocks.h"

namespace zelt::testing {

// Fires `eventRounds` rounds of opened, ECU changed and closed on
// `connection` from a thread of its own while each of `callers` threads runs
// `round(number, thread)` with number 0, 1, ... until the events are all
// fired and it ran at least `minRounds` rounds. `round` may use GoogleTest
// assertions; a fatal one ends that round only.
inline void RunGettersDuringEvents(MockConnectionService& connection, int eventRounds,
                                   int minRounds, const std::function<void(int, int)>& round,
                                   int callers = 3) {
    std::atomic<bool> eventsDone{false};
    std::thread events([&] {
        for (int i = 0; i < eventRounds; ++i) {
            connection.fireConnectionOpened();
            connection.fireEcuChanged();
            connection.fireConnectionClosed();
        }
        eventsDone = true;
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < callers; ++t) {
        threads.emplace_back([&, t] {
            for (int number = 0; !eventsDone || number < minRounds; ++number) {
                round(number, t);
            }
        });
    }
    events.join();
    for (auto& thread : threads) {
        thread.join();
    }
}

}  // namespace zelt::testing
