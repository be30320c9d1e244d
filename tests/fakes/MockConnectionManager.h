#pragma once

#include <gmock/gmock.h>

#include <cstdint>
#include <memory>

#include "obd/IConnectionManager.h"

namespace zelt::testing {

class MockConnectionManager : public obd::IConnectionManager {
public:
    MOCK_METHOD(obd::ConnectionPhase, getPhase, (), (const, override));
    MOCK_METHOD(void, addPhaseListener, (obd::IConnectionPhaseListener*), (override));
    MOCK_METHOD(void, removePhaseListener, (obd::IConnectionPhaseListener*), (override));
    MOCK_METHOD(bool, openConnection,
                (const std::shared_ptr<obd::IDataConnection>&, obd::DataLinkProtocol, bool),
                (override));
    MOCK_METHOD(bool, isConnectionOpen, (), (const, override));
    MOCK_METHOD(void, closeConnection, (), (override));
    MOCK_METHOD(obd::DataLinkProtocol, getProtocol, (), (const, override));
    MOCK_METHOD(void, setTimeout, (std::int32_t), (override));
    MOCK_METHOD(std::int32_t, getTimeout, (), (const, override));
    MOCK_METHOD(std::shared_ptr<obd::IAdapter>, getAdapter, (), (const, override));
    MOCK_METHOD(void, attachBridge, (const std::shared_ptr<obd::IDataBridge>&), (override));
    MOCK_METHOD(void, detachBridge, (const std::shared_ptr<obd::IDataBridge>&), (override));
};

// A phase listener for tests that only pass one through.
class MockPhaseListener : public obd::IConnectionPhaseListener {
public:
    MOCK_METHOD(void, onPhaseChanged, (obd::ConnectionPhase), (override));
};

}  // namespace zelt::testing
