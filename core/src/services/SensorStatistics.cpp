#include "services/SensorStatistics.h"

#include <cmath>
#include <cstdio>

namespace obd::detail {

std::string FormatNumber(double number, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, number);
    std::string text = buffer;
    if (text == "-0" ||
        (text.rfind("-0.", 0) == 0 && text.find_first_not_of("-0.") == std::string::npos)) {
        text.erase(0, 1);  // no "-0.0" for a value that rounds to zero
    }
    return text;
}

int DecimalsOf(const std::string& text) {
    const std::size_t point = text.find('.');
    if (point == std::string::npos) {
        return 0;
    }
    int decimals = 0;
    for (std::size_t i = point + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        ++decimals;
    }
    return decimals;
}

void SensorStatistics::reset() {
    orvane::MutexLock lock(mutex_);
    summaries_.clear();
}

std::shared_ptr<SensorValueDataModel> SensorStatistics::record(std::uint32_t ecu, int uid,
                                                               double number,
                                                               const std::string& text) {
    auto value = std::make_shared<SensorValueDataModel>();
    value->value = text;
    // A sensor the ECU marks as absent has no text; it has no summary either.
    if (text.empty() || !std::isfinite(number)) {
        return value;
    }
    value->number = number;
    orvane::MutexLock lock(mutex_);
    Summary& summary = summaries_[{ecu, uid}];
    if (summary.count == 0 || number < summary.lowest) {
        summary.lowest = number;
        summary.lowestText = text;
    }
    if (summary.count == 0 || number > summary.highest) {
        summary.highest = number;
        summary.highestText = text;
    }
    summary.sum += number;
    ++summary.count;
    value->lowest = summary.lowestText;
    value->highest = summary.highestText;
    value->average =
        FormatNumber(summary.sum / static_cast<double>(summary.count), DecimalsOf(text));
    return value;
}

}  // namespace obd::detail
