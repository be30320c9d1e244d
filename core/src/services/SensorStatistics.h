#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "obd/SensorDataModel.h"
#include "orvane/Mutex.h"
#include "orvane/ThreadAnnotations.h"

namespace obd::detail {

// The readings of every sensor since the connection opened, per ECU, from
// which the lowest, highest and average value texts of a reading are made.
// The lowest and highest texts are those of the readings that were lowest
// and highest; the average is written with as many decimals as the reading.
//
// Thread safety: all operations may be called from any thread.
class SensorStatistics {
public:
    void reset();

    // Records a numeric reading and returns its four value texts.
    std::shared_ptr<SensorValueDataModel> record(std::uint32_t ecu, int uid, double number,
                                                 const std::string& text);

private:
    struct Summary {
        double lowest = 0;
        double highest = 0;
        double sum = 0;
        std::uint64_t count = 0;
        std::string lowestText;
        std::string highestText;
    };

    orvane::Mutex mutex_;
    std::map<std::pair<std::uint32_t, int>, Summary> summaries_ ORVANE_GUARDED_BY(mutex_);
};

// `number` written with `decimals` digits after the point, "C" locale.
std::string FormatNumber(double number, int decimals);

// The number of digits after the decimal point in `text`.
int DecimalsOf(const std::string& text);

}  // namespace obd::detail
