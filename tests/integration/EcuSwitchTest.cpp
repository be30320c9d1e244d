// After selectEcu() returns, no repository answers from a cache filled for
// the ECU selected before, on either root. The fault this catches: the
// caches emptied later, on the core's event thread, so that a read right
// after the switch returned the previous ECU's records.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Describe.h"
#include "SlowAdapter.h"
#include "obd/VehicleRoot.h"
#include "obd/sim/SimulatedQuorvix.h"
#include "zelt/DiagnosticsRepository.h"
#include "zelt/EcuRepository.h"
#include "zelt/ParameterRepository.h"
#include "zelt/RoutineRepository.h"
#include "zelt/TroubleCodeRepository.h"

namespace zelt {
namespace {

using testing::Describe;
using testing::DescribeList;

struct Repositories {
    explicit Repositories(const std::shared_ptr<obd::IQuorvix>& root)
        : ecu(root), parameters(root), codes(root), diagnostics(root), routines(root) {}
    EcuRepository ecu;
    ParameterRepository parameters;
    TroubleCodeRepository codes;
    DiagnosticsRepository diagnostics;
    RoutineRepository routines;
};

// One cached getter of each repository whose answer depends on the ECU.
struct CachedRead {
    const char* name;
    std::function<std::string(Repositories&, bool refresh)> read;
};

const CachedRead kReads[] = {
    {"confirmed codes",
     [](Repositories& r, bool refresh) {
         return DescribeList(r.codes.getConfirmedCodes(refresh));
     }},
    {"PIDs", [](Repositories& r, bool) { return DescribeList(r.parameters.getPids()); }},
    {"readiness",
     [](Repositories& r, bool refresh) {
         return DescribeList(r.diagnostics.getReadinessMonitorsSinceReset(refresh));
     }},
    {"test routines",
     [](Repositories& r, bool refresh) {
         return DescribeList(r.routines.getTestRoutines(refresh));
     }},
    {"ECU information",
     [](Repositories& r, bool refresh) { return DescribeList(r.ecu.getEcuInfo(refresh)); }},
};

// A root with its connection open, and what keeps its vehicle alive.
struct OpenRoot {
    std::shared_ptr<obd::VehicleRoot> root;
    std::shared_ptr<bench::Connected> adapter;  // null for the in-process vehicle
};

struct RootKind {
    const char* name;
    std::function<OpenRoot()> open;
};

const RootKind kRoots[] = {
    {"Simulated",
     [] {
         auto root = obd::sim::SimulatedQuorvix::create();
         root->openConnection();
         return OpenRoot{root, nullptr};
     }},
    {"Adapter",
     [] {
         auto connected = std::make_shared<bench::Connected>(std::chrono::milliseconds(0), 0);
         return OpenRoot{connected->root, connected};
     }},
};

class EcuSwitchTest : public ::testing::TestWithParam<RootKind> {};

TEST_P(EcuSwitchTest, ReadRightAfterSelectingAnotherEcuAnswersForTheNewOne) {
    const OpenRoot open = GetParam().open();
    ASSERT_TRUE(open.root && open.root->isConnectionOpen());
    const std::vector<std::uint32_t> ecus = open.root->getEcuAddresses();
    ASSERT_GE(ecus.size(), 2U);
    Repositories repositories(open.root);

    // What each ECU answers, asked afresh: the PID list has no refresh, so a
    // repository of its own reads it.
    std::map<std::uint32_t, std::vector<std::string>> answers;
    for (std::uint32_t ecu : {ecus[0], ecus[1]}) {
        ASSERT_TRUE(open.root->selectEcu(ecu));
        Repositories fresh(open.root);
        for (const CachedRead& read : kReads) {
            answers[ecu].push_back(read.read(fresh, true));
        }
    }
    for (std::size_t i = 0; i < std::size(kReads); ++i) {
        ASSERT_NE(answers[ecus[0]][i], answers[ecus[1]][i])
            << kReads[i].name << ": the two ECUs must differ for the switch to show";
    }

    for (int round = 0; round < 40; ++round) {
        const std::uint32_t ecu = ecus[round % 2];
        ASSERT_TRUE(open.root->selectEcu(ecu));
        for (std::size_t i = 0; i < std::size(kReads); ++i) {
            EXPECT_EQ(kReads[i].read(repositories, false), answers[ecu][i])
                << kReads[i].name << ", round " << round << ", ECU " << ecu;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothRoots, EcuSwitchTest, ::testing::ValuesIn(kRoots),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zelt
