#pragma once

// The errors the Python package raises, as C++ exceptions thrown by the
// binding and the Python classes they become (zelt.Error and its subclasses).

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <utility>

namespace zelt::python {

// Any failure of the library: zelt.Error. The subclasses below name the
// failures a caller handles on their own.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Input the caller got wrong (a malformed address, an unknown PID or ECU, a
// scenario that does not load): zelt.BadInput, also a ValueError.
class BadInput : public Error {
public:
    using Error::Error;
};

// The vehicle could not be reached when the connection was opened:
// zelt.ConnectionFailed.
class ConnectionFailed : public Error {
public:
    using Error::Error;
};

// The adapter went away or stopped answering after the connection was
// opened: zelt.AdapterLost.
class AdapterLost : public Error {
public:
    using Error::Error;
};

// A feature this build of the library does not offer: zelt.Unsupported, also
// a NotImplementedError.
class Unsupported : public Error {
public:
    using Error::Error;
};

// Creates the Python exception classes in `module` and translates the C++
// exceptions above, and those the library and the scan throw for bad input,
// into them.
void RegisterErrors(pybind11::module_& module);

}  // namespace zelt::python
