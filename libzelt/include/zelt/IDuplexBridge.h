#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "obd/DataBridge.h"
#include "zelt/Export.h"

namespace zelt {

// Bytes that the core has queued for the vehicle can be taken from it.
class ZELT_API IReadableBridge {
public:
    virtual ~IReadableBridge();

    // Fills `data` with the bytes waiting to go to the vehicle; false when
    // there were none.
    virtual bool read(std::vector<std::uint8_t>& data) = 0;
};

// Bytes that arrived from the vehicle can be handed to it.
class ZELT_API IWritableBridge {
public:
    virtual ~IWritableBridge();

    // Hands bytes that arrived from the vehicle to the core.
    virtual void write(const std::vector<std::uint8_t>& data) = 0;
};

// Both directions of a vehicle connection that the application carries, and
// the core's end of it.
class ZELT_API IDuplexBridge : public IReadableBridge, public IWritableBridge {
public:
    ~IDuplexBridge() override;

    // False once the bridge has been invalidated.
    virtual bool isValid() const = 0;
    // The end that the core's connection manager reads from and writes to.
    virtual std::shared_ptr<obd::IDataConnection> getConnection() const = 0;
};

}  // namespace zelt
