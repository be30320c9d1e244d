// zelt._zelt: the compiled part of the zelt package. The package's
// __init__.py re-exports it; users import zelt.

#include <pybind11/pybind11.h>

#include "Errors.h"
#include "Records.h"
#include "Repositories.h"
#include "Vehicle.h"

PYBIND11_MODULE(_zelt, module) {
    module.doc() = "zelt: OBD-II diagnostics of a simulated vehicle or one behind an ELM327.";
    module.attr("__version__") = ZELT_VERSION;
    zelt::python::RegisterErrors(module);
    zelt::python::BindRecords(module);
    zelt::python::BindRepositories(module);
    zelt::python::BindVehicle(module);
}
