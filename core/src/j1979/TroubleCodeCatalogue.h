#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace obd::detail {

// A code the core knows the SAE J2012 title of.
struct TroubleCodeTitle {
    std::string_view code;  // "P0301"
    std::string_view title;
};

// The titles of the generic codes, read from the title file: rows sorted by
// code, viewing `text`. Empty when the file is absent or was refused.
struct TroubleCodeTitles {
    std::string text;
    std::vector<TroubleCodeTitle> rows;
};

// The title file is data under a licence of its own, installed beside the
// core rather than built into it: the file ZELT_TROUBLE_CODES names, else
// the one the install put under share/zelt. Without it every code is
// described by its group.
//
// Thread safety: every function may be called from any thread. The file is
// read once, on first use; a caller keeps the titles it got alive.
std::shared_ptr<const TroubleCodeTitles> TroubleCodeCatalogue();

// Reads the titles from `path` from now on, instead of the file the
// environment or the install names (an empty path: back to those); the next
// use reads it. For tests and for embedders that ship the file elsewhere.
void SetTroubleCodeTitleFile(const std::string& path);

// Why the title file in use gave no titles ("cannot open ...", "line 7:
// ..."); empty when it was read, or is absent from the install.
std::string TroubleCodeTitleProblem();

// The description of `code` ("P0301"): its title when the catalogue has it;
// otherwise, for a generic code, the system group SAE J2012 files it under
// with the group's code range, e.g. "Ignition System or Misfire (P03xx)";
// empty for manufacturer-controlled and malformed codes.
std::string DescribeTroubleCode(const std::string& code);

}  // namespace obd::detail
