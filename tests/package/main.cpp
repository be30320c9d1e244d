// A consumer of zelt as an application uses it, touching all four libraries:
// the simulated vehicle as the core's root with three repositories over it,
// then the same vehicle behind an ELM327 adapter reached through zelt_link's
// byte pump (the adapter in process, behind zelt_link's transport interface,
// guarded by orvane's mutex). Built against the install tree (find_package,
// pkg-config) and against the source tree (add_subdirectory); exit code 0
// only when both scans worked and agree.
#include <condition_variable>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "obd/elm327/AdapterQuorvix.h"
#include "obd/sim/EmulatedAdapter.h"
#include "obd/sim/SimulatedQuorvix.h"
#include "orvane/Mutex.h"
#include "zelt/EcuRepository.h"
#include "zelt/ParameterRepository.h"
#include "zelt/TroubleCodeRepository.h"
#include "zelt/link/Address.h"
#include "zelt/link/BytePump.h"

namespace {

// What the pump sends goes to the emulated adapter; what it prints comes back.
class EmulatedTransport : public zelt::link::ITransport {
public:
    bool send(const std::uint8_t* data, std::size_t size) override {
        const std::string printed =
            adapter_.receive(std::string_view(reinterpret_cast<const char*>(data), size));
        orvane::MutexLock lock(mutex_);
        printed_ += printed;
        changed_.notify_all();
        return true;
    }
    bool receive(std::vector<std::uint8_t>& data) override {
        orvane::UniqueLock lock(mutex_);
        while (printed_.empty() && !woken_) {
            lock.wait(changed_);
        }
        data.assign(printed_.begin(), printed_.end());
        printed_.clear();
        woken_ = false;
        return true;
    }
    void wake() override {
        orvane::MutexLock lock(mutex_);
        woken_ = true;
        changed_.notify_all();
    }

private:
    obd::sim::EmulatedAdapter adapter_{obd::sim::Scenario::builtIn()};
    orvane::Mutex mutex_;
    std::condition_variable changed_;
    std::string printed_ ORVANE_GUARDED_BY(mutex_);
    bool woken_ ORVANE_GUARDED_BY(mutex_) = false;
};

std::vector<std::string> Codes(const zelt::TroubleCodeRepository::TroubleCodes& codes) {
    std::vector<std::string> texts;
    for (const auto& code : codes) {
        texts.push_back(code->code);
    }
    return texts;
}

// The confirmed codes read through the adapter; empty when it failed.
std::vector<std::string> CodesThroughAdapter() {
    auto root = obd::elm327::AdapterQuorvix::create();
    zelt::link::BytePump pump(root->getConnectionManager(), std::make_unique<EmulatedTransport>());
    if (!pump.bridge().connect(obd::DataLinkProtocol::Automatic, true)) {
        std::cerr << "zelt consumer: no connection through the adapter: " << pump.lostReason()
                  << root->lastAdapterError() << '\n';
        return {};
    }
    const auto codes = Codes(zelt::TroubleCodeRepository(root).getConfirmedCodes(false));
    root->closeConnection();  // before the pump goes
    return codes;
}

}  // namespace

int main() {
    auto vehicle = obd::sim::SimulatedQuorvix::create();
    if (!vehicle->openConnection()) {
        std::cerr << "zelt consumer: the simulated vehicle did not answer\n";
        return 1;
    }
    zelt::EcuRepository ecu(vehicle);
    zelt::TroubleCodeRepository troubleCodes(vehicle);
    zelt::ParameterRepository parameters(vehicle);

    const auto vin = ecu.getIdentificationNumber(false);
    const auto codes = troubleCodes.getConfirmedCodes(false);
    const auto speed = parameters.getValues(obd::ParameterIdentifier::Id::EngineSpeed, true);
    if (!vin || vin->empty() || codes.empty() || speed.empty() || !speed.front()->value) {
        std::cerr << "zelt consumer: the scan came back incomplete\n";
        return 1;
    }
    std::cout << "VIN " << *vin << ", " << codes.size() << " confirmed code(s), first "
              << codes.front()->code << ", engine speed " << speed.front()->value->formattedValue
              << '\n';

    const auto address = zelt::link::Address::Parse("serial:/dev/ttyUSB0");
    if (address.kind != zelt::link::Address::Kind::Serial || address.device != "/dev/ttyUSB0" ||
        !address.detectBaudRate) {
        std::cerr << "zelt consumer: zelt_link read serial:/dev/ttyUSB0 wrongly\n";
        return 1;
    }
    const auto adapterCodes = CodesThroughAdapter();
    if (adapterCodes != Codes(codes)) {
        std::cerr << "zelt consumer: the adapter gave " << adapterCodes.size()
                  << " confirmed code(s), the simulated vehicle " << codes.size() << '\n';
        return 1;
    }
    std::cout << "Through the adapter: the same " << adapterCodes.size() << " code(s)\n";
    return 0;
}
