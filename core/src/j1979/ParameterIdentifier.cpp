#include "obd/ParameterIdentifier.h"

namespace obd {

namespace {
constexpr int kSensorsPerParameter = 256;
}

int Pid2Uid(ParameterIdentifier::Id pid) {
    return static_cast<int>(pid) * kSensorsPerParameter;
}

ParameterIdentifier::Id Uid2Pid(int uid) {
    // Floor division, so that every uid, negative ones too, maps to the
    // parameter whose block of 256 contains it.
    int pid = uid / kSensorsPerParameter;
    if (uid % kSensorsPerParameter < 0) {
        --pid;
    }
    return static_cast<ParameterIdentifier::Id>(pid);
}

}  // namespace obd
