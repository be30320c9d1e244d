#include "Errors.h"

#include "Text.h"
#include "obd/sim/Scenario.h"
#include "zelt/app/Session.h"
#include "zelt/link/Address.h"

namespace zelt::python {

namespace py = pybind11;

namespace {

// A new exception class `zelt.<name>` with `bases`, kept alive by the module
// that holds it.
PyObject* NewError(py::module_& module, const char* name, const char* doc, py::tuple bases) {
    const std::string qualified = "zelt." + std::string(name);
    PyObject* error = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
    if (error == nullptr) {
        throw py::error_already_set();
    }
    module.add_object(name, py::handle(error));
    return error;
}

// Sets the Python error `type` with the exception's message.
void Raise(PyObject* type, const std::exception& thrown) {
    PyErr_SetObject(type, Text(thrown.what()).ptr());
}

}  // namespace

void RegisterErrors(py::module_& module) {
    // The classes live as long as the interpreter; the translator below
    // refers to them without a reference of its own.
    static PyObject* error = nullptr;
    static PyObject* badInput = nullptr;
    static PyObject* connectionFailed = nullptr;
    static PyObject* adapterLost = nullptr;
    static PyObject* unsupported = nullptr;

    error = NewError(module, "Error", "Any failure of zelt; the message is the library's.",
                     py::make_tuple(py::handle(PyExc_Exception)));
    badInput = NewError(module, "BadInput",
                        "Input the caller got wrong: a malformed address or value, an unknown "
                        "PID or ECU, a scenario that does not load.",
                        py::make_tuple(py::handle(error), py::handle(PyExc_ValueError)));
    connectionFailed =
        NewError(module, "ConnectionFailed",
                 "The vehicle could not be reached: the adapter or the vehicle did not answer.",
                 py::make_tuple(py::handle(error)));
    adapterLost = NewError(module, "AdapterLost",
                           "The adapter went away or stopped answering during the session.",
                           py::make_tuple(py::handle(error)));
    unsupported =
        NewError(module, "Unsupported", "A feature this build of zelt does not offer.",
                 py::make_tuple(py::handle(error), py::handle(PyExc_NotImplementedError)));

    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            std::rethrow_exception(std::move(thrown));
        } catch (const py::builtin_exception&) {
            throw;  // pybind11's own (a TypeError of an argument, ...)
        } catch (const BadInput& e) {
            Raise(badInput, e);
        } catch (const ConnectionFailed& e) {
            Raise(connectionFailed, e);
        } catch (const AdapterLost& e) {
            Raise(adapterLost, e);
        } catch (const Unsupported& e) {
            Raise(unsupported, e);
        } catch (const app::InputError& e) {
            Raise(badInput, e);
        } catch (const obd::sim::ScenarioError& e) {
            Raise(badInput, e);
        } catch (const link::AddressError& e) {
            Raise(badInput, e);
        } catch (const std::runtime_error& e) {
            Raise(error, e);
        }
    });
}

}  // namespace zelt::python
