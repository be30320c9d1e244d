#include <algorithm>
#include <cmath>

#include "sim/VehicleModel.h"

namespace obd::sim {

double LiveValue::at(double seconds) const {
    switch (kind) {
        case Kind::Constant:
            return constant;
        case Kind::Ramp:
            return start + rate * std::max(seconds, 0.0);
        case Kind::Points:
            break;
    }
    if (points.empty()) {
        return 0;
    }
    double t = std::max(seconds, points.front().first);
    const double last = points.back().first;
    if (repeat && last > points.front().first && t > last) {
        const double period = last - points.front().first;
        t = points.front().first + std::fmod(t - points.front().first, period);
    }
    if (t >= last) {
        return points.back().second;
    }
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (t <= points[i].first) {
            const auto& [t0, v0] = points[i - 1];
            const auto& [t1, v1] = points[i];
            if (t1 <= t0) {
                return v1;
            }
            return v0 + (v1 - v0) * (t - t0) / (t1 - t0);
        }
    }
    return points.back().second;
}

}  // namespace obd::sim
