#include "Records.h"

#include <pybind11/stl.h>

#include "Text.h"
#include "obd/DiagnosticsDataModels.h"
#include "obd/DtcDataModel.h"
#include "obd/MessageDataModel.h"
#include "obd/TestRoutineDataModel.h"
#include "zelt/MeasurementUnitNames.h"
#include "zelt/Models.h"
#include "zelt/app/Report.h"
#include "zelt/app/Units.h"

namespace zelt::python {

namespace py = pybind11;

namespace {

template <typename Record>
using RecordClass = py::class_<Record, std::shared_ptr<Record>>;

// "<Kind details>", the shape of every record's repr.
py::str Repr(const char* kind, const py::str& details) {
    return py::str("<{} {}>").format(kind, details);
}

std::string Hex(std::uint32_t value) {
    return app::EcuAddressText(value);
}

const char* StatusName(obd::DtcStatus status) {
    switch (status) {
        case obd::DtcStatus::Confirmed:
            return "confirmed";
        case obd::DtcStatus::Pending:
            return "pending";
        case obd::DtcStatus::Permanent:
            return "permanent";
        case obd::DtcStatus::FreezeFrame:
            return "freeze frame";
        case obd::DtcStatus::Known:
            break;
    }
    return "known";
}

const char* DirectionName(obd::MessageDirection direction) {
    switch (direction) {
        case obd::MessageDirection::Request:
            return "request";
        case obd::MessageDirection::Response:
            return "response";
        case obd::MessageDirection::Info:
            break;
    }
    return "info";
}

// The value as the JSON report gives it: a number, or None when the value
// is not one ("Spark ignition") or there is none.
py::object Number(const std::optional<double>& number) {
    return number ? py::object(py::float_(*number)) : py::object(py::none());
}

py::str UnitName(MeasurementUnit unit) {
    return Text(ConvertMeasurementUnitToString(unit));
}

// "0.45 V": a test value with the unit, as the reports show it.
py::str Measured(double value, MeasurementUnit unit) {
    return Text(app::Present(value, unit, app::UnitSystem::Metric).text);
}

// Item ids up to this one are the library's and the adapter's own; above it
// an item the vehicle did not report holds only a placeholder text.
constexpr std::int32_t kLastLocalInfoItem = 3;

void BindTroubleCode(py::module_& m) {
    using Code = obd::DtcDataModel;
    RecordClass<Code>(m, "TroubleCode", "A diagnostic trouble code (SAE J2012).")
        .def_property_readonly(
            "code", [](const Code& c) { return Text(c.code); }, "Five characters, e.g. 'P0301'.")
        .def_property_readonly(
            "description", [](const Code& c) { return TextOrNone(c.description); },
            "The code's title; None when the library knows none.")
        .def_property_readonly(
            "ecu", [](const Code& c) { return c.ecuAddress; },
            "The response address of the ECU that reported it; 0 for catalogue entries.")
        .def_property_readonly(
            "status", [](const Code& c) { return StatusName(c.status); },
            "'confirmed', 'pending', 'permanent', 'freeze frame' or 'known' (catalogue).")
        .def_property_readonly(
            "raw", [](const Code& c) { return c.rawValue; },
            "The two bytes as the vehicle sent them.")
        .def("__repr__", [](const Code& c) {
            return Repr("TroubleCode",
                        py::str("{} {!r} ECU {}")
                            .format(Text(c.code), Text(c.description), Hex(c.ecuAddress)));
        });
}

void BindSensor(py::module_& m) {
    using Sensor = SensorModel;
    RecordClass<Sensor>(m, "Sensor", "One measured quantity of a parameter, as read.")
        .def_property_readonly(
            "pid", [](const Sensor& s) { return static_cast<int>(obd::Uid2Pid(s.uid)); },
            "The parameter (PID) the sensor belongs to.")
        .def_property_readonly(
            "name", [](const Sensor& s) { return Text(s.name); }, "e.g. 'Engine Speed'.")
        .def_property_readonly(
            "value",
            [](const Sensor& s) { return Number(app::Present(s, app::UnitSystem::Metric).number); },
            "The value as a float in `unit`; None when there is none or it is not a number.")
        .def_property_readonly(
            "unit", [](const Sensor& s) { return UnitName(s.unit); },
            "The unit's name ('RPM', 'km/h', '\u00B0C'); '' for none.")
        .def_property_readonly(
            "text",
            [](const Sensor& s) {
                return s.value ? TextOrNone(s.value->formattedValue) : py::none();
            },
            "The value as shown to a reader ('780 RPM'); None when there is none.")
        .def_property_readonly(
            "limits",
            [](const Sensor& s) {
                return s.limits ? py::object(py::make_tuple(s.limits->minimum, s.limits->maximum))
                                : py::object(py::none());
            },
            "(minimum, maximum) a numeric sensor can report; None for other sensors.")
        .def("__repr__", [](const Sensor& s) {
            const std::string text = s.value ? s.value->formattedValue : "";
            return Repr("Sensor", py::str("{}: {}").format(Text(s.name),
                                                           text.empty() ? "no value" : Text(text)));
        });
}

void BindParameter(py::module_& m) {
    using Parameter = ParameterModel;
    RecordClass<Parameter>(m, "Parameter", "An OBD parameter (PID) with its sensors.")
        .def_property_readonly(
            "pid", [](const Parameter& p) { return static_cast<int>(p.pid); }, "e.g. 0x0C.")
        .def_property_readonly(
            "name", [](const Parameter& p) { return Text(p.name); }, "e.g. 'Engine Speed'.")
        .def_property_readonly(
            "sensors", [](const Parameter& p) { return p.sensors; },
            "The parameter's sensors (list of Sensor), with the values read with it.")
        .def("__repr__", [](const Parameter& p) {
            return Repr("Parameter",
                        py::str("{} {!r}, {} sensor(s)")
                            .format(app::PidText(p.pid), Text(p.name), p.sensors.size()));
        });
}

void BindInfo(py::module_& m) {
    using Info = InfoDataModel;
    RecordClass<Info>(m, "Info", "One labelled item of vehicle or ECU information.")
        .def_property_readonly(
            "id", [](const Info& i) { return i.id; }, "The item's id (4 is the VIN).")
        .def_property_readonly(
            "name", [](const Info& i) { return Text(i.name); }, "The label.")
        .def_property_readonly(
            "value",
            [](const Info& i) {
                const bool absent = !i.fromVehicle && i.id > kLastLocalInfoItem;
                return absent ? py::object(py::none()) : py::object(Text(i.value));
            },
            "The value; None when the vehicle does not report the item.")
        .def("__repr__", [](const Info& i) {
            return Repr("Info", py::str("{}: {}").format(Text(i.name), Text(i.value)));
        });
}

void BindDiagnostics(py::module_& m) {
    using Readiness = obd::ReadinessMonitorDataModel;
    RecordClass<Readiness>(m, "Readiness", "A readiness monitor.")
        .def_property_readonly("name", [](const Readiness& r) { return Text(r.name); })
        .def_property_readonly("supported", [](const Readiness& r) { return r.supported; })
        .def_property_readonly("complete", [](const Readiness& r) { return r.complete; })
        .def("__repr__", [](const Readiness& r) {
            return Repr("Readiness",
                        py::str("{}: {}").format(Text(r.name), !r.supported ? "not supported"
                                                               : r.complete ? "complete"
                                                                            : "incomplete"));
        });

    using Test = obd::DiagnosticMonitorDataModel;
    RecordClass<Test>(m, "MonitorTest", "An on-board monitor test result (service 06).")
        .def_property_readonly(
            "monitor_id", [](const Test& t) { return t.monitorId; }, "The monitor id (MID).")
        .def_property_readonly(
            "test_id", [](const Test& t) { return t.testId; }, "The test id (TID).")
        .def_property_readonly("monitor", [](const Test& t) { return Text(t.monitorName); })
        .def_property_readonly("test", [](const Test& t) { return Text(t.testName); })
        .def_property_readonly("value", [](const Test& t) { return t.value; })
        .def_property_readonly("minimum", [](const Test& t) { return t.minimum; })
        .def_property_readonly("maximum", [](const Test& t) { return t.maximum; })
        .def_property_readonly("unit", [](const Test& t) { return UnitName(t.unit); })
        .def_property_readonly(
            "passed", [](const Test& t) { return t.passed; }, "minimum <= value <= maximum.")
        .def("__repr__", [](const Test& t) {
            return Repr(
                "MonitorTest",
                py::str("{} {} {}: {} in [{}, {}] {}")
                    .format(app::EcuAddressText(t.monitorId), Text(t.monitorName), Text(t.testName),
                            Measured(t.value, t.unit), Measured(t.minimum, t.unit),
                            Measured(t.maximum, t.unit), t.passed ? "pass" : "FAIL"));
        });

    using OxygenTest = obd::OxygenSensorMonitorDataModel;
    RecordClass<OxygenTest>(m, "OxygenSensorTest", "An oxygen sensor monitor test result.")
        .def_property_readonly(
            "location", [](const OxygenTest& t) { return app::LocationText(t.location); },
            "e.g. 'Bank 1 Sensor 1'.")
        .def_property_readonly("test_id", [](const OxygenTest& t) { return t.testId; })
        .def_property_readonly("name", [](const OxygenTest& t) { return Text(t.name); })
        .def_property_readonly("value", [](const OxygenTest& t) { return t.value; })
        .def_property_readonly("minimum", [](const OxygenTest& t) { return t.minimum; })
        .def_property_readonly("maximum", [](const OxygenTest& t) { return t.maximum; })
        .def_property_readonly("unit", [](const OxygenTest& t) { return UnitName(t.unit); })
        .def_property_readonly("passed", [](const OxygenTest& t) { return t.passed; })
        .def("__repr__", [](const OxygenTest& t) {
            return Repr("OxygenSensorTest",
                        py::str("{} {}: {} {}")
                            .format(app::LocationText(t.location), Text(t.name),
                                    Measured(t.value, t.unit), t.passed ? "pass" : "FAIL"));
        });

    using Counter = obd::PerformanceCounterDataModel;
    RecordClass<Counter>(m, "PerformanceCounter",
                         "An in-use performance counter: a ratio, or a count (denominator 0).")
        .def_property_readonly("name", [](const Counter& c) { return Text(c.name); })
        .def_property_readonly("numerator", [](const Counter& c) { return c.numerator; })
        .def_property_readonly("denominator", [](const Counter& c) { return c.denominator; })
        .def("__repr__", [](const Counter& c) {
            return Repr("PerformanceCounter",
                        py::str("{}: {}/{}").format(Text(c.name), c.numerator, c.denominator));
        });

    using Operation = obd::VehicleOperationDataModel;
    RecordClass<Operation>(m, "VehicleOperationData",
                           "A vehicle operation data record: labelled values.")
        .def_property_readonly("name", [](const Operation& o) { return Text(o.name); })
        .def_property_readonly(
            "entries",
            [](const Operation& o) {
                py::list entries;
                for (const auto& entry : o.entries) {
                    entries.append(
                        py::make_tuple(Text(entry.label), Text(entry.value), UnitName(entry.unit)));
                }
                return entries;
            },
            "A list of (label, value text, unit) tuples.")
        .def("__repr__", [](const Operation& o) {
            return Repr("VehicleOperationData",
                        py::str("{}, {} entries").format(Text(o.name), o.entries.size()));
        });
}

void BindRoutine(py::module_& m) {
    using Routine = obd::TestRoutineDataModel;
    RecordClass<Routine>(m, "Routine", "An on-board test routine (service 08).")
        .def_property_readonly("id", [](const Routine& r) { return r.id; })
        .def_property_readonly("name", [](const Routine& r) { return Text(r.name); })
        .def_property_readonly("description", [](const Routine& r) { return Text(r.description); })
        .def_property_readonly(
            "status", [](const Routine& r) { return app::RoutineStatusText(r.status); },
            "'available', 'completed' or 'failed'.")
        .def_property_readonly(
            "result", [](const Routine& r) { return TextOrNone(r.result); },
            "The vehicle's answer to the last activation; None before.")
        .def("__repr__", [](const Routine& r) {
            return Repr(
                "Routine",
                py::str("{} {!r} {}").format(r.id, Text(r.name), app::RoutineStatusText(r.status)));
        });
}

void BindMessage(py::module_& m) {
    using Message = obd::MessageDataModel;
    RecordClass<Message>(m, "LogMessage", "An entry of the adapter's data log.")
        .def_property_readonly("sequence", [](const Message& e) { return e.sequence; })
        .def_property_readonly(
            "direction", [](const Message& e) { return DirectionName(e.direction); },
            "'request', 'response' or 'info'.")
        .def_property_readonly("text", [](const Message& e) { return Text(e.text); })
        .def("__repr__", [](const Message& e) {
            return Repr(
                "LogMessage",
                py::str("{} {} {!r}").format(e.sequence, DirectionName(e.direction), Text(e.text)));
        });
}

}  // namespace

void BindRecords(py::module_& module) {
    BindTroubleCode(module);
    BindSensor(module);
    BindParameter(module);
    BindInfo(module);
    BindDiagnostics(module);
    BindRoutine(module);
    BindMessage(module);
}

}  // namespace zelt::python
