#pragma once

#include <pybind11/pybind11.h>

#include <memory>

#include "Connection.h"

namespace zelt::python {

// One of the six repositories of a vehicle as Python sees it: the connection
// it reads through. `Repository` names which (zelt::EcuRepository, ...).
template <typename Repository>
struct RepositoryView {
    std::shared_ptr<Connection> connection;
};

// Binds the six repositories (Ecu, Parameters, TroubleCodes, Diagnostics,
// Routines, Adapter) with snake_case methods. Every method releases the GIL
// while the library works.
void BindRepositories(pybind11::module_& module);

}  // namespace zelt::python
