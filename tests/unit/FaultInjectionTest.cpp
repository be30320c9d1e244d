// Every getter of every repository over a core whose operations fail on
// demand. For each getter and each core operation it calls: the failure
// reaches the caller as the very exception the core threw, the next call
// returns (no mutex left held), and the cache holds what it held before,
// except where the getter empties a slot before asking the core or keeps
// what a composite call read before the failure.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <typeinfo>
#include <utility>
#include <vector>

#include "CoreMocks.h"
#include "HookedCore.h"
#include "obd/ServiceBuilders.h"
#include "obd/sim/Scenario.h"
#include "obd/sim/SimulatedQuorvix.h"
#include "zelt/DiagnosticsRepository.h"
#include "zelt/DongleRepository.h"
#include "zelt/EcuRepository.h"
#include "zelt/ParameterRepository.h"
#include "zelt/RoutineRepository.h"
#include "zelt/TroubleCodeRepository.h"

namespace {

using obd::OxygenSensorLocation;
using obd::ParameterIdentifier::Id;
using ::testing::_;
using ::testing::Contains;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::Return;
using zelt::MilStatus;
using zelt::TroubleCodeType;
using zelt::testing::CoreCall;
using zelt::testing::FakeRoot;
using zelt::testing::HookedCore;
using zelt::testing::MockAdapter;
using zelt::testing::Reply;

// --- the faults ---------------------------------------------------------------

// What an armed core operation throws: a type of its own, so that a test can
// tell it from anything the library or the standard library throws. The
// message names the operation and the call, so no two faults read alike.
class InjectedFault : public std::runtime_error {
public:
    InjectedFault(const std::string& operation, std::uint64_t call)
        : std::runtime_error("injected fault in " + operation + " on call " + std::to_string(call)),
          operation_(operation) {}

    const std::string& operation() const { return operation_; }

private:
    std::string operation_;
};

// A hooked core whose operations throw on demand, whichever service built by
// it makes the call.
class FaultyCore {
public:
    explicit FaultyCore(std::shared_ptr<obd::IQuorvix> inner)
        : core(std::make_shared<HookedCore>(std::move(inner))) {
        core->onCall([this](const CoreCall& call) {
            enter(call);
            return Reply::Forward;
        });
    }
    FaultyCore(const FaultyCore&) = delete;
    FaultyCore& operator=(const FaultyCore&) = delete;

    // Makes the `nth` call of `operation` from now on (1: the next one) throw
    // an InjectedFault. Replaces a fault armed earlier for `operation`; a
    // fault fires once.
    void failOn(const std::string& operation, int nth = 1) {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_[operation] = core->count(operation) + static_cast<std::uint64_t>(nth);
    }
    // The fault thrown last; a caught exception that compares equal is the
    // very object thrown. Null before the first fault.
    std::exception_ptr lastFault() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastFault_;
    }

    const std::shared_ptr<HookedCore> core;

private:
    void enter(const CoreCall& call) {
        std::exception_ptr fault;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto armed = armed_.find(call.operation);
            if (armed == armed_.end() || armed->second != call.number) {
                return;
            }
            armed_.erase(armed);
            fault =
                std::make_exception_ptr(InjectedFault(std::string(call.operation), call.number));
            lastFault_ = fault;
        }
        // Rethrown rather than thrown anew: the caller can then compare what
        // it caught with lastFault() and know it is the very same object.
        std::rethrow_exception(fault);
    }

    mutable std::mutex mutex_;
    std::map<std::string, std::uint64_t, std::less<>> armed_;  // guarded by mutex_
    std::exception_ptr lastFault_;                             // guarded by mutex_
};

// --- answers ------------------------------------------------------------------

// One element of a getter's answer, reduced to what "the same answer" means:
// the record's address for records, the value for anything else. `group`
// sorts the elements of composite answers (the id of an information item, the
// position of a vehicle operation data item) and is 0 elsewhere. The record
// is kept alive, so that no later record can take its address.
struct Element {
    int group = 0;
    std::string identity;
    std::shared_ptr<const void> keepAlive;

    bool operator==(const Element& other) const {
        return group == other.group && identity == other.identity;
    }
};

std::ostream& operator<<(std::ostream& out, const Element& element) {
    return out << element.group << ':' << element.identity;
}

using Answer = std::vector<Element>;

template <typename T>
Element RecordElement(const std::shared_ptr<T>& record, int group = 0) {
    std::ostringstream address;
    address << static_cast<const void*>(record.get());
    return Element{group, address.str(), record};
}

template <typename T>
Answer Record(const std::shared_ptr<T>& record) {
    return {RecordElement(record)};
}

template <typename T>
Answer Records(const std::vector<std::shared_ptr<T>>& records) {
    Answer answer;
    for (const auto& record : records) {
        answer.push_back(RecordElement(record));
    }
    return answer;
}

// Plain values: enumerators, flags, texts.
template <typename T>
Answer Values(const std::vector<T>& values) {
    Answer answer;
    for (const T& value : values) {
        answer.push_back(Element{0, std::to_string(static_cast<long long>(value)), nullptr});
    }
    return answer;
}

Answer Value(bool value) {
    return {Element{0, value ? "true" : "false", nullptr}};
}

Answer Text(const std::shared_ptr<std::string>& text) {
    return {Element{0, text ? '"' + *text + '"' : "null", nullptr}};
}

Answer Text(const std::string& text) {
    return {Element{0, '"' + text + '"', nullptr}};
}

// The cached information items (ids 4 to 13), grouped by id: the first four
// items are made anew on every call.
Answer CachedItems(const std::vector<std::shared_ptr<zelt::InfoDataModel>>& items) {
    Answer answer;
    for (const auto& item : items) {
        if (item->id >= 4) {
            answer.push_back(RecordElement(item, item->id));
        }
    }
    return answer;
}

// Vehicle operation data items, grouped by position.
Answer Positions(const std::vector<std::shared_ptr<obd::VehicleOperationDataModel>>& items) {
    Answer answer;
    for (std::size_t position = 0; position < items.size(); ++position) {
        answer.push_back(RecordElement(items[position], static_cast<int>(position)));
    }
    return answer;
}

Answer Nothing() {
    return {};
}

// --- the table ----------------------------------------------------------------

enum class Cache {
    Kept,     // filled first; afterwards answers as before without asking the core
    Emptied,  // filled first; the failed call emptied it, so the core is asked again
    None,     // nothing a call could keep: the core is asked again
};

// Calls the getter: with false to fill the cache and to look into it after
// the failure, with true for the call that must reach the failing operation.
// Getters without a refresh flag turn true into a key not asked before, or
// into the operation that reaches the core.
template <typename Repository>
using Getter = std::function<Answer(Repository&, bool refresh)>;

template <typename Repository>
struct FaultCase {
    // Composite answers: `failedGroup` is the group whose read fails. The
    // groups before it were read again by the failed call and keep what it
    // read; the others keep what they held. `live` names the operations the
    // getter asks on every call, cache or not.
    FaultCase(std::string getter, std::string operation, Getter<Repository> call, Cache cache,
              int failedGroup = 0, std::vector<std::string> live = {})
        : getter(std::move(getter)),
          operation(std::move(operation)),
          call(std::move(call)),
          cache(cache),
          failedGroup(failedGroup),
          live(std::move(live)) {}

    std::string getter;     // names the test
    std::string operation;  // the core operation armed to fail
    Getter<Repository> call;
    Cache cache;
    int failedGroup;
    std::vector<std::string> live;
};

template <typename Repository>
std::ostream& operator<<(std::ostream& out, const FaultCase<Repository>& fault) {
    return out << fault.getter << " failing in " << fault.operation;
}

// The core the repository runs over: the canned fake, whose every answer is
// worth caching and made of new records on every call, or the simulated core
// over a vehicle that answers every request, with its own event thread.
enum class Core { Canned, Simulated };

std::ostream& operator<<(std::ostream& out, Core core) {
    return out << (core == Core::Canned ? "Canned" : "Simulated");
}

template <typename Repository>
using FaultParam = std::tuple<FaultCase<Repository>, Core>;

template <typename Repository>
auto OverEveryCore(const std::vector<FaultCase<Repository>>& cases) {
    return ::testing::Combine(::testing::ValuesIn(cases),
                              ::testing::Values(Core::Canned, Core::Simulated));
}

// "getDistanceSince(On)" failing in "ISensorService::getSensors" over the
// simulated core becomes getDistanceSince_On_getSensors_Simulated.
template <typename Repository>
std::string CaseName(const ::testing::TestParamInfo<FaultParam<Repository>>& info) {
    const FaultCase<Repository>& fault = std::get<0>(info.param);
    std::ostringstream raw;
    raw << fault.getter << '_' << fault.operation.substr(fault.operation.rfind(':') + 1) << '_'
        << std::get<1>(info.param);
    std::string name;
    for (const char c : raw.str()) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            name += c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    return name;
}

template <typename Repository>
Answer Connected(Repository& repository, bool) {
    return Value(repository.isConnected());
}

// --- the canned core ----------------------------------------------------------

std::shared_ptr<obd::SensorDataModel> SensorData(Id pid, const std::string& value) {
    auto sensor = std::make_shared<obd::SensorDataModel>();
    sensor->uid = obd::Pid2Uid(pid);
    sensor->name = "sensor";
    sensor->value = std::make_shared<obd::SensorValueDataModel>(
        obd::SensorValueDataModel{value, "", "", "", std::nullopt});
    return sensor;
}

std::shared_ptr<obd::ParameterDataModel> ParameterData(Id pid) {
    auto parameter = std::make_shared<obd::ParameterDataModel>();
    parameter->pid = pid;
    parameter->name = "parameter";
    parameter->sensors = {SensorData(pid, "42")};
    return parameter;
}

std::shared_ptr<obd::DtcDataModel> Code(const std::string& text) {
    auto code = std::make_shared<obd::DtcDataModel>();
    code->code = text;
    return code;
}

std::shared_ptr<obd::TestRoutineDataModel> Routine(int id) {
    auto routine = std::make_shared<obd::TestRoutineDataModel>();
    routine->id = id;
    return routine;
}

template <typename T>
std::vector<std::shared_ptr<T>> Fresh(std::size_t count) {
    std::vector<std::shared_ptr<T>> records;
    for (std::size_t i = 0; i < count; ++i) {
        records.push_back(std::make_shared<T>());
    }
    return records;
}

// A fake core whose every operation a getter calls has an answer worth
// caching: items supported, lists not empty, and new records on every call,
// so that an answer read again can be told from the one cached.
std::shared_ptr<FakeRoot> CannedRoot() {
    using Strings = std::vector<std::string>;
    using Codes = std::vector<std::shared_ptr<obd::DtcDataModel>>;
    auto root = std::make_shared<FakeRoot>();

    auto adapter = std::make_shared<::testing::NiceMock<MockAdapter>>();
    ON_CALL(*adapter, getName()).WillByDefault(Return("ELM327"));
    ON_CALL(*adapter, getDescription()).WillByDefault(Return("OBDII to RS232 Interpreter"));
    ON_CALL(*adapter, getIdentification()).WillByDefault(Return("ELM327 v1.5"));
    ON_CALL(*root->connection, isConnected()).WillByDefault(Return(true));
    ON_CALL(*root->connection, getAdapter()).WillByDefault(Return(adapter));

    auto& ecu = *root->ecu;
    ON_CALL(ecu, readParameters()).WillByDefault([] {
        return std::vector<std::shared_ptr<obd::ParameterDataModel>>{
            ParameterData(Id::EngineSpeed), ParameterData(Id::VehicleSpeed)};
    });
    ON_CALL(ecu, isParameterSupported(_)).WillByDefault(Return(true));
    ON_CALL(ecu, readStandard()).WillByDefault(Return("EOBD"));
    ON_CALL(ecu, readProtocol()).WillByDefault(Return("ISO 15765-4 CAN"));
    ON_CALL(ecu, readEcuName()).WillByDefault(Return("ECM"));
    ON_CALL(ecu, readEcuDescription()).WillByDefault(Return("Engine control"));
    ON_CALL(ecu, isVinSupported()).WillByDefault(Return(true));
    ON_CALL(ecu, readVin()).WillByDefault(Return("WVWZZZ1JZXW000001"));
    ON_CALL(ecu, isCalidSupported()).WillByDefault(Return(true));
    ON_CALL(ecu, readCalids()).WillByDefault(Return(Strings{"CAL-A", "CAL-B", "CAL-C"}));
    ON_CALL(ecu, isCvnSupported()).WillByDefault(Return(true));
    ON_CALL(ecu, readCvns()).WillByDefault(Return(Strings{"1A2B3C4D"}));
    ON_CALL(ecu, isEsnSupported()).WillByDefault(Return(true));
    ON_CALL(ecu, readEsn()).WillByDefault(Return("ESN-0001"));
    ON_CALL(ecu, isErotanSupported()).WillByDefault(Return(true));
    ON_CALL(ecu, readErotan()).WillByDefault(Return("e1*2007/46"));
    ON_CALL(ecu, isGtrNumberSupported()).WillByDefault(Return(true));
    ON_CALL(ecu, readGtrNumber()).WillByDefault(Return("GTR-5"));
    ON_CALL(ecu, isFueledEngineOperationSupported()).WillByDefault(Return(true));
    ON_CALL(ecu, readFueledEngineOperation()).WillByDefault(Return("1200"));
    ON_CALL(ecu, isCertificationTestGroupSupported()).WillByDefault(Return(true));
    ON_CALL(ecu, readCertificationTestGroup()).WillByDefault(Return("CTG-1"));
    ON_CALL(ecu, isDistanceTraveledSinceEvapSupported()).WillByDefault(Return(true));
    ON_CALL(ecu, readDistanceTraveledSinceEvap()).WillByDefault(Return("120"));
    ON_CALL(ecu, isMotorcycleCategoryTypeApprovalSupported()).WillByDefault(Return(true));
    ON_CALL(ecu, readMotorcycleCategoryTypeApproval()).WillByDefault(Return("L3e"));

    auto& sensors = *root->sensors;
    ON_CALL(sensors, getPids()).WillByDefault(Return(std::vector<Id>{Id::EngineSpeed}));
    ON_CALL(sensors, getParameter(_)).WillByDefault([](Id pid) { return ParameterData(pid); });
    ON_CALL(sensors, getSensors(_)).WillByDefault([](Id pid) {
        return std::vector<std::shared_ptr<obd::SensorDataModel>>{SensorData(pid, "42")};
    });
    ON_CALL(sensors, isSupported(_)).WillByDefault(Return(true));

    auto& codes = *root->troubleCodes;
    ON_CALL(codes, readConfirmedCodes()).WillByDefault([] {
        return Codes{Code("P0301"), Code("P0420")};
    });
    ON_CALL(codes, readPendingCodes()).WillByDefault([] { return Codes{Code("P0171")}; });
    ON_CALL(codes, readPermanentCodes()).WillByDefault([] { return Codes{Code("P0300")}; });
    ON_CALL(codes, readMilIndicator()).WillByDefault([] {
        return std::make_shared<std::int32_t>(1);
    });
    ON_CALL(codes, readFreezeFrameTroubleCode(_)).WillByDefault([](std::uint8_t) {
        return Code("P0301");
    });
    ON_CALL(codes, readFreezeFramePids(_)).WillByDefault(Return(std::vector<Id>{Id::EngineSpeed}));
    ON_CALL(codes, readFreezeFrameParameter(_, _)).WillByDefault([](std::uint8_t, Id pid) {
        return ParameterData(pid);
    });
    ON_CALL(codes, clearTroubleCodes()).WillByDefault(Return(true));

    auto& diagnostics = *root->diagnostics;
    ON_CALL(diagnostics, getReadinessMonitorsSinceReset()).WillByDefault([] {
        return Fresh<obd::ReadinessMonitorDataModel>(2);
    });
    ON_CALL(diagnostics, getReadinessMonitorsThisCycle()).WillByDefault([] {
        return Fresh<obd::ReadinessMonitorDataModel>(2);
    });
    ON_CALL(diagnostics, getDiagnosticMonitors()).WillByDefault([] {
        return Fresh<obd::DiagnosticMonitorDataModel>(2);
    });
    ON_CALL(diagnostics, getPerformanceCounters()).WillByDefault([] {
        return Fresh<obd::PerformanceCounterDataModel>(2);
    });
    ON_CALL(diagnostics, getOxygenSensorLocations())
        .WillByDefault(Return(std::vector<OxygenSensorLocation>{
            OxygenSensorLocation::Bank1Sensor1, OxygenSensorLocation::Bank1Sensor2}));
    ON_CALL(diagnostics, getOxygenSensorMonitors(_)).WillByDefault([](OxygenSensorLocation) {
        return Fresh<obd::OxygenSensorMonitorDataModel>(2);
    });
    ON_CALL(diagnostics, areOxygenSensorMonitorsComplete()).WillByDefault(Return(true));
    const auto vod = [] { return std::make_shared<obd::VehicleOperationDataModel>(); };
    ON_CALL(diagnostics, getVodEngineRunIdleTime()).WillByDefault(vod);
    ON_CALL(diagnostics, getVodFuelDistanceUsed()).WillByDefault(vod);
    ON_CALL(diagnostics, getVodPkeEoe()).WillByDefault(vod);
    ON_CALL(diagnostics, getVodPsa()).WillByDefault(vod);

    ON_CALL(*root->routines, getTestRoutines()).WillByDefault([] {
        return std::vector<std::shared_ptr<obd::TestRoutineDataModel>>{Routine(1), Routine(3)};
    });
    ON_CALL(*root->routines, activateTestRoutine(_)).WillByDefault([](int id) {
        return Routine(id);
    });

    ON_CALL(*root->troubleshooting, sendMessage(_, _)).WillByDefault(Return("ELM327 v1.5"));
    ON_CALL(*root->troubleshooting, isDataLogEnabled()).WillByDefault(Return(true));
    return root;
}

// A vehicle whose one ECU answers every request a getter makes: every
// information item, codes of every kind, a freeze frame, monitor results for
// two oxygen sensors, a routine and all four vehicle operation data records.
const char* const kEveryAnswer = R"({
  "name": "Every answer",
  "ecus": [
    {
      "address": "0x7E8",
      "name": "ECM",
      "description": "EngineControl",
      "mil": true,
      "codes": { "confirmed": ["P0301", "P0420"], "pending": ["P0171"], "permanent": ["P0420"] },
      "pids": {
        "0x0C": 780, "0x0D": 0, "0x13": "03", "0x1C": "06",
        "0x21": 154, "0x31": 2417, "0x4D": 95, "0x4E": 2880
      },
      "readiness": {
        "sinceReset": { "misfire": "complete", "catalyst": "incomplete", "oxygenSensor": "complete" },
        "thisCycle": { "misfire": "complete", "catalyst": "incomplete", "oxygenSensor": "complete" }
      },
      "freezeFrames": [ { "code": "P0301", "pids": { "0x0C": 2315, "0x0D": 57 } } ],
      "testResults": [
        { "mid": "0x01", "tid": "0x01", "unitAndScaling": "0x0A", "value": 0.45, "minimum": 0.4, "maximum": 0.5 },
        { "mid": "0x02", "tid": "0x07", "unitAndScaling": "0x0A", "value": 0.08, "minimum": 0, "maximum": 0.15 },
        { "mid": "0x21", "tid": "0x80", "unitAndScaling": "0x20", "value": 0.84, "minimum": 0, "maximum": 0.75 }
      ],
      "routines": [ { "tid": "0x01" } ],
      "info": {
        "vin": "WBA3B5C51FK123456",
        "calids": ["0261S12345A0", "1037541236", "1037541237"],
        "cvns": ["1791BC82"],
        "esn": "N13B16A0281734",
        "erotan": "e1*2007/46*0123",
        "gtrNumber": "GTR-15",
        "fueledEngineOperation": 4731,
        "certificationTestGroup": "KBMXV01.6AB1",
        "distanceSinceEvap": 37,
        "motorcycleCategory": "L3e-A2",
        "inUsePerformance": { "obdMonitoringConditions": 412, "ignitionCycles": 1338, "catalystBank1": [96, 412] }
      },
      "vehicleOperationData": {
        "engineRunIdleTime": [1843200, 412300, 0],
        "fuelDistanceUsed": [84512.3, 6321.45],
        "pkeEoe": [51234870, 212004300],
        "psa": [1843200, 412300, 735100]
      }
    }
  ]
})";

// The simulated core is connected before the repository is built: services
// built after an event never hear of it, so no clearing can come later from
// the core's event thread and wipe a cache between two steps of a test.
std::shared_ptr<obd::IQuorvix> MakeCore(Core core) {
    if (core == Core::Canned) {
        return CannedRoot();
    }
    auto vehicle =
        obd::sim::SimulatedQuorvix::create(obd::sim::Scenario::parse(kEveryAnswer, "every answer"));
    if (!vehicle->openConnection()) {
        throw std::runtime_error("the simulated vehicle did not connect");
    }
    return vehicle;
}

// --- the check ----------------------------------------------------------------

// Runs `call` on a thread of its own and returns what it returns or throws.
// A call still running after a minute has deadlocked: its thread can be
// neither joined nor abandoned safely, so the binary stops there.
template <typename Call>
auto Watched(const std::string& what, Call call) -> decltype(call()) {
    auto result = std::async(std::launch::async, std::move(call));
    if (result.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
        ADD_FAILURE() << what << " has not returned after a minute: deadlock";
        std::fflush(stdout);
        std::abort();
    }
    return result.get();
}

// What a caught exception is, for a failure message.
std::string Describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const InjectedFault& fault) {
        return std::string("a copy of the injected fault: ") + fault.what();
    } catch (const std::exception& e) {
        return std::string("an exception of type ") + typeid(e).name() + ": " + e.what();
    } catch (...) {
        return "an exception not derived from std::exception";
    }
}

// The operations called between two counts.
std::set<std::string> CalledBetween(const std::map<std::string, std::uint64_t>& before,
                                    const std::map<std::string, std::uint64_t>& after) {
    std::set<std::string> called;
    for (const auto& entry : after) {
        const auto earlier = before.find(entry.first);
        if (earlier == before.end() || earlier->second < entry.second) {
            called.insert(entry.first);
        }
    }
    return called;
}

// The elements of the groups before `group`, and those of the others.
std::pair<Answer, Answer> SplitAt(const Answer& answer, int group) {
    std::pair<Answer, Answer> parts;
    for (const Element& element : answer) {
        (element.group < group ? parts.first : parts.second).push_back(element);
    }
    return parts;
}

template <typename Repository>
class FaultInjectionTest : public ::testing::TestWithParam<FaultParam<Repository>> {
protected:
    void expectFaultPassesThroughAndCacheHolds() {
        const FaultCase<Repository>& fault = std::get<0>(this->GetParam());

        Answer before;
        if (fault.cache != Cache::None) {
            before = Watched("filling the cache", [&] { return fault.call(repository, false); });
            // Else the row would prove nothing.
            ASSERT_THAT(before, Not(IsEmpty())) << "the core gave nothing to cache";
            ASSERT_TRUE(fault.failedGroup == 0 || std::any_of(before.begin(), before.end(),
                                                              [&](const Element& element) {
                                                                  return element.group ==
                                                                         fault.failedGroup;
                                                              }))
                << "the item whose read fails is not in the answer";
        }

        faults.failOn(fault.operation);
        std::exception_ptr caught;
        try {
            Watched("the failing call", [&] { return fault.call(repository, true); });
        } catch (...) {
            caught = std::current_exception();
        }
        ASSERT_TRUE(caught) << fault.operation << " was not called, or its fault was swallowed";
        EXPECT_TRUE(caught == faults.lastFault())
            << "the injected fault did not arrive unchanged; caught " << Describe(caught);

        const auto counted = faults.core->counts();
        const Answer after =
            Watched("the call after the failure", [&] { return fault.call(repository, false); });
        std::set<std::string> asked = CalledBetween(counted, faults.core->counts());
        for (const std::string& live : fault.live) {
            asked.erase(live);
        }

        switch (fault.cache) {
            case Cache::Kept: {
                EXPECT_THAT(asked, IsEmpty()) << "the cache was not kept";
                const auto [readAgainBefore, keptBefore] = SplitAt(before, fault.failedGroup);
                const auto [readAgain, kept] = SplitAt(after, fault.failedGroup);
                EXPECT_EQ(kept, keptBefore);
                // What the failed call read before the fault stays: new records.
                EXPECT_EQ(readAgain.size(), readAgainBefore.size());
                for (const Element& element : readAgain) {
                    EXPECT_THAT(readAgainBefore, Not(Contains(element)));
                }
                break;
            }
            case Cache::Emptied:
                EXPECT_THAT(asked, Not(IsEmpty())) << "the cache was not emptied";
                break;
            case Cache::None:
                EXPECT_THAT(asked, Contains(fault.operation));
                break;
        }
    }

    FaultyCore faults{MakeCore(std::get<1>(this->GetParam()))};
    Repository repository{faults.core};
};

// --- the repositories ---------------------------------------------------------

using EcuRepositoryFaults = FaultInjectionTest<zelt::EcuRepository>;

std::vector<FaultCase<zelt::EcuRepository>> EcuRepositoryCases() {
    using R = zelt::EcuRepository;
    const std::vector<std::string> live = {"IEcuService::readStandard", "IEcuService::readProtocol",
                                           "IEcuService::readEcuName",
                                           "IEcuService::readEcuDescription"};
    const Getter<R> info = [](R& r, bool refresh) { return CachedItems(r.getEcuInfo(refresh)); };
    const Getter<R> vin = [](R& r, bool refresh) {
        return Text(r.getIdentificationNumber(refresh));
    };
    const Getter<R> parameters = [](R& r, bool refresh) {
        return Records(r.getParameters(refresh));
    };
    const Getter<R> supported = [](R& r, bool) {
        return Value(r.isSupported(r.getParameters(false).front()));
    };
    // The group is the id of the item whose read fails; the four uncached
    // items come before every cached one.
    return {
        {"getEcuInfo", "IEcuService::readStandard", info, Cache::Kept, 4, live},
        {"getEcuInfo", "IEcuService::readProtocol", info, Cache::Kept, 4, live},
        {"getEcuInfo", "IEcuService::readEcuName", info, Cache::Kept, 4, live},
        {"getEcuInfo", "IEcuService::readEcuDescription", info, Cache::Kept, 4, live},
        {"getEcuInfo", "IEcuService::isVinSupported", info, Cache::Kept, 4, live},
        {"getEcuInfo", "IEcuService::readVin", info, Cache::Kept, 4, live},
        {"getEcuInfo", "IEcuService::isCalidSupported", info, Cache::Kept, 5, live},
        {"getEcuInfo", "IEcuService::readCalids", info, Cache::Kept, 5, live},
        {"getEcuInfo", "IEcuService::isCvnSupported", info, Cache::Kept, 6, live},
        {"getEcuInfo", "IEcuService::readCvns", info, Cache::Kept, 6, live},
        {"getEcuInfo", "IEcuService::isEsnSupported", info, Cache::Kept, 7, live},
        {"getEcuInfo", "IEcuService::readEsn", info, Cache::Kept, 7, live},
        {"getEcuInfo", "IEcuService::isErotanSupported", info, Cache::Kept, 8, live},
        {"getEcuInfo", "IEcuService::readErotan", info, Cache::Kept, 8, live},
        {"getEcuInfo", "IEcuService::isGtrNumberSupported", info, Cache::Kept, 9, live},
        {"getEcuInfo", "IEcuService::readGtrNumber", info, Cache::Kept, 9, live},
        {"getEcuInfo", "IEcuService::isFueledEngineOperationSupported", info, Cache::Kept, 10,
         live},
        {"getEcuInfo", "IEcuService::readFueledEngineOperation", info, Cache::Kept, 10, live},
        {"getEcuInfo", "IEcuService::isCertificationTestGroupSupported", info, Cache::Kept, 11,
         live},
        {"getEcuInfo", "IEcuService::readCertificationTestGroup", info, Cache::Kept, 11, live},
        {"getEcuInfo", "IEcuService::isDistanceTraveledSinceEvapSupported", info, Cache::Kept, 12,
         live},
        {"getEcuInfo", "IEcuService::readDistanceTraveledSinceEvap", info, Cache::Kept, 12, live},
        {"getEcuInfo", "IEcuService::isMotorcycleCategoryTypeApprovalSupported", info, Cache::Kept,
         13, live},
        {"getEcuInfo", "IEcuService::readMotorcycleCategoryTypeApproval", info, Cache::Kept, 13,
         live},
        {"getIdentificationNumber", "IEcuService::isVinSupported", vin, Cache::Kept},
        {"getIdentificationNumber", "IEcuService::readVin", vin, Cache::Kept},
        {"getParameters", "IEcuService::readParameters", parameters, Cache::Kept},
        {"isSupported", "IEcuService::isParameterSupported", supported, Cache::None},
        {"isConnected", "IConnectionService::isConnected", Connected<R>, Cache::None},
    };
}

TEST_P(EcuRepositoryFaults, FaultPassesThroughAndTheCacheHolds) {
    expectFaultPassesThroughAndCacheHolds();
}
INSTANTIATE_TEST_SUITE_P(EveryGetter, EcuRepositoryFaults, OverEveryCore(EcuRepositoryCases()),
                         CaseName<zelt::EcuRepository>);

using ParameterRepositoryFaults = FaultInjectionTest<zelt::ParameterRepository>;

std::vector<FaultCase<zelt::ParameterRepository>> ParameterRepositoryCases() {
    using R = zelt::ParameterRepository;
    // Kept until the next clearing once filled, so only an empty cache asks.
    const Getter<R> pids = [](R& r, bool) { return Values(r.getPids()); };
    const Getter<R> parameter = [](R& r, bool refresh) {
        return Record(r.getParameter(refresh ? Id::VehicleSpeed : Id::EngineSpeed));
    };
    const Getter<R> values = [](R& r, bool refresh) {
        return Records(r.getValues(Id::EngineSpeed, refresh));
    };
    return {
        {"getPids", "ISensorService::getPids", pids, Cache::None},
        {"getParameter", "ISensorService::getParameter", parameter, Cache::Kept},
        {"getValues", "ISensorService::getSensors", values, Cache::None},
        {"isConnected", "IConnectionService::isConnected", Connected<R>, Cache::None},
    };
}

TEST_P(ParameterRepositoryFaults, FaultPassesThroughAndTheCacheHolds) {
    expectFaultPassesThroughAndCacheHolds();
}
INSTANTIATE_TEST_SUITE_P(EveryGetter, ParameterRepositoryFaults,
                         OverEveryCore(ParameterRepositoryCases()),
                         CaseName<zelt::ParameterRepository>);

using TroubleCodeRepositoryFaults = FaultInjectionTest<zelt::TroubleCodeRepository>;

std::vector<FaultCase<zelt::TroubleCodeRepository>> TroubleCodeRepositoryCases() {
    using R = zelt::TroubleCodeRepository;
    const Getter<R> confirmed = [](R& r, bool refresh) {
        return Records(r.getConfirmedCodes(refresh));
    };
    const Getter<R> pending = [](R& r, bool refresh) {
        return Records(r.getPendingCodes(refresh));
    };
    const Getter<R> permanent = [](R& r, bool refresh) {
        return Records(r.getPermanentCodes(refresh));
    };
    const auto codes = [](TroubleCodeType type) -> Getter<R> {
        return [type](R& r, bool refresh) { return Records(r.getTroubleCodes(type, refresh)); };
    };
    const Getter<R> mil = [](R& r, bool refresh) { return Record(r.getMilStatus(refresh)); };
    const auto distance = [](MilStatus status) -> Getter<R> {
        return [status](R& r, bool refresh) { return Record(r.getDistanceSince(status, refresh)); };
    };
    const auto runtime = [](MilStatus status) -> Getter<R> {
        return [status](R& r, bool refresh) { return Record(r.getRuntimeSince(status, refresh)); };
    };
    const Getter<R> frameCode = [](R& r, bool refresh) {
        return Record(r.getFreezeFrameTroubleCode(0, refresh));
    };
    const Getter<R> framePids = [](R& r, bool refresh) {
        return Values(r.getFreezeFramePids(0, refresh));
    };
    const Getter<R> frameParameter = [](R& r, bool refresh) {
        return Record(r.getFreezeFrameParameter(0, Id::EngineSpeed, refresh));
    };
    // The reset empties every cache before it asks the vehicle, and again
    // once the vehicle failed; the confirmed codes stand for all of them.
    const Getter<R> reset = [](R& r, bool refresh) {
        if (refresh) {
            r.resetTroubleCodes();
        }
        return Records(r.getConfirmedCodes(false));
    };
    return {
        {"getConfirmedCodes", "ITroubleCodeService::readConfirmedCodes", confirmed, Cache::Kept},
        {"getPendingCodes", "ITroubleCodeService::readPendingCodes", pending, Cache::Kept},
        {"getPermanentCodes", "ITroubleCodeService::readPermanentCodes", permanent, Cache::Kept},
        {"getTroubleCodes(Confirmed)", "ITroubleCodeService::readConfirmedCodes",
         codes(TroubleCodeType::Confirmed), Cache::Kept},
        {"getTroubleCodes(Pending)", "ITroubleCodeService::readPendingCodes",
         codes(TroubleCodeType::Pending), Cache::Kept},
        {"getTroubleCodes(Permanent)", "ITroubleCodeService::readPermanentCodes",
         codes(TroubleCodeType::Permanent), Cache::Kept},
        {"getMilStatus", "ITroubleCodeService::readMilIndicator", mil, Cache::Kept},
        {"getDistanceSince(On)", "ISensorService::isSupported", distance(MilStatus::On),
         Cache::Kept},
        {"getDistanceSince(Off)", "ISensorService::getSensors", distance(MilStatus::Off),
         Cache::Kept},
        {"getRuntimeSince(On)", "ISensorService::getSensors", runtime(MilStatus::On), Cache::Kept},
        {"getRuntimeSince(Off)", "ISensorService::isSupported", runtime(MilStatus::Off),
         Cache::Kept},
        {"getFreezeFrameTroubleCode", "ITroubleCodeService::readFreezeFrameTroubleCode", frameCode,
         Cache::Kept},
        {"getFreezeFramePids", "ITroubleCodeService::readFreezeFramePids", framePids, Cache::Kept},
        {"getFreezeFrameParameter", "ITroubleCodeService::readFreezeFrameParameter", frameParameter,
         Cache::Kept},
        {"resetTroubleCodes", "ITroubleCodeService::clearTroubleCodes", reset, Cache::Emptied},
        {"isConnected", "IConnectionService::isConnected", Connected<R>, Cache::None},
    };
}

TEST_P(TroubleCodeRepositoryFaults, FaultPassesThroughAndTheCacheHolds) {
    expectFaultPassesThroughAndCacheHolds();
}
INSTANTIATE_TEST_SUITE_P(EveryGetter, TroubleCodeRepositoryFaults,
                         OverEveryCore(TroubleCodeRepositoryCases()),
                         CaseName<zelt::TroubleCodeRepository>);

using DiagnosticsRepositoryFaults = FaultInjectionTest<zelt::DiagnosticsRepository>;

std::vector<FaultCase<zelt::DiagnosticsRepository>> DiagnosticsRepositoryCases() {
    using R = zelt::DiagnosticsRepository;
    const Getter<R> sinceReset = [](R& r, bool refresh) {
        return Records(r.getReadinessMonitorsSinceReset(refresh));
    };
    const Getter<R> thisCycle = [](R& r, bool refresh) {
        return Records(r.getReadinessMonitorsThisCycle(refresh));
    };
    const Getter<R> monitors = [](R& r, bool refresh) {
        return Records(r.getDiagnosticMonitors(refresh));
    };
    const Getter<R> counters = [](R& r, bool refresh) {
        return Records(r.getPerformanceCounters(refresh));
    };
    const Getter<R> locations = [](R& r, bool refresh) {
        return Values(r.getOxygenSensorLocations(refresh));
    };
    // A refresh drops the lists of every location before it asks.
    const Getter<R> oxygen = [](R& r, bool refresh) {
        return Records(r.getOxygenSensorMonitors(OxygenSensorLocation::Bank1Sensor1, refresh));
    };
    const Getter<R> oxygenNewLocation = [](R& r, bool refresh) {
        return Records(r.getOxygenSensorMonitors(
            refresh ? OxygenSensorLocation::Bank1Sensor2 : OxygenSensorLocation::Bank1Sensor1,
            false));
    };
    const Getter<R> complete = [](R& r, bool refresh) {
        return Value(r.areOxygenSensorMonitorsComplete(refresh));
    };
    const Getter<R> operation = [](R& r, bool refresh) {
        return Positions(r.getVehicleOperationData(refresh));
    };
    // The group is the position of the item whose read fails.
    return {
        {"getReadinessMonitorsSinceReset", "IDiagnosticsService::getReadinessMonitorsSinceReset",
         sinceReset, Cache::Kept},
        {"getReadinessMonitorsThisCycle", "IDiagnosticsService::getReadinessMonitorsThisCycle",
         thisCycle, Cache::Kept},
        // Asked first, and only while its own cache is empty.
        {"getReadinessMonitorsThisCycle", "IDiagnosticsService::getReadinessMonitorsSinceReset",
         thisCycle, Cache::None},
        {"getDiagnosticMonitors", "IDiagnosticsService::getDiagnosticMonitors", monitors,
         Cache::Kept},
        {"getPerformanceCounters", "IDiagnosticsService::getPerformanceCounters", counters,
         Cache::Kept},
        {"getOxygenSensorLocations", "IDiagnosticsService::getOxygenSensorLocations", locations,
         Cache::Kept},
        {"getOxygenSensorMonitors", "IDiagnosticsService::getOxygenSensorMonitors", oxygen,
         Cache::Emptied},
        {"getOxygenSensorMonitors(new location)", "IDiagnosticsService::getOxygenSensorMonitors",
         oxygenNewLocation, Cache::Kept},
        {"areOxygenSensorMonitorsComplete", "IDiagnosticsService::areOxygenSensorMonitorsComplete",
         complete, Cache::Kept},
        {"getVehicleOperationData", "IDiagnosticsService::getVodEngineRunIdleTime", operation,
         Cache::Kept, 0},
        {"getVehicleOperationData", "IDiagnosticsService::getVodFuelDistanceUsed", operation,
         Cache::Kept, 1},
        {"getVehicleOperationData", "IDiagnosticsService::getVodPkeEoe", operation, Cache::Kept, 2},
        {"getVehicleOperationData", "IDiagnosticsService::getVodPsa", operation, Cache::Kept, 3},
        {"isConnected", "IConnectionService::isConnected", Connected<R>, Cache::None},
    };
}

TEST_P(DiagnosticsRepositoryFaults, FaultPassesThroughAndTheCacheHolds) {
    expectFaultPassesThroughAndCacheHolds();
}
INSTANTIATE_TEST_SUITE_P(EveryGetter, DiagnosticsRepositoryFaults,
                         OverEveryCore(DiagnosticsRepositoryCases()),
                         CaseName<zelt::DiagnosticsRepository>);

using RoutineRepositoryFaults = FaultInjectionTest<zelt::RoutineRepository>;

std::vector<FaultCase<zelt::RoutineRepository>> RoutineRepositoryCases() {
    using R = zelt::RoutineRepository;
    const Getter<R> routines = [](R& r, bool refresh) {
        return Records(r.getTestRoutines(refresh));
    };
    const Getter<R> activate = [](R& r, bool refresh) {
        if (refresh) {
            r.activateTestRoutine(1);
        }
        return Records(r.getTestRoutines(false));
    };
    return {
        {"getTestRoutines", "IRoutineService::getTestRoutines", routines, Cache::Kept},
        {"activateTestRoutine", "IRoutineService::activateTestRoutine", activate, Cache::Kept},
        {"isConnected", "IConnectionService::isConnected", Connected<R>, Cache::None},
    };
}

TEST_P(RoutineRepositoryFaults, FaultPassesThroughAndTheCacheHolds) {
    expectFaultPassesThroughAndCacheHolds();
}
INSTANTIATE_TEST_SUITE_P(EveryGetter, RoutineRepositoryFaults,
                         OverEveryCore(RoutineRepositoryCases()),
                         CaseName<zelt::RoutineRepository>);

using DongleRepositoryFaults = FaultInjectionTest<zelt::DongleRepository>;

std::vector<FaultCase<zelt::DongleRepository>> DongleRepositoryCases() {
    using R = zelt::DongleRepository;
    const Getter<R> voltage = [](R& r, bool refresh) {
        return Record(r.getBatteryVoltage(refresh));
    };
    const Getter<R> name = [](R& r, bool) { return Text(r.getHardwareName()); };
    const Getter<R> description = [](R& r, bool) { return Text(r.getHardwareDescription()); };
    const Getter<R> identification = [](R& r, bool) { return Text(r.getHardwareIdentification()); };
    const Getter<R> send = [](R& r, bool) { return Text(r.sendMessage("ATI", 1000)); };
    const Getter<R> enable = [](R& r, bool) {
        r.enableDataLog();
        return Nothing();
    };
    const Getter<R> disable = [](R& r, bool) {
        r.disableDataLog();
        return Nothing();
    };
    const Getter<R> enabled = [](R& r, bool) { return Value(r.isDataLogEnabled()); };
    return {
        {"getBatteryVoltage", "ISensorService::getSensors", voltage, Cache::Kept},
        {"getHardwareName", "IConnectionService::getAdapter", name, Cache::None},
        {"getHardwareName", "IAdapter::getName", name, Cache::None},
        {"getHardwareDescription", "IConnectionService::getAdapter", description, Cache::None},
        {"getHardwareDescription", "IAdapter::getDescription", description, Cache::None},
        {"getHardwareIdentification", "IConnectionService::getAdapter", identification,
         Cache::None},
        {"getHardwareIdentification", "IAdapter::getIdentification", identification, Cache::None},
        {"sendMessage", "ITroubleshootingService::sendMessage", send, Cache::None},
        {"enableDataLog", "ITroubleshootingService::enableDataLog", enable, Cache::None},
        {"disableDataLog", "ITroubleshootingService::disableDataLog", disable, Cache::None},
        {"isDataLogEnabled", "ITroubleshootingService::isDataLogEnabled", enabled, Cache::None},
        {"isConnected", "IConnectionService::isConnected", Connected<R>, Cache::None},
    };
}

TEST_P(DongleRepositoryFaults, FaultPassesThroughAndTheCacheHolds) {
    expectFaultPassesThroughAndCacheHolds();
}
INSTANTIATE_TEST_SUITE_P(EveryGetter, DongleRepositoryFaults,
                         OverEveryCore(DongleRepositoryCases()), CaseName<zelt::DongleRepository>);

// --- the hooked core itself -----------------------------------------------------

class HookedCoreTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeRoot> inner = CannedRoot();
    FaultyCore faults{inner};
    const std::shared_ptr<HookedCore>& core = faults.core;
};

TEST_F(HookedCoreTest, ArmedOperationThrowsOnItsNthCallOnly) {
    const auto routines =
        obd::RoutineServiceBuilder::create(core, obd::ConnectionServiceBuilder::create(core));
    routines->getTestRoutines();
    faults.failOn("IRoutineService::getTestRoutines", 2);

    routines->getTestRoutines();
    try {
        routines->getTestRoutines();
        ADD_FAILURE() << "the second call from arming did not throw";
    } catch (const InjectedFault& fault) {
        EXPECT_EQ(fault.operation(), "IRoutineService::getTestRoutines");
        EXPECT_STREQ(fault.what(), "injected fault in IRoutineService::getTestRoutines on call 3");
    }
    EXPECT_NO_THROW(routines->getTestRoutines());
    EXPECT_EQ(core->count("IRoutineService::getTestRoutines"), 4u);
}

TEST_F(HookedCoreTest, InnerServicesAreBuiltWithTheInnerConnectionAndTheirEventsArrive) {
    zelt::RoutineRepository repository(core);
    for (const auto& connection : inner->connectionsPassed) {
        EXPECT_EQ(connection, inner->connection);
    }
    repository.getTestRoutines(false);
    faults.failOn("IRoutineService::getTestRoutines");
    EXPECT_THROW(repository.getTestRoutines(true), InjectedFault);

    // The repository attached through the wrapper and still hears the core.
    inner->connection->fireEcuChanged();
    const auto counted = core->count("IRoutineService::getTestRoutines");
    repository.getTestRoutines(false);
    EXPECT_EQ(core->count("IRoutineService::getTestRoutines"), counted + 1);
}

TEST_F(HookedCoreTest, EmptyReplyAnswersInTheCoresPlaceAndAnswersAreSeen) {
    std::vector<std::string> seen;
    core->onAnswer([&](const CoreCall& call, const zelt::testing::CoreAnswer& answer) {
        seen.push_back(std::string(call.operation) + "(" + call.arguments + ") " +
                       answer.describe());
    });
    const auto routines =
        obd::RoutineServiceBuilder::create(core, obd::ConnectionServiceBuilder::create(core));
    EXPECT_NE(routines->activateTestRoutine(3), nullptr);
    core->onCall([](const CoreCall&) { return Reply::Empty; });
    EXPECT_EQ(routines->activateTestRoutine(3), nullptr);
    EXPECT_THAT(routines->getTestRoutines(), IsEmpty());
    EXPECT_THAT(seen, ::testing::ElementsAre("IRoutineService::activateTestRoutine(3) 3|||0|"));
}

}  // namespace
