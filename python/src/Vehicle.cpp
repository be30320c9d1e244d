#include "Vehicle.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <variant>

#include "Errors.h"
#include "Repositories.h"
#include "Text.h"
#include "zelt/app/JsonReport.h"
#include "zelt/app/Scanner.h"

namespace zelt::python {

namespace py = pybind11;

namespace {

using Released = py::call_guard<py::gil_scoped_release>;
using Handle = std::shared_ptr<Connection>;

// The scan's report of every ECU as JSON text (schema 1), values in `units`.
// The ECU selected before stays selected.
std::string ReportJson(const Connection& connection, app::UnitSystem units) {
    return connection.read([&](app::Session& session) {
        const auto selected = session.selectedEcu();
        const app::Report report = app::Scan(session, {}, connection.overAdapter());
        session.selectEcu(selected);
        std::ostringstream text;
        app::WriteJson(app::ToJson(report, units), text, -1);
        return text.str();
    });
}

std::string ProtocolText(const std::optional<std::variant<int, std::string>>& protocol) {
    if (!protocol) {
        return "auto";
    }
    if (const int* number = std::get_if<int>(&*protocol)) {
        return std::to_string(*number);
    }
    return std::get<std::string>(*protocol);
}

// A property getter that releases the GIL while it runs (a call guard given
// to def_property_readonly itself would be ignored).
template <typename Getter>
py::cpp_function Property(Getter getter) {
    return py::cpp_function(std::move(getter), Released());
}

template <typename Repository>
RepositoryView<Repository> View(const Handle& vehicle) {
    return {vehicle};
}

}  // namespace

void BindVehicle(py::module_& m) {
    py::class_<Connection, Handle>(m, "Vehicle",
                                   "An open connection to a vehicle, simulated or behind an "
                                   "adapter. A context manager: leaving the block closes it.\n\n"
                                   "Every method may be called from several threads at once.")
        .def("close", &Connection::close, Released(),
             "Closes the connection; later calls raise zelt.Error. Closing twice is harmless.")
        .def_property_readonly("closed", &Connection::closed, "True once close() was called.")
        .def("__enter__", [](const Handle& vehicle) { return vehicle; })
        .def(
            "__exit__", [](Connection& vehicle, const py::args&) { vehicle.close(); }, Released())
        .def_property_readonly(
            "name", [](const Connection& vehicle) { return Text(vehicle.name()); },
            "What was opened: the simulated vehicle's name, or the adapter's address.")
        .def_property_readonly(
            "notices", &Connection::notices,
            "What was learnt while connecting: the serial rate found, the protocol that answered.")
        .def_property_readonly(
            "ecus", Property([](const Connection& vehicle) {
                return vehicle.read([](app::Session& s) { return s.ecuAddresses(); });
            }),
            "The response addresses of the ECUs that answered, e.g. [0x7E8, 0x7E9].")
        .def_property_readonly(
            "selected_ecu", Property([](const Connection& vehicle) {
                return vehicle.read([](app::Session& s) { return s.selectedEcu(); });
            }),
            "The response address of the ECU the repositories read from.")
        .def(
            "select",
            [](const Connection& vehicle, std::int64_t address) { vehicle.select(address); },
            py::arg("address"), Released(),
            "Makes the ECU with response `address` (e.g. 0x7E9) the one every repository reads "
            "from. The selection is shared by all threads: every thread reading through this "
            "vehicle without an ecu= argument reads the ECU last selected by any of them. "
            "Threads that read different ECUs give each read its ECU (ecu=0x7E9), which selects "
            "it for that read alone. Raises zelt.BadInput when no such ECU answered.")
        .def_property_readonly(
            "adapter_error", Property([](const Connection& vehicle) {
                const std::string error = vehicle.session()->adapterError();
                return error.empty() ? std::nullopt : std::optional(ForeignText{error});
            }),
            "The last failure the adapter reported instead of an answer (e.g. 'CAN ERROR'); "
            "None when there was none. What it concerns is missing from the answers.")
        .def_property_readonly("vin", Property([](const Connection& vehicle) {
                                   return Foreign(vehicle.read([](app::Session& s) {
                                       return s.ecu().getIdentificationNumber(false);
                                   }));
                               }),
                               "The vehicle identification number; None when not reported.")
        .def_property_readonly("ecu", &View<EcuRepository>, "The selected ECU's information.")
        .def_property_readonly("parameters", &View<ParameterRepository>, "Live data.")
        .def_property_readonly("trouble_codes", &View<TroubleCodeRepository>,
                               "Trouble codes, the lamp and freeze frames.")
        .def_property_readonly("diagnostics", &View<DiagnosticsRepository>,
                               "Readiness, monitor tests, counters, oxygen sensors.")
        .def_property_readonly("routines", &View<RoutineRepository>, "On-board test routines.")
        .def_property_readonly("adapter", &View<DongleRepository>, "The adapter itself.")
        .def(
            "report",
            [](const Connection& vehicle, const std::string& units) {
                if (units != "metric" && units != "imperial") {
                    throw BadInput("invalid units '" + units + "': give 'metric' or 'imperial'");
                }
                const app::UnitSystem system = app::ParseUnitSystem(units);
                std::string json;
                {
                    py::gil_scoped_release released;
                    json = ReportJson(vehicle, system);
                }
                return py::module_::import("json").attr("loads")(json);
            },
            py::arg("units") = "metric",
            "Reads everything from every ECU and returns zelt-scan's JSON report (schema 1) as "
            "a dict, values in 'metric' or 'imperial' units. The selected ECU stays selected.")
        .def(
            "watch",
            [](const Handle& vehicle, const py::object& pids, double interval,
               const py::object& count) {
                return py::module_::import("zelt._watch")
                    .attr("watch")(vehicle, pids, interval, count);
            },
            py::arg("pids"), py::arg("interval") = 1.0, py::arg("count") = py::none(),
            "Reads `pids` afresh every `interval` seconds, `count` times (None: until the loop "
            "stops), and yields each zelt.Reading as it comes.")
        .def("__repr__", [](const Connection& vehicle) {
            try {
                return py::str("<Vehicle {!r} {}, ECUs {}>")
                    .format(Text(vehicle.name()), vehicle.overAdapter() ? "adapter" : "simulated",
                            EcuList(vehicle.session()->ecuAddresses()));
            } catch (const Error&) {
                return py::str("<Vehicle {!r} closed>").format(Text(vehicle.name()));
            }
        });

    m.def(
        "simulate",
        [](const std::optional<std::filesystem::path>& scenario) {
            return Connection::Simulate(scenario ? std::optional(scenario->string())
                                                 : std::nullopt);
        },
        py::arg("scenario") = py::none(), Released(),
        "Opens the simulated vehicle of the scenario file `scenario` (format: "
        "scenarios/README.md), or the built-in one. Raises zelt.BadInput for a scenario that "
        "does not load.");

    m.def(
        "connect",
        [](const std::string& address,
           const std::optional<std::variant<int, std::string>>& protocol,
           std::optional<double> timeout, const std::optional<std::filesystem::path>& profile) {
            if (profile) {
                throw Unsupported("vehicle profiles are not supported by this version of zelt");
            }
            return Connection::Connect({address, ProtocolText(protocol), timeout});
        },
        py::arg("address"), py::arg("protocol") = py::none(), py::arg("timeout") = py::none(),
        py::arg("profile") = py::none(), Released(),
        "Opens the vehicle behind the ELM327 adapter at `address` ('tcp://HOST:PORT' or "
        "'serial:DEVICE[:BAUD]'). `protocol`: None or 'auto' (the adapter's search), or the "
        "ELM327 protocol number 1 to 9; `timeout`: seconds a request may take (5 by default). "
        "Raises zelt.BadInput for a malformed argument, zelt.ConnectionFailed when the adapter "
        "or the vehicle does not answer, zelt.Unsupported for a profile.");
}

}  // namespace zelt::python
