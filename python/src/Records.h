#pragma once

#include <pybind11/pybind11.h>

namespace zelt::python {

// Binds the records the repositories hand out (trouble codes, parameters and
// sensors, information items, monitor results, routines, log entries) as
// read-only Python classes. The Python objects share the library's immutable
// records; nothing is copied.
void BindRecords(pybind11::module_& module);

}  // namespace zelt::python
