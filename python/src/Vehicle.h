#pragma once

#include <pybind11/pybind11.h>

namespace zelt::python {

// Binds zelt.Vehicle (a context manager over a Connection, with its six
// repositories, ECU selection, watch and report) and the two ways to get
// one, zelt.simulate() and zelt.connect().
void BindVehicle(pybind11::module_& module);

}  // namespace zelt::python
