#pragma once

#include <string>

#include "DataLinkProtocol.h"
#include "Export.h"

namespace obd {

// The OBD adapter (dongle) the connection runs through. Texts are empty when
// the adapter does not report them.
class OBD_API IAdapter {
public:
    virtual ~IAdapter();

    // The data link protocol the adapter talks to the vehicle with.
    virtual DataLinkProtocol getProtocol() const = 0;
    // e.g. "ELM327"
    virtual std::string getName() const = 0;
    // e.g. "OBDII to RS232 Interpreter"
    virtual std::string getDescription() const = 0;
    // e.g. "ELM327 v1.5"
    virtual std::string getIdentification() const = 0;
};

}  // namespace obd
