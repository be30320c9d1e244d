#pragma once

#include <string>

namespace zelt::link {

// The system's own text for a Windows error code (GetLastError() or
// WSAGetLastError()), without the trailing line end and full stop, or
// "<fallback> <code>" when the system has none. Elsewhere: the fallback and
// the code, the transports use strerror there.
std::string SystemErrorText(unsigned long code, const std::string& fallback);

}  // namespace zelt::link
