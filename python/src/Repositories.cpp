#include "Repositories.h"

#include <pybind11/stl.h>

#include "Errors.h"
#include "Text.h"
#include "zelt/app/Report.h"

namespace zelt::python {

namespace py = pybind11;

namespace {

using Id = obd::ParameterIdentifier::Id;
using Released = py::call_guard<py::gil_scoped_release>;

template <typename Repository>
Repository& RepositoryOf(app::Session& session);
template <>
EcuRepository& RepositoryOf(app::Session& session) {
    return session.ecu();
}
template <>
ParameterRepository& RepositoryOf(app::Session& session) {
    return session.parameters();
}
template <>
TroubleCodeRepository& RepositoryOf(app::Session& session) {
    return session.troubleCodes();
}
template <>
DiagnosticsRepository& RepositoryOf(app::Session& session) {
    return session.diagnostics();
}
template <>
RoutineRepository& RepositoryOf(app::Session& session) {
    return session.routines();
}
template <>
DongleRepository& RepositoryOf(app::Session& session) {
    return session.dongle();
}

// Calls `use` with the view's repository, through the connection.
template <typename Repository, typename Use>
auto With(const RepositoryView<Repository>& view, Use&& use) {
    return view.connection->read(
        [&](app::Session& session) { return use(RepositoryOf<Repository>(session)); });
}

// A read's ECU: None reads the vehicle's selection (see Vehicle.select).
using Ecu = std::optional<std::int64_t>;
constexpr const char* kEcu = "ecu";

// As With(), at `ecu` when one is given.
template <typename Repository, typename Use>
auto With(const RepositoryView<Repository>& view, const Ecu& ecu, Use&& use) {
    const auto reading = [&](app::Session& session) {
        return use(RepositoryOf<Repository>(session));
    };
    return ecu ? view.connection->readAt(*ecu, reading) : view.connection->read(reading);
}

// What a method returns, ready for Python: a text from the vehicle decoded
// leniently, anything else as it is.
template <typename Result>
Result Out(Result&& result) {
    return std::forward<Result>(result);
}
std::optional<ForeignText> Out(std::shared_ptr<std::string>&& text) {
    return Foreign(text);
}

template <typename Repository, typename Method, typename... Args>
auto Invoke(Repository& repository, Method method, Args&... args) {
    if constexpr (std::is_void_v<decltype((repository.*method)(args...))>) {
        (repository.*method)(args...);
    } else {
        return Out((repository.*method)(args...));
    }
}

// A method of the view that calls the repository's `method` with the same
// arguments and returns what it returns.
template <typename Repository, typename Result, typename... Args>
auto Forward(Result (Repository::*method)(Args...)) {
    return [method](const RepositoryView<Repository>& view, Args... args) {
        return With(view,
                    [&](Repository& repository) { return Invoke(repository, method, args...); });
    };
}
// As Forward(), with an `ecu` argument last.
template <typename Repository, typename Result, typename... Args>
auto ForwardAt(Result (Repository::*method)(Args...)) {
    return [method](const RepositoryView<Repository>& view, Args... args, const Ecu& ecu) {
        return With(view, ecu,
                    [&](Repository& repository) { return Invoke(repository, method, args...); });
    };
}
template <typename Repository, typename Result, typename... Args>
auto Forward(Result (Repository::*method)(Args...) const) {
    return [method](const RepositoryView<Repository>& view, Args... args) {
        return With(view,
                    [&](Repository& repository) { return Invoke(repository, method, args...); });
    };
}

Id Pid(int pid) {
    if (pid < 0 || pid > 0xFF) {
        throw BadInput("invalid PID " + std::to_string(pid) +
                       ": give a parameter number from 0x00 to 0xFF");
    }
    return static_cast<Id>(pid);
}

std::vector<Id> Pids(const std::vector<int>& pids) {
    std::vector<Id> converted;
    converted.reserve(pids.size());
    for (int pid : pids) {
        converted.push_back(Pid(pid));
    }
    return converted;
}

std::vector<int> Numbers(const std::vector<Id>& pids) {
    std::vector<int> numbers;
    numbers.reserve(pids.size());
    for (Id pid : pids) {
        numbers.push_back(static_cast<int>(pid));
    }
    return numbers;
}

std::uint8_t Frame(int frame) {
    if (frame < 0 || frame > 0xFF) {
        throw BadInput("invalid freeze frame " + std::to_string(frame) +
                       ": give a frame number from 0 to 255");
    }
    return static_cast<std::uint8_t>(frame);
}

obd::OxygenSensorLocation Location(const std::string& text) {
    constexpr int kLocations = 16;
    for (int value = 0; value < kLocations; ++value) {
        const auto location = static_cast<obd::OxygenSensorLocation>(value);
        if (app::LocationText(location) == text) {
            return location;
        }
    }
    throw BadInput("invalid oxygen sensor location '" + text +
                   "': give 'Bank B Sensor S' with B and S from 1 to 4");
}

std::optional<bool> MilOn(const std::shared_ptr<MilStatus>& status) {
    return status ? std::optional<bool>(*status == MilStatus::On) : std::nullopt;
}

// What every repository offers.
template <typename Repository>
py::class_<RepositoryView<Repository>> Bind(py::module_& m, const char* name, const char* doc) {
    return py::class_<RepositoryView<Repository>>(m, name, doc)
        .def("clear_cache", Forward(&Repository::clearCache), Released(),
             "Forgets every cached answer, so the next calls ask the vehicle.")
        .def("is_connected", Forward(&Repository::isConnected), Released(),
             "True while the connection to the vehicle is open.");
}

constexpr const char* kRefresh = "refresh";

void BindEcu(py::module_& m) {
    using Repository = EcuRepository;
    Bind<Repository>(m, "Ecu",
                     "Identity and information of the selected ECU; each read takes "
                     "ecu=ADDRESS, as Parameters' reads do.")
        .def("info", ForwardAt(&Repository::getEcuInfo), py::arg(kRefresh) = false,
             py::arg(kEcu) = py::none(), Released(),
             "The information items (list of Info) in ascending id order.")
        .def("vin", ForwardAt(&Repository::getIdentificationNumber), py::arg(kRefresh) = false,
             py::arg(kEcu) = py::none(), Released(),
             "The vehicle identification number; None when not reported.")
        .def("parameters", ForwardAt(&Repository::getParameters), py::arg(kRefresh) = false,
             py::arg(kEcu) = py::none(), Released(),
             "The parameters (list of Parameter) the ECU supports.");
}

void BindParameters(py::module_& m) {
    using View = RepositoryView<ParameterRepository>;
    Bind<ParameterRepository>(m, "Parameters",
                              "The vehicle's live parameters (PIDs). Every read takes ecu=ADDRESS "
                              "to read that ECU for this read alone; without it, the vehicle's "
                              "selection (Vehicle.select, shared by all threads).")
        .def(
            "pids",
            [](const View& view, const Ecu& ecu) {
                return Numbers(
                    With(view, ecu, [](auto& repository) { return repository.getPids(); }));
            },
            py::arg(kEcu) = py::none(), Released(),
            "The PIDs the vehicle offers, support bitmaps included.")
        .def(
            "parameter",
            [](const View& view, int pid, const Ecu& ecu) {
                const Id id = Pid(pid);
                return With(view, ecu,
                            [&](auto& repository) { return repository.getParameter(id); });
            },
            py::arg("pid"), py::arg(kEcu) = py::none(), Released(),
            "The parameter with its sensors, as first read; None when the vehicle has no "
            "such PID.")
        .def(
            "parameters_of",
            [](const View& view, const std::vector<int>& pids, const Ecu& ecu) {
                const auto ids = Pids(pids);
                return With(view, ecu,
                            [&](auto& repository) { return repository.getParametersOf(ids); });
            },
            py::arg("pids"), py::arg(kEcu) = py::none(), Released(),
            "parameter() of each PID, read together (up to six PIDs per request on CAN).")
        .def(
            "values",
            [](const View& view, int pid, const Ecu& ecu) {
                const Id id = Pid(pid);
                return With(view, ecu,
                            [&](auto& repository) { return repository.getValues(id, true); });
            },
            py::arg("pid"), py::arg(kEcu) = py::none(), Released(),
            "The parameter's sensors (list of Sensor) read now; empty when there is no answer.")
        .def(
            "values_of",
            [](const View& view, const std::vector<int>& pids, const Ecu& ecu) {
                const auto ids = Pids(pids);
                return With(view, ecu,
                            [&](auto& repository) { return repository.getValuesOf(ids); });
            },
            py::arg("pids"), py::arg(kEcu) = py::none(), Released(),
            "values() of each PID, read now and together (up to six PIDs per request on CAN).");
}

void BindTroubleCodes(py::module_& m) {
    using Repository = TroubleCodeRepository;
    using View = RepositoryView<Repository>;
    const auto since = [](std::shared_ptr<SensorModel> (Repository::*getter)(MilStatus, bool),
                          MilStatus status) {
        return [getter, status](const View& view, bool refresh) {
            return With(view, [&](Repository& repository) {
                return (repository.*getter)(status, refresh);
            });
        };
    };
    Bind<Repository>(m, "TroubleCodes",
                     "The trouble codes of the selected ECU, its lamp and freeze frames. The "
                     "codes and the lamp take ecu=ADDRESS, as Parameters' reads do.")
        .def("confirmed", ForwardAt(&Repository::getConfirmedCodes), py::arg(kRefresh) = false,
             py::arg(kEcu) = py::none(), Released(),
             "The confirmed (stored) codes, list of TroubleCode.")
        .def("pending", ForwardAt(&Repository::getPendingCodes), py::arg(kRefresh) = false,
             py::arg(kEcu) = py::none(), Released(), "The pending codes.")
        .def("permanent", ForwardAt(&Repository::getPermanentCodes), py::arg(kRefresh) = false,
             py::arg(kEcu) = py::none(), Released(), "The permanent codes.")
        .def("catalogue", Forward(&Repository::getAllTroubleCodes), Released(),
             "Every code the library knows, whatever the vehicle.")
        .def(
            "mil",
            [](const View& view, bool refresh, const Ecu& ecu) {
                return MilOn(
                    With(view, ecu, [&](Repository& r) { return r.getMilStatus(refresh); }));
            },
            py::arg(kRefresh) = false, py::arg(kEcu) = py::none(), Released(),
            "True when the malfunction indicator lamp is on; None when never read.")
        .def("distance_with_mil_on", since(&Repository::getDistanceSince, MilStatus::On),
             py::arg(kRefresh) = false, Released(),
             "Distance travelled with the lamp on (Sensor); None when not reported.")
        .def("distance_since_cleared", since(&Repository::getDistanceSince, MilStatus::Off),
             py::arg(kRefresh) = false, Released(),
             "Distance travelled since the codes were cleared (Sensor); None when not reported.")
        .def("run_time_with_mil_on", since(&Repository::getRuntimeSince, MilStatus::On),
             py::arg(kRefresh) = false, Released(),
             "Engine run time with the lamp on (Sensor); None when not reported.")
        .def("run_time_since_cleared", since(&Repository::getRuntimeSince, MilStatus::Off),
             py::arg(kRefresh) = false, Released(),
             "Engine run time since the codes were cleared (Sensor); None when not reported.")
        .def(
            "freeze_frame_code",
            [](const View& view, int frame, bool refresh) {
                const auto number = Frame(frame);
                return With(view, [&](Repository& r) {
                    return r.getFreezeFrameTroubleCode(number, refresh);
                });
            },
            py::arg("frame") = 0, py::arg(kRefresh) = false, Released(),
            "The code that stored freeze frame `frame`; None when there is none.")
        .def(
            "freeze_frame_pids",
            [](const View& view, int frame, bool refresh) {
                const auto number = Frame(frame);
                return Numbers(With(
                    view, [&](Repository& r) { return r.getFreezeFramePids(number, refresh); }));
            },
            py::arg("frame") = 0, py::arg(kRefresh) = false, Released(),
            "The PIDs stored in freeze frame `frame`.")
        .def(
            "freeze_frame_parameter",
            [](const View& view, int pid, int frame, bool refresh) {
                const Id id = Pid(pid);
                const auto number = Frame(frame);
                return With(view, [&](Repository& r) {
                    return r.getFreezeFrameParameter(number, id, refresh);
                });
            },
            py::arg("pid"), py::arg("frame") = 0, py::arg(kRefresh) = false, Released(),
            "The parameter `pid` as stored in freeze frame `frame`; None when not stored.")
        .def("clear", Forward(&Repository::resetTroubleCodes), Released(),
             "Clears the trouble codes in the vehicle; True when it accepted.");
}

void BindDiagnostics(py::module_& m) {
    using Repository = DiagnosticsRepository;
    using View = RepositoryView<Repository>;
    Bind<Repository>(m, "Diagnostics", "The on-board monitoring results of the selected ECU.")
        .def("readiness", Forward(&Repository::getReadinessMonitorsSinceReset),
             py::arg(kRefresh) = false, Released(),
             "The readiness monitors since the codes were cleared (list of Readiness).")
        .def("readiness_this_cycle", Forward(&Repository::getReadinessMonitorsThisCycle),
             py::arg(kRefresh) = false, Released(), "The readiness monitors of this drive cycle.")
        .def("monitor_tests", Forward(&Repository::getDiagnosticMonitors),
             py::arg(kRefresh) = false, Released(),
             "The on-board monitor test results (list of MonitorTest).")
        .def("performance_counters", Forward(&Repository::getPerformanceCounters),
             py::arg(kRefresh) = false, Released(),
             "The in-use performance counters (list of PerformanceCounter).")
        .def(
            "oxygen_sensor_locations",
            [](const View& view, bool refresh) {
                std::vector<std::string> names;
                for (auto location : With(view, [&](Repository& r) {
                         return r.getOxygenSensorLocations(refresh);
                     })) {
                    names.push_back(app::LocationText(location));
                }
                return names;
            },
            py::arg(kRefresh) = false, Released(),
            "Where the oxygen sensors sit, e.g. ['Bank 1 Sensor 1', 'Bank 1 Sensor 2'].")
        .def(
            "oxygen_sensor_tests",
            [](const View& view, const std::string& location, bool refresh) {
                const auto where = Location(location);
                return With(
                    view, [&](Repository& r) { return r.getOxygenSensorMonitors(where, refresh); });
            },
            py::arg("location"), py::arg(kRefresh) = false, Released(),
            "The monitor results of the sensor at `location` (list of OxygenSensorTest).")
        .def("oxygen_sensor_monitors_complete",
             Forward(&Repository::areOxygenSensorMonitorsComplete), py::arg(kRefresh) = false,
             Released(), "The vehicle's verdict on those monitors.")
        .def("vehicle_operation_data", Forward(&Repository::getVehicleOperationData),
             py::arg(kRefresh) = false, Released(),
             "Engine run and idle time, fuel and distance used, ... (list of "
             "VehicleOperationData).");
}

void BindRoutines(py::module_& m) {
    using Repository = RoutineRepository;
    Bind<Repository>(m, "Routines", "The on-board test routines of the selected ECU.")
        .def("test_routines", Forward(&Repository::getTestRoutines), py::arg(kRefresh) = false,
             Released(), "The routines (list of Routine) in ascending id order.")
        .def(
            "activate",
            [](const RepositoryView<Repository>& view, int id) {
                // A test id is one byte (SAE J1979 service $08).
                if (id < 0 || id > 0xFF) {
                    throw BadInput("invalid test id " + std::to_string(id) +
                                   ": give a routine id from 0x00 to 0xFF");
                }
                return Forward(&Repository::activateTestRoutine)(view, id);
            },
            py::arg("id"), Released(),
            "Runs routine `id` (0x00 to 0xFF) and returns it with the vehicle's answer; None when "
            "nothing ran. Raises zelt.BadInput for an id out of range.");
}

void BindAdapter(py::module_& m) {
    using Repository = DongleRepository;
    using View = RepositoryView<Repository>;
    Bind<Repository>(m, "Adapter", "What concerns the OBD adapter rather than the vehicle.")
        .def("name", Forward(&Repository::getHardwareName), Released(),
             "The adapter's name; None when unknown.")
        .def("description", Forward(&Repository::getHardwareDescription), Released(),
             "The adapter's description; None when unknown.")
        .def("identification", Forward(&Repository::getHardwareIdentification), Released(),
             "What the adapter says it is, e.g. 'ELM327 v1.5'; None when unknown.")
        .def("battery_voltage", Forward(&Repository::getBatteryVoltage), py::arg(kRefresh) = false,
             Released(), "The battery voltage text, e.g. '14.2 V'; None when there is no reading.")
        .def("messages", Forward(&Repository::getMessages), Released(),
             "The data log entries reported so far (list of LogMessage), oldest first.")
        .def(
            "send_message",
            [](const View& view, const std::string& message, double timeout) {
                if (!(timeout >= 0 && timeout <= 60)) {
                    throw BadInput("invalid timeout: give seconds from 0 to 60");
                }
                const auto milliseconds = static_cast<unsigned int>(timeout * 1000);
                return ForeignText{With(
                    view, [&](Repository& r) { return r.sendMessage(message, milliseconds); })};
            },
            py::arg("message"), py::arg("timeout") = 1.0, Released(),
            "Sends `message` through the troubleshooting service and returns its answer.")
        .def("enable_data_log", Forward(&Repository::enableDataLog), Released())
        .def("disable_data_log", Forward(&Repository::disableDataLog), Released())
        .def("is_data_log_enabled", Forward(&Repository::isDataLogEnabled), Released());
}

}  // namespace

void BindRepositories(py::module_& module) {
    BindEcu(module);
    BindParameters(module);
    BindTroubleCodes(module);
    BindDiagnostics(module);
    BindRoutines(module);
    BindAdapter(module);
}

}  // namespace zelt::python
