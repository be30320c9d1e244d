#pragma once

#include <string>

namespace zelt::publish {

// Checks the TLS material before any connection is tried, so that a wrong
// file is one clear error at the start rather than a failed handshake later:
// each given file is a readable regular file in PEM form, the CA file holds
// certificates, and a client key belongs to its certificate. Throws
// SettingsError naming the file and what is wrong with it.
void CheckTlsFiles(const std::string& caFile, const std::string& certFile,
                   const std::string& keyFile);

}  // namespace zelt::publish
