#include "obd/DtcReader.h"

#include "j1979/TroubleCodeCatalogue.h"

namespace obd {

std::vector<std::shared_ptr<DtcDataModel>> DtcReader::getTroubleCodes() {
    std::vector<std::shared_ptr<DtcDataModel>> codes;
    const auto titles = detail::TroubleCodeCatalogue();
    for (const auto& entry : titles->rows) {
        auto code = std::make_shared<DtcDataModel>();
        code->code = std::string(entry.code);
        code->description = std::string(entry.title);
        code->status = DtcStatus::Known;
        codes.push_back(std::move(code));
    }
    return codes;
}

}  // namespace obd
