#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "CoreMocks.h"
#include "CoreRecords.h"
#include "GettersDuringEvents.h"
#include "zelt/EcuRepository.h"

namespace {

using ::testing::ElementsAre;
using ::testing::Return;
using ::testing::StrictMock;
using zelt::EcuRepository;
using zelt::InfoDataModel;
using zelt::testing::FakeRoot;
using zelt::testing::MakeParameterData;
using zelt::testing::MockEcuService;
using Id = obd::ParameterIdentifier::Id;
using Items = std::vector<std::shared_ptr<InfoDataModel>>;
using Texts = std::vector<std::string>;

constexpr const char* kNotSupported = "Not supported by the vehicle";

// An item as a comparable tuple: id, label, value, fromVehicle.
using ItemTuple = std::tuple<int, std::string, std::string, bool>;

std::vector<ItemTuple> Tuples(const Items& items) {
    std::vector<ItemTuple> tuples;
    for (const auto& item : items) {
        tuples.emplace_back(item->id, item->name, item->value, item->fromVehicle);
    }
    return tuples;
}

std::vector<int> Ids(const Items& items) {
    std::vector<int> ids;
    for (const auto& item : items) {
        ids.push_back(item->id);
    }
    return ids;
}

// An ECU that reports every item.
void ReportEverything(MockEcuService& ecu) {
    ON_CALL(ecu, readStandard).WillByDefault(Return("OBD-II (CARB)"));
    ON_CALL(ecu, readProtocol).WillByDefault(Return("ISO 15765-4 CAN (11 bit ID, 500 kbaud)"));
    ON_CALL(ecu, readEcuName).WillByDefault(Return("ECM-EngineControl"));
    ON_CALL(ecu, readEcuDescription).WillByDefault(Return("Engine control module"));
    ON_CALL(ecu, isVinSupported).WillByDefault(Return(true));
    ON_CALL(ecu, readVin).WillByDefault(Return("WVWZZZ1JZXW000001"));
    ON_CALL(ecu, isCalidSupported).WillByDefault(Return(true));
    ON_CALL(ecu, readCalids).WillByDefault(Return(Texts{"JMB*36761500"}));
    ON_CALL(ecu, isCvnSupported).WillByDefault(Return(true));
    ON_CALL(ecu, readCvns).WillByDefault(Return(Texts{"17291BC8", "00000000"}));
    ON_CALL(ecu, isEsnSupported).WillByDefault(Return(true));
    ON_CALL(ecu, readEsn).WillByDefault(Return("ESN1234"));
    ON_CALL(ecu, isErotanSupported).WillByDefault(Return(true));
    ON_CALL(ecu, readErotan).WillByDefault(Return("e1*2007/46"));
    ON_CALL(ecu, isGtrNumberSupported).WillByDefault(Return(true));
    ON_CALL(ecu, readGtrNumber).WillByDefault(Return("GTR5"));
    ON_CALL(ecu, isFueledEngineOperationSupported).WillByDefault(Return(true));
    ON_CALL(ecu, readFueledEngineOperation).WillByDefault(Return("1234"));
    ON_CALL(ecu, isCertificationTestGroupSupported).WillByDefault(Return(true));
    ON_CALL(ecu, readCertificationTestGroup).WillByDefault(Return("KVGXV02.0VJB"));
    ON_CALL(ecu, isDistanceTraveledSinceEvapSupported).WillByDefault(Return(true));
    ON_CALL(ecu, readDistanceTraveledSinceEvap).WillByDefault(Return("42 km"));
    ON_CALL(ecu, isMotorcycleCategoryTypeApprovalSupported).WillByDefault(Return(true));
    ON_CALL(ecu, readMotorcycleCategoryTypeApproval).WillByDefault(Return("L3e-A2"));
}

class EcuRepositoryTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeRoot> root = std::make_shared<FakeRoot>();
    MockEcuService& ecu = *root->ecu;
};

// --- parameter support -------------------------------------------------------

TEST_F(EcuRepositoryTest, IsSupportedAsksTheCoreEveryTime) {
    EcuRepository repository(root);
    const auto parameter = std::make_shared<zelt::ParameterModel>(
        Id::EngineSpeed, "Engine speed", std::vector<std::shared_ptr<zelt::SensorModel>>{});
    EXPECT_CALL(ecu, isParameterSupported(Id::EngineSpeed))
        .WillOnce(Return(true))
        .WillOnce(Return(false));
    EXPECT_TRUE(repository.isSupported(parameter));
    EXPECT_FALSE(repository.isSupported(parameter));
}

// --- the information list ----------------------------------------------------

TEST_F(EcuRepositoryTest, ListsEveryItemInIdOrderWithItsLabel) {
    ReportEverything(ecu);
    EcuRepository repository(root);
    EXPECT_THAT(
        Tuples(repository.getEcuInfo(false)),
        ElementsAre(
            ItemTuple{0, "OBD Requirements", "OBD-II (CARB)", false},
            ItemTuple{1, "Protocol", "ISO 15765-4 CAN (11 bit ID, 500 kbaud)", false},
            ItemTuple{2, "ECU Name", "ECM-EngineControl", false},
            ItemTuple{3, "ECU Description", "Engine control module", false},
            ItemTuple{4, "Vehicle Identification Number", "WVWZZZ1JZXW000001", true},
            ItemTuple{5, "Calibration Identification", "JMB*36761500", true},
            ItemTuple{6, "Calibration Verification Number #0", "17291BC8", true},
            ItemTuple{6, "Calibration Verification Number #1", "00000000", true},
            ItemTuple{7, "Engine Serial Number", "ESN1234", true},
            ItemTuple{8, "Exhaust Regulation Or Type Approval Number", "e1*2007/46", true},
            ItemTuple{9, "WWH-OBD GTR Number", "GTR5", true},
            ItemTuple{10, "Fueled Engine Operation Ignition Cycle Counter", "1234", true},
            ItemTuple{11, "Certification Test Group/Engine Family Number", "KVGXV02.0VJB", true},
            ItemTuple{12, "Distance Traveled Since Evap Monitoring Decision", "42 km", true},
            ItemTuple{13, "Applicable Motorcycle Category for Type Approval", "L3e-A2", true}));
}

TEST_F(EcuRepositoryTest, NothingSupportedGivesPlaceholdersForVinCalidsCvnsAndEsnOnly) {
    // The NiceMock answers every support test with false and every text empty.
    EcuRepository repository(root);
    EXPECT_CALL(ecu, readVin).Times(0);
    EXPECT_CALL(ecu, readErotan).Times(0);
    EXPECT_THAT(
        Tuples(repository.getEcuInfo(false)),
        ElementsAre(ItemTuple{2, "ECU Name", "", false}, ItemTuple{3, "ECU Description", "", false},
                    ItemTuple{4, "Vehicle Identification Number", kNotSupported, false},
                    ItemTuple{5, "Calibration Identifications", kNotSupported, false},
                    ItemTuple{6, "Calibration Verification Numbers", kNotSupported, false},
                    ItemTuple{7, "Engine Serial Number", kNotSupported, false}));
    EXPECT_EQ(repository.getIdentificationNumber(false), nullptr);
}

TEST_F(EcuRepositoryTest, EmptyStandardAndProtocolAreLeftOutButAnEmptyNameIsListed) {
    ReportEverything(ecu);
    ON_CALL(ecu, readStandard).WillByDefault(Return(""));
    ON_CALL(ecu, readProtocol).WillByDefault(Return(""));
    ON_CALL(ecu, readEcuName).WillByDefault(Return(""));
    EcuRepository repository(root);
    const auto items = repository.getEcuInfo(false);
    ASSERT_GE(items.size(), 2u);
    EXPECT_EQ(Tuples({items[0]}).front(), (ItemTuple{2, "ECU Name", "", false}));
    EXPECT_EQ(items[1]->id, 3);
}

TEST_F(EcuRepositoryTest, SeveralCalibrationIdsAreNumberedFromZeroInTheCoreOrder) {
    ReportEverything(ecu);
    ON_CALL(ecu, readCalids).WillByDefault(Return(Texts{"C", "A", "B"}));
    EcuRepository repository(root);
    Items calids;
    for (const auto& item : repository.getEcuInfo(false)) {
        if (item->id == 5) {
            calids.push_back(item);
        }
    }
    EXPECT_THAT(Tuples(calids),
                ElementsAre(ItemTuple{5, "Calibration Identification #0", "C", true},
                            ItemTuple{5, "Calibration Identification #1", "A", true},
                            ItemTuple{5, "Calibration Identification #2", "B", true}));
}

TEST_F(EcuRepositoryTest, SupportedButEmptyCalibrationListGivesNoItemAndIsCached) {
    ReportEverything(ecu);
    EXPECT_CALL(ecu, isCalidSupported).Times(1).WillOnce(Return(true));
    EXPECT_CALL(ecu, readCalids).Times(1).WillOnce(Return(Texts{}));
    EcuRepository repository(root);
    EXPECT_THAT(Ids(repository.getEcuInfo(false)),
                ElementsAre(0, 1, 2, 3, 4, 6, 6, 7, 8, 9, 10, 11, 12, 13));
    EXPECT_THAT(Ids(repository.getEcuInfo(false)),
                ElementsAre(0, 1, 2, 3, 4, 6, 6, 7, 8, 9, 10, 11, 12, 13));
}

TEST_F(EcuRepositoryTest, SecondCallAsksOnlyUncachedItemsAndUnsupportedOptionalItems) {
    auto strict = std::make_shared<StrictMock<MockEcuService>>();
    root->ecu = strict;
    ReportEverything(*strict);
    ON_CALL(*strict, isGtrNumberSupported).WillByDefault(Return(false));
    ON_CALL(*strict, isMotorcycleCategoryTypeApprovalSupported).WillByDefault(Return(false));
    // Asked on both calls.
    EXPECT_CALL(*strict, readStandard).Times(2);
    EXPECT_CALL(*strict, readProtocol).Times(2);
    EXPECT_CALL(*strict, readEcuName).Times(2);
    EXPECT_CALL(*strict, readEcuDescription).Times(2);
    EXPECT_CALL(*strict, isGtrNumberSupported).Times(2);
    EXPECT_CALL(*strict, isMotorcycleCategoryTypeApprovalSupported).Times(2);
    // Asked on the first call only.
    EXPECT_CALL(*strict, isVinSupported);
    EXPECT_CALL(*strict, readVin);
    EXPECT_CALL(*strict, isCalidSupported);
    EXPECT_CALL(*strict, readCalids);
    EXPECT_CALL(*strict, isCvnSupported);
    EXPECT_CALL(*strict, readCvns);
    EXPECT_CALL(*strict, isEsnSupported);
    EXPECT_CALL(*strict, readEsn);
    EXPECT_CALL(*strict, isErotanSupported);
    EXPECT_CALL(*strict, readErotan);
    EXPECT_CALL(*strict, isFueledEngineOperationSupported);
    EXPECT_CALL(*strict, readFueledEngineOperation);
    EXPECT_CALL(*strict, isCertificationTestGroupSupported);
    EXPECT_CALL(*strict, readCertificationTestGroup);
    EXPECT_CALL(*strict, isDistanceTraveledSinceEvapSupported);
    EXPECT_CALL(*strict, readDistanceTraveledSinceEvap);

    EcuRepository repository(root);
    const auto first = repository.getEcuInfo(false);
    const auto second = repository.getEcuInfo(false);
    EXPECT_THAT(Ids(second), ElementsAre(0, 1, 2, 3, 4, 5, 6, 6, 7, 8, 10, 11, 12));
    // Cached items are the same records; uncached ones are made anew.
    EXPECT_EQ(first[4], second[4]);
    EXPECT_EQ(first[8], second[8]);
    EXPECT_NE(first[0], second[0]);
}

TEST_F(EcuRepositoryTest, OptionalItemIsListedOnceTheVehicleSupportsIt) {
    EXPECT_CALL(ecu, isErotanSupported).WillOnce(Return(false)).WillOnce(Return(true));
    EXPECT_CALL(ecu, readErotan).WillOnce(Return("e1"));
    EcuRepository repository(root);
    EXPECT_THAT(Ids(repository.getEcuInfo(false)), ElementsAre(2, 3, 4, 5, 6, 7));
    EXPECT_THAT(Ids(repository.getEcuInfo(false)), ElementsAre(2, 3, 4, 5, 6, 7, 8));
    EXPECT_THAT(Ids(repository.getEcuInfo(false)), ElementsAre(2, 3, 4, 5, 6, 7, 8));
}

TEST_F(EcuRepositoryTest, RefreshReadsEveryCachedItemAgain) {
    ReportEverything(ecu);
    EXPECT_CALL(ecu, readVin).WillOnce(Return("OLDVIN")).WillOnce(Return("NEWVIN"));
    EXPECT_CALL(ecu, readCvns).Times(2).WillRepeatedly(Return(Texts{"1"}));
    EXPECT_CALL(ecu, isEsnSupported).WillOnce(Return(true)).WillOnce(Return(false));
    EcuRepository repository(root);

    const auto before = repository.getEcuInfo(false);
    const auto after = repository.getEcuInfo(true);
    EXPECT_EQ(after[4]->value, "NEWVIN");
    EXPECT_NE(before[5], after[5]);  // the calibration list was rebuilt
    // The ESN is no longer supported: its placeholder replaces the old item.
    EXPECT_EQ(Tuples({after[7]}).front(),
              (ItemTuple{7, "Engine Serial Number", kNotSupported, false}));
}

TEST_F(EcuRepositoryTest, RefreshFindingAnOptionalItemUnsupportedKeepsTheCachedItem) {
    EXPECT_CALL(ecu, isGtrNumberSupported).WillOnce(Return(true)).WillOnce(Return(false));
    EXPECT_CALL(ecu, readGtrNumber).WillOnce(Return("GTR5"));
    EcuRepository repository(root);
    const auto before = repository.getEcuInfo(false);
    const auto after = repository.getEcuInfo(true);
    ASSERT_EQ(before.back()->id, 9);
    EXPECT_EQ(after.back(), before.back());
}

TEST_F(EcuRepositoryTest, CoreExceptionKeepsItemsReadEarlierInTheCallAndReleasesTheMutex) {
    ReportEverything(ecu);
    EXPECT_CALL(ecu, readVin).Times(1).WillOnce(Return("WVWZZZ1JZXW000001"));
    EXPECT_CALL(ecu, readCalids).Times(1).WillOnce(Return(Texts{"CAL"}));
    EXPECT_CALL(ecu, readEsn)
        .WillOnce([]() -> std::string { throw std::runtime_error("no answer"); })
        .WillOnce(Return("ESN"));
    EcuRepository repository(root);

    EXPECT_THROW(repository.getEcuInfo(false), std::runtime_error);
    // The VIN and calibration items read before the failure stay cached; the
    // mutex was released, or this would not return.
    const auto items = repository.getEcuInfo(false);
    EXPECT_EQ(items.size(), 15u);
    ASSERT_NE(repository.getIdentificationNumber(false), nullptr);
    EXPECT_EQ(*repository.getIdentificationNumber(false), "WVWZZZ1JZXW000001");
}

// --- the identification number -----------------------------------------------

TEST_F(EcuRepositoryTest, IdentificationNumberIsACopyOfTheCachedVin) {
    ON_CALL(ecu, isVinSupported).WillByDefault(Return(true));
    EXPECT_CALL(ecu, readVin).Times(1).WillOnce(Return("WVWZZZ1JZXW000001"));
    EcuRepository repository(root);

    const auto vin = repository.getIdentificationNumber(false);
    ASSERT_NE(vin, nullptr);
    EXPECT_EQ(*vin, "WVWZZZ1JZXW000001");
    // getEcuInfo answers from the same cache.
    EXPECT_EQ(repository.getEcuInfo(false).at(2)->value, "WVWZZZ1JZXW000001");
    // Each caller gets its own text.
    EXPECT_NE(repository.getIdentificationNumber(false), vin);
}

TEST_F(EcuRepositoryTest, EmptyVinReportedByTheVehicleIsAnEmptyTextNotNull) {
    ON_CALL(ecu, isVinSupported).WillByDefault(Return(true));
    ON_CALL(ecu, readVin).WillByDefault(Return(""));
    EcuRepository repository(root);
    const auto vin = repository.getIdentificationNumber(true);
    ASSERT_NE(vin, nullptr);
    EXPECT_EQ(*vin, "");
}

// --- parameters --------------------------------------------------------------

TEST_F(EcuRepositoryTest, ParametersAreBuiltInTheCoreOrderAndCached) {
    EXPECT_CALL(ecu, readParameters)
        .Times(1)
        .WillOnce(Return(std::vector<std::shared_ptr<obd::ParameterDataModel>>{
            MakeParameterData(Id::VehicleSpeed, "parameter", "90",
                              MeasurementUnit::KilometersPerHour),
            MakeParameterData(Id::EngineSpeed, "parameter", "800", MeasurementUnit::Rpm)}));
    EcuRepository repository(root);

    const auto first = repository.getParameters(false);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0]->pid, Id::VehicleSpeed);
    EXPECT_EQ(first[0]->sensors.at(0)->value->formattedValue, "90 km/h");
    EXPECT_EQ(first[1]->pid, Id::EngineSpeed);
    EXPECT_EQ(repository.getParameters(false), first);
}

TEST_F(EcuRepositoryTest, ParameterRefreshRebuildsAndAFormattingFailureKeepsTheCache) {
    EXPECT_CALL(ecu, readParameters)
        .WillOnce(Return(std::vector<std::shared_ptr<obd::ParameterDataModel>>{MakeParameterData(
            Id::RunTimeSinceEngineStart, "parameter", "75", MeasurementUnit::Second)}))
        .WillOnce(Return(std::vector<std::shared_ptr<obd::ParameterDataModel>>{MakeParameterData(
            Id::RunTimeSinceEngineStart, "parameter", "NO DATA", MeasurementUnit::Second)}))
        .WillOnce(Return(std::vector<std::shared_ptr<obd::ParameterDataModel>>{}));
    EcuRepository repository(root);

    const auto first = repository.getParameters(false);
    EXPECT_EQ(first.at(0)->sensors.at(0)->value->formattedValue, "1 min 15 s");
    EXPECT_THROW(repository.getParameters(true), std::invalid_argument);
    EXPECT_EQ(repository.getParameters(false), first);
    // An empty answer is cached like any other.
    EXPECT_TRUE(repository.getParameters(true).empty());
    EXPECT_TRUE(repository.getParameters(false).empty());
}

// --- connection events -------------------------------------------------------

TEST_F(EcuRepositoryTest, EachConnectionEventEmptiesBothCaches) {
    ON_CALL(ecu, isVinSupported).WillByDefault(Return(true));
    EXPECT_CALL(ecu, readVin).Times(4).WillRepeatedly(Return("VIN"));
    EXPECT_CALL(ecu, readParameters).Times(4);
    EcuRepository repository(root);

    const auto readBoth = [&] {
        repository.getIdentificationNumber(false);
        repository.getParameters(false);
    };
    readBoth();
    root->connection->fireConnectionOpened();
    readBoth();
    root->connection->fireEcuChanged();
    readBoth();
    root->connection->fireConnectionClosed();
    readBoth();
}

TEST_F(EcuRepositoryTest, EventsFromAnotherThreadWhileGettersRun) {
    ReportEverything(ecu);
    ON_CALL(ecu, readParameters).WillByDefault([] {
        return std::vector<std::shared_ptr<obd::ParameterDataModel>>{
            MakeParameterData(Id::EngineSpeed, "parameter", "800", MeasurementUnit::Rpm)};
    });
    EcuRepository repository(root);

    zelt::testing::RunGettersDuringEvents(*root->connection, 200, 50, [&](int round, int t) {
        const bool refresh = round % 3 == t;
        // Every list is complete and in id order, whatever was cleared.
        EXPECT_THAT(Ids(repository.getEcuInfo(refresh)),
                    ElementsAre(0, 1, 2, 3, 4, 5, 6, 6, 7, 8, 9, 10, 11, 12, 13));
        const auto vin = repository.getIdentificationNumber(refresh);
        ASSERT_NE(vin, nullptr);
        EXPECT_EQ(*vin, "WVWZZZ1JZXW000001");
        EXPECT_EQ(repository.getParameters(refresh).size(), 1u);
    });
}

}  // namespace
