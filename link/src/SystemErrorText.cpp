#include "SystemErrorText.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zelt::link {

std::string SystemErrorText(unsigned long code, const std::string& fallback) {
    std::string message;
#ifdef _WIN32
    char text[256] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                         static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    message.assign(text, length);
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
#endif
    return message.empty() ? fallback + " " + std::to_string(code) : message;
}

}  // namespace zelt::link
