// read-codes: reads the trouble codes of a vehicle through an ELM327
// adapter and, when asked, clears them.
//
//   read-codes tcp://192.168.0.10:35000          (a Wi-Fi adapter)
//   read-codes ble://AA:BB:CC:DD:EE:FF           (a Bluetooth LE one, Linux)
//   read-codes serial:/dev/ttyUSB0 --clear       (a USB or Bluetooth one)
//
// Try it without a vehicle: run elm327-emulator --port 35000 and give
// tcp://127.0.0.1:35000.

#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "obd/elm327/AdapterQuorvix.h"
#include "zelt/TroubleCodeRepository.h"
#include "zelt/link/BytePump.h"

namespace {

void Print(const char* title, const zelt::TroubleCodeRepository::TroubleCodes& codes) {
    std::cout << title << ":";
    for (const auto& code : codes) {
        std::cout << ' ' << code->code;
    }
    std::cout << (codes.empty() ? " none\n" : "\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || (argc == 3 && std::strcmp(argv[2], "--clear") != 0) || argc > 3) {
        std::cerr << "usage: read-codes tcp://HOST:PORT|serial:DEVICE[:BAUD] [--clear]\n";
        return 2;
    }
    try {
        // The set-up: the core's root for a real adapter, the link to the
        // adapter, the vehicle connection through it, and a repository.
        auto root = obd::elm327::AdapterQuorvix::create();
        zelt::link::BytePump pump(root->getConnectionManager(), zelt::link::OpenTransport(argv[1]));
        root->getConnectionManager()->setTimeout(5000);  // adapters answer slowly
        if (!pump.bridge().connect(obd::DataLinkProtocol::Automatic, true)) {
            const std::string why =
                pump.lostReason().empty() ? root->lastAdapterError() : pump.lostReason();
            std::cerr << "read-codes: no vehicle connection: " << why << '\n';
            return 1;
        }
        zelt::TroubleCodeRepository codes(root);

        Print("Confirmed", codes.getConfirmedCodes(true));
        Print("Pending", codes.getPendingCodes(true));
        if (argc == 3) {
            const bool cleared = codes.resetTroubleCodes();
            std::cout << (cleared ? "Cleared.\n" : "The vehicle refused to clear the codes.\n");
            Print("Confirmed", codes.getConfirmedCodes(true));
        }
        root->closeConnection();
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "read-codes: " << error.what() << '\n';
        return 1;
    }
}
