#include "zelt/app/Output.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "zelt/app/Errors.h"

namespace zelt::app {

void WriteFlushed(std::ostream& out, const std::string& what, const std::function<void()>& write) {
    errno = 0;
    write();
    out.flush();
    if (!out && errno == EPIPE) {
        throw ReaderGone("the reader of the " + what + " went away");
    }
    if (!out) {
        throw std::runtime_error("cannot write the " + what +
                                 (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
    }
}

}  // namespace zelt::app
