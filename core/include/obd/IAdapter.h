#pragma once

// The OBD adapter (dongle) a connection runs through, as the connection
// service and the connection manager describe it.
//
// Thread safety: every operation may be called from any thread. An adapter
// reached over a data connection fills in its texts when it is initialised
// (they are empty before); the simulated adapter never changes.
//
// Ownership: shared; the core keeps the adapter of the open connection, and
// a caller's pointer stays valid after the connection closes.

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
