#include "TlsFiles.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "zelt/publish/BrokerAddress.h"

namespace zelt::publish {

namespace {

void CheckReadable(const std::string& what, const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        throw SettingsError("the " + what + " '" + path + "' is a directory, not a PEM file");
    }
    errno = 0;
    if (!std::ifstream(path, std::ios::binary)) {
        throw SettingsError("cannot read the " + what + " '" + path + "'" +
                            (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
    }
}

// OpenSSL's reason for the last failure, for the user.
std::string LastReason() {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? std::string(" (") + reason + ")" : "";
}

}  // namespace

void CheckTlsFiles(const std::string& caFile, const std::string& certFile,
                   const std::string& keyFile) {
    if (certFile.empty() != keyFile.empty()) {
        throw SettingsError("a client certificate needs its key, and a key its certificate");
    }
    for (const auto& [what, path] :
         {std::pair{"CA file", &caFile}, std::pair{"certificate", &certFile},
          std::pair{"key", &keyFile}}) {
        if (!path->empty()) {
            CheckReadable(what, *path);
        }
    }
    const std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context(SSL_CTX_new(TLS_client_method()),
                                                               SSL_CTX_free);
    if (!context) {
        throw SettingsError("cannot check the TLS files: OpenSSL failed" + LastReason());
    }
    if (!caFile.empty() &&
        SSL_CTX_load_verify_locations(context.get(), caFile.c_str(), nullptr) != 1) {
        throw SettingsError("the CA file '" + caFile + "' holds no PEM certificate" + LastReason());
    }
    if (certFile.empty()) {
        return;
    }
    if (SSL_CTX_use_certificate_chain_file(context.get(), certFile.c_str()) != 1) {
        throw SettingsError("the certificate '" + certFile + "' is not a PEM certificate" +
                            LastReason());
    }
    const bool keyLoaded =
        SSL_CTX_use_PrivateKey_file(context.get(), keyFile.c_str(), SSL_FILETYPE_PEM) == 1;
    if (!keyLoaded && ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH) {
        ERR_clear_error();
        throw SettingsError("the key '" + keyFile + "' does not belong to the certificate '" +
                            certFile + "'");
    }
    if (!keyLoaded) {
        throw SettingsError("the key '" + keyFile +
                            "' is not a PEM private key without a "
                            "passphrase" +
                            LastReason());
    }
    if (SSL_CTX_check_private_key(context.get()) != 1) {
        throw SettingsError("the key '" + keyFile + "' does not belong to the certificate '" +
                            certFile + "'");
    }
}

}  // namespace zelt::publish
