#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>

#include "MockConnectionManager.h"
#include "zelt/ConnectionBridge.h"

namespace {

using ::testing::_;
using ::testing::InSequence;
using ::testing::Mock;
using ::testing::Return;
using ::testing::SaveArg;
using ::testing::StrictMock;
using zelt::ConnectionBridge;
using zelt::testing::MockConnectionManager;
using zelt::testing::MockPhaseListener;
using Bytes = std::vector<std::uint8_t>;

// The object behind either end of a data bridge.
const obd::DataBridge* Core(const std::shared_ptr<obd::IDataBridge>& end) {
    return dynamic_cast<const obd::DataBridge*>(end.get());
}
const obd::DataBridge* Core(const std::shared_ptr<obd::IDataConnection>& end) {
    return dynamic_cast<const obd::DataBridge*>(end.get());
}

class ConnectionBridgeTest : public ::testing::Test {
protected:
    // Each test's bridges are gone by now; a registration that was never
    // undone would also keep its manager alive, so check here rather than
    // when the mock dies.
    void TearDown() override {
        Mock::VerifyAndClearExpectations(manager.get());
        Mock::VerifyAndClearExpectations(otherManager.get());
    }

    // Makes a bridge on `manager`, letting it register, and returns the data
    // bridge end it attached.
    std::shared_ptr<obd::IDataBridge> make(std::optional<ConnectionBridge>& bridge,
                                           const std::shared_ptr<MockConnectionManager>& manager,
                                           obd::IConnectionPhaseListener* listener) {
        std::shared_ptr<obd::IDataBridge> attached;
        EXPECT_CALL(*manager, attachBridge(_)).WillOnce(SaveArg<0>(&attached));
        EXPECT_CALL(*manager, addPhaseListener(listener));
        bridge.emplace(manager, listener);
        Mock::VerifyAndClearExpectations(manager.get());
        return attached;
    }

    // Expects the registration of `listener` and `attached` on `manager` to be
    // undone once, in order.
    static void expectUndo(MockConnectionManager& manager, obd::IConnectionPhaseListener* listener,
                           const std::shared_ptr<obd::IDataBridge>& attached) {
        InSequence order;
        EXPECT_CALL(manager, removePhaseListener(listener));
        EXPECT_CALL(manager, detachBridge(attached));
    }

    std::shared_ptr<MockConnectionManager> manager =
        std::make_shared<StrictMock<MockConnectionManager>>();
    std::shared_ptr<MockConnectionManager> otherManager =
        std::make_shared<StrictMock<MockConnectionManager>>();
    MockPhaseListener listener;
    MockPhaseListener otherListener;
};

// --- registration order -----------------------------------------------------

TEST_F(ConnectionBridgeTest, ConstructionAttachesItsDataBridgeBeforeAddingTheListener) {
    std::shared_ptr<obd::IDataBridge> attached;
    {
        InSequence order;
        EXPECT_CALL(*manager, attachBridge(_)).WillOnce(SaveArg<0>(&attached));
        EXPECT_CALL(*manager, addPhaseListener(&listener));
    }
    ConnectionBridge bridge(manager, &listener);
    Mock::VerifyAndClearExpectations(manager.get());

    ASSERT_NE(Core(attached), nullptr);
    EXPECT_EQ(Core(attached), Core(bridge.getConnection()));
    expectUndo(*manager, &listener, attached);
}

TEST_F(ConnectionBridgeTest, DestructionRemovesTheListenerBeforeDetachingTheSameDataBridge) {
    std::optional<ConnectionBridge> bridge;
    const auto attached = make(bridge, manager, &listener);
    expectUndo(*manager, &listener, attached);
    bridge.reset();
}

TEST_F(ConnectionBridgeTest, NullListenerIsRegisteredAndRemovedUnchanged) {
    std::optional<ConnectionBridge> bridge;
    const auto attached = make(bridge, manager, nullptr);
    expectUndo(*manager, nullptr, attached);
    bridge.reset();
}

TEST_F(ConnectionBridgeTest, ListenerThatCannotBeAddedLeavesNothingAttached) {
    std::shared_ptr<obd::IDataBridge> attached;
    InSequence order;
    EXPECT_CALL(*manager, attachBridge(_)).WillOnce(SaveArg<0>(&attached));
    EXPECT_CALL(*manager, addPhaseListener(&listener)).WillOnce([](obd::IConnectionPhaseListener*) {
        throw std::runtime_error("full");
    });
    EXPECT_CALL(*manager, detachBridge(_))
        .WillOnce([&](const std::shared_ptr<obd::IDataBridge>& b) { EXPECT_EQ(b, attached); });
    EXPECT_THROW((ConnectionBridge{manager, &listener}), std::runtime_error);
}

// --- copies share one registration -----------------------------------------

TEST_F(ConnectionBridgeTest, CopiesShareTheDataBridgeAndCallNothingOnTheManager) {
    std::optional<ConnectionBridge> original;
    const auto attached = make(original, manager, &listener);

    std::optional<ConnectionBridge> copy(*original);  // StrictMock: no call allowed
    EXPECT_EQ(Core(copy->getConnection()), Core(attached));
    EXPECT_EQ(copy->getConnection(), original->getConnection());

    expectUndo(*manager, &listener, attached);
}

TEST_F(ConnectionBridgeTest, RegistrationIsUndoneOnceWhenTheLastCopyIsDestroyed) {
    std::optional<ConnectionBridge> original;
    const auto attached = make(original, manager, &listener);
    std::optional<ConnectionBridge> first(*original);
    std::optional<ConnectionBridge> second(*first);

    // Copies still use the data bridge and the listener.
    original.reset();
    first.reset();
    Mock::VerifyAndClearExpectations(manager.get());

    expectUndo(*manager, &listener, attached);
    second.reset();
}

TEST_F(ConnectionBridgeTest, AssigningOverTheLastHolderUndoesItsRegistrationOnly) {
    std::optional<ConnectionBridge> target, source;
    const auto targetAttached = make(target, manager, &listener);
    const auto sourceAttached = make(source, otherManager, &otherListener);

    expectUndo(*manager, &listener, targetAttached);
    *target = *source;
    Mock::VerifyAndClearExpectations(manager.get());
    EXPECT_EQ(Core(target->getConnection()), Core(sourceAttached));

    // Both now share the source's registration.
    target.reset();
    expectUndo(*otherManager, &otherListener, sourceAttached);
    source.reset();
}

TEST_F(ConnectionBridgeTest, AssigningOverASharedRegistrationCallsNothing) {
    std::optional<ConnectionBridge> target, source;
    const auto targetAttached = make(target, manager, &listener);
    const auto sourceAttached = make(source, otherManager, &otherListener);
    std::optional<ConnectionBridge> keeper(*target);

    *target = *source;  // `keeper` still holds the target's registration
    Mock::VerifyAndClearExpectations(manager.get());
    Mock::VerifyAndClearExpectations(otherManager.get());

    expectUndo(*manager, &listener, targetAttached);
    keeper.reset();
    expectUndo(*otherManager, &otherListener, sourceAttached);
}

TEST_F(ConnectionBridgeTest, SelfAssignmentCallsNothing) {
    std::optional<ConnectionBridge> bridge;
    const auto attached = make(bridge, manager, &listener);
    ConnectionBridge& alias = *bridge;
    *bridge = alias;
    Mock::VerifyAndClearExpectations(manager.get());
    EXPECT_EQ(Core(bridge->getConnection()), Core(attached));
    expectUndo(*manager, &listener, attached);
}

// --- forwarding -------------------------------------------------------------

TEST_F(ConnectionBridgeTest, ConnectHandsTheConnectionEndOverAndReturnsTheManagersAnswer) {
    std::optional<ConnectionBridge> bridge;
    const auto attached = make(bridge, manager, &listener);
    const auto protocol = obd::DataLinkProtocol::Iso15765Can11Bit500k;

    std::shared_ptr<obd::IDataConnection> handed;
    EXPECT_CALL(*manager, openConnection(_, protocol, true))
        .WillOnce([&](const std::shared_ptr<obd::IDataConnection>& c, auto, auto) {
            handed = c;
            return false;
        });
    EXPECT_CALL(*manager, openConnection(_, protocol, false)).WillOnce(Return(true));
    EXPECT_FALSE(bridge->connect(protocol, true));
    EXPECT_TRUE(bridge->connect(protocol, false));
    EXPECT_EQ(handed, bridge->getConnection());

    EXPECT_CALL(*manager, closeConnection());
    bridge->disconnect();
    expectUndo(*manager, &listener, attached);
}

// Through the interfaces the application holds the bridge by.
TEST_F(ConnectionBridgeTest, BytesCrossBetweenTheApplicationAndTheConnectionEnd) {
    std::optional<ConnectionBridge> bridge;
    const auto attached = make(bridge, manager, &listener);
    zelt::IDuplexBridge& duplex = *bridge;
    zelt::IReadableBridge& readable = duplex;
    zelt::IWritableBridge& writable = duplex;
    const auto connection = duplex.getConnection();

    Bytes data;
    EXPECT_FALSE(readable.read(data));
    connection->send({'0', '1', '0', 'C', '\r'});
    ASSERT_TRUE(readable.read(data));
    EXPECT_EQ(data, (Bytes{'0', '1', '0', 'C', '\r'}));

    writable.write({'4', '1', '>'});
    Bytes received;
    ASSERT_TRUE(connection->receive(received, 0));
    EXPECT_EQ(received, (Bytes{'4', '1', '>'}));

    EXPECT_TRUE(duplex.isValid());
    EXPECT_TRUE(bridge->invalidate());
    EXPECT_FALSE(duplex.isValid());
    EXPECT_FALSE(connection->isValid());
    EXPECT_FALSE(bridge->invalidate());
    expectUndo(*manager, &listener, attached);
}

}  // namespace
