"""The zelt package against the built-in vehicle, a scenario of its own and
elm327-emulator. Expected values are the scenario's, as SAE J1979 carries
them, and the SAE J2012 titles of the codes."""

import ast
import gc
import json
import math
import os
import pathlib
import signal
import socket
import subprocess
import sys
import threading
import time

import pytest
import zelt
from conftest import Emulator, built_tool


def test_reads_codes_and_live_data_with_the_issue_calls(vehicle):
    # Catches a getter wired to the wrong library call or a value mangled on
    # its way into Python.
    assert vehicle.vin == "1FTFW1ET9DFC10312"
    assert vehicle.ecus == [0x7E8, 0x7E9]
    codes = vehicle.trouble_codes.confirmed()
    assert [(c.code, c.description, c.ecu) for c in codes] == [
        ("P0301", "Cylinder 1 Misfire Detected", 0x7E8),
        ("P0420", "Catalyst System Efficiency Below Threshold (Bank 1)", 0x7E8)]
    assert [c.code for c in vehicle.trouble_codes.pending()] == ["P0171"]
    assert vehicle.trouble_codes.mil() is True
    rpm, speed, load = vehicle.parameters.values_of([0x0C, 0x0D, 0x04])
    assert (rpm[0].value, rpm[0].unit, rpm[0].pid) == (1234.0, "RPM", 0x0C)
    assert (speed[0].value, speed[0].unit, speed[0].limits) == (57.0, "km/h", (0.0, 255.0))
    assert load[0].value == pytest.approx(40.0)
    assert {0x04, 0x05, 0x0C, 0x0D} <= set(vehicle.parameters.pids())
    assert vehicle.parameters.parameter(0x05).name == "Engine Coolant Temperature"
    assert vehicle.parameters.values(0x05)[0].value == 88.0


def named(records, name):
    return next(record for record in records if record.name == name)


# (getter, what it must return, as the scenario gives it): one row per
# repository call the first test leaves out.
GETTERS = [
    ("permanent codes", lambda v: [c.code for c in v.trouble_codes.permanent()], ["P0420"]),
    ("distance with the lamp on", lambda v: (v.trouble_codes.distance_with_mil_on().value,
                                              v.trouble_codes.distance_with_mil_on().unit), (154.0, "km")),
    ("freeze frame code", lambda v: v.trouble_codes.freeze_frame_code(0).code, "P0301"),
    ("freeze frame value", lambda v: v.trouble_codes.freeze_frame_parameter(0x0C, 0).sensors[0].value, 2315.0),
    ("no second freeze frame", lambda v: v.trouble_codes.freeze_frame_code(1), None),
    ("PID the vehicle lacks", lambda v: (v.parameters.values_of([0x0C, 0xA6])[1], v.parameters.parameter(0xA6)),
     ([], None)),
    ("value that is no number", lambda v: (lambda s: (s.value, s.text, s.limits))(v.parameters.values(0x1C)[0]),
     (None, "EOBD (Europe)", None)),
    ("no readings asked", lambda v: list(v.watch([0x0C], count=0)), []),
    ("VIN item", lambda v: [i.value for i in v.ecu.info() if i.id == 4], ["1FTFW1ET9DFC10312"]),
    ("readiness", lambda v: [(r.supported, r.complete) for r in v.diagnostics.readiness()
                             if r.name in ("Misfire", "Catalyst")], [(True, True), (True, False)]),
    ("monitor test in range", lambda v: [(t.monitor_id, t.test_id, t.unit, t.passed)
                                         for t in v.diagnostics.monitor_tests()],
     [(0x01, 0x01, "V", True), (0x21, 0x80, "", False)]),
    ("monitor test values", lambda v: [(t.value, t.minimum, t.maximum) for t in v.diagnostics.monitor_tests()],
     [pytest.approx((0.45, 0.4, 0.5), abs=1e-3), pytest.approx((0.84, 0.0, 0.75), abs=1e-3)]),
    ("performance counter", lambda v: (lambda c: (c.numerator, c.denominator))(
        named(v.diagnostics.performance_counters(), "Catalyst Monitor Bank 1")), (96, 412)),
    ("routines", lambda v: [(r.id, r.status) for r in v.routines.test_routines()], [(1, "available")]),
    ("routine run", lambda v: v.routines.activate(1).status, "completed"),
    ("adapter", lambda v: (v.adapter.name(), v.adapter.identification(), v.adapter.battery_voltage()),
     ("ELM327", "ELM327 v1.5", "12.6 V")),
    ("clearing", lambda v: (v.trouble_codes.clear(), v.trouble_codes.confirmed(refresh=True),
                            v.trouble_codes.distance_with_mil_on(refresh=True).value), (True, [], 0.0)),
]


@pytest.mark.parametrize("what,getter,expected", GETTERS, ids=[g[0] for g in GETTERS])
def test_each_repository_returns_the_vehicle_data(vehicle, what, getter, expected):
    # Catches a method bound to the wrong library call or a field to the
    # wrong member.
    assert getter(vehicle) == expected


@pytest.mark.parametrize("units", ["metric", "imperial"])
def test_report_is_the_one_zelt_scan_writes(scenario, units):
    # The binding reuses the tool's report: the two must agree key for key.
    scan = subprocess.run([built_tool("zelt-scan"), "--scenario", str(scenario), "--json", "--units", units],
                          stdout=subprocess.PIPE, text=True, check=True)
    with zelt.simulate(scenario) as vehicle:
        assert vehicle.report(units) == json.loads(scan.stdout)


@pytest.mark.parametrize("protocol", [3, "3", "auto", None])
def test_named_protocol_reaches_the_vehicle(scenario, protocol):
    # The vehicle speaks ISO 9141-2, where the engine ECU is named 0x10.
    emulator = Emulator(scenario, "--protocol", "3")
    try:
        with zelt.connect(emulator.address, protocol=protocol, timeout=5) as vehicle:
            assert vehicle.vin == "1FTFW1ET9DFC10312"
            assert [(c.code, c.ecu) for c in vehicle.trouble_codes.confirmed()] == [("P0301", 0x10), ("P0420", 0x10)]
    finally:
        emulator.stop()


def test_closing_while_another_thread_reads_ends_that_thread_cleanly(scenario):
    # Catches a session freed under a call that is still running.
    vehicle, errors, started = zelt.simulate(scenario), [], threading.Event()

    def read():
        try:
            while True:
                vehicle.parameters.values_of([0x0C, 0x0D])
                started.set()
        except zelt.Error as error:
            errors.append(str(error))

    thread = threading.Thread(target=read)
    thread.start()
    started.wait(timeout=30)
    vehicle.close()
    thread.join(timeout=30)
    assert errors == ["the vehicle is closed"]


def test_records_are_read_only_and_say_what_they_are(vehicle):
    # A record is shared with the library's cache: writing one must fail.
    code = vehicle.trouble_codes.confirmed()[0]
    with pytest.raises(AttributeError):
        code.code = "P0000"
    assert "P0301" in repr(code) and "Cylinder 1 Misfire Detected" in repr(code)
    assert "1234 RPM" in repr(vehicle.parameters.values(0x0C)[0])


def test_select_reads_the_other_ecu_at_once_and_report_keeps_it(vehicle):
    # Catches answers of the previous ECU served from a cache after the switch,
    # and a report that leaves another ECU selected.
    assert len(vehicle.trouble_codes.confirmed()) == 2
    vehicle.select(0x7E9)
    assert [c.code for c in vehicle.trouble_codes.confirmed()] == ["P0700"]
    report = vehicle.report()
    assert vehicle.selected_ecu == 0x7E9
    assert report["schema"] == 1
    assert [ecu["address"] for ecu in report["ecus"]] == [0x7E8, 0x7E9]
    assert report["source"]["vin"] == "1FTFW1ET9DFC10312"


def test_watch_yields_each_reading_with_every_pid(vehicle):
    readings = list(vehicle.watch([0x0C, 0x0D], interval=0, count=3))
    assert [r.number for r in readings] == [1, 2, 3]
    assert all(r[0x0C][0].value == 1234.0 and r[0x0D][0].value == 57.0 for r in readings)
    assert readings[0].time <= readings[-1].time


def test_threads_read_at_once(vehicle):
    # The GIL is released in every call: threads that read together must all
    # get whole answers, and none may hang.
    results, barrier = [], threading.Barrier(4)

    def read():
        barrier.wait()
        results.extend(len(v) for _ in range(20) for v in vehicle.parameters.values_of([0x0C, 0x0D]))

    threads = [threading.Thread(target=read) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert not any(t.is_alive() for t in threads)
    assert results == [1] * (4 * 20 * 2)


def test_threads_that_name_their_ecu_read_its_codes(vehicle):
    # Catches one thread's ECU leaking into another's read, and a read at one
    # ECU that leaves the vehicle's own selection changed.
    codes, barrier = {0x7E8: set(), 0x7E9: set()}, threading.Barrier(4)

    def read(ecu):
        barrier.wait()
        for _ in range(25):
            codes[ecu].update(c.code for c in vehicle.trouble_codes.confirmed(ecu=ecu))

    threads = [threading.Thread(target=read, args=(ecu,)) for ecu in (0x7E8, 0x7E9, 0x7E8, 0x7E9)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert codes == {0x7E8: {"P0301", "P0420"}, 0x7E9: {"P0700"}}
    assert vehicle.selected_ecu == 0x7E8


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


BAD_CALLS = [
    # (what, call, error class, part of the message)
    ("malformed address", lambda v: zelt.connect("bogus"), zelt.BadInput, "bogus"),
    ("protocol out of range", lambda v: zelt.connect("tcp://127.0.0.1:1", protocol=12), zelt.BadInput,
     "protocol '12'"),
    ("timeout of zero", lambda v: zelt.connect("tcp://127.0.0.1:1", timeout=0), zelt.BadInput, "timeout"),
    ("profile", lambda v: zelt.connect("tcp://127.0.0.1:1", profile="car.json"), NotImplementedError, "profile"),
    ("nobody listening", lambda v: zelt.connect(f"tcp://127.0.0.1:{free_port()}", timeout=1),
     zelt.ConnectionFailed, "127.0.0.1"),
    ("missing scenario", lambda v: zelt.simulate("/nonexistent/car.json"), zelt.BadInput, "car.json"),
    ("PID out of range", lambda v: v.parameters.values(0x100), ValueError, "PID 256"),
    ("ECU that did not answer", lambda v: v.select(0x7EA), zelt.BadInput, "0x7EA"),
    ("ECU argument that did not answer", lambda v: v.trouble_codes.confirmed(ecu=0x7EA), zelt.BadInput,
     "no ECU 0x7EA answered"),
    ("negative ECU argument", lambda v: v.parameters.values(0x0C, ecu=-1), zelt.BadInput, "no ECU -1"),
    ("unsupported PID watched", lambda v: v.watch([0xA6]), zelt.BadInput, "0xA6"),
    ("negative interval", lambda v: v.watch([0x0C], interval=-1), zelt.BadInput, "interval"),
    ("endless interval", lambda v: v.watch([0x0C], interval=math.inf), zelt.BadInput, "interval"),
    ("count not whole", lambda v: v.watch([0x0C], count=2.5), zelt.BadInput, "count 2.5"),
    ("PID text not hex", lambda v: v.watch("rpm"), zelt.BadInput, "'rpm'"),
    # SAE J1979 service $08 test ids are one byte.
    ("test id over a byte", lambda v: v.routines.activate(0x101), zelt.BadInput, "test id 257"),
    ("unknown units", lambda v: v.report("nautical"), zelt.BadInput, "nautical'[^-]*$"),
    ("oxygen sensor nowhere", lambda v: v.diagnostics.oxygen_sensor_tests("Bank 5 Sensor 1"), zelt.BadInput,
     "Bank 5"),
]


@pytest.mark.parametrize("what,call,error,message", BAD_CALLS, ids=[c[0] for c in BAD_CALLS])
def test_bad_calls_raise_one_clear_error(scenario, what, call, error, message):
    with zelt.simulate(scenario) as vehicle:
        with pytest.raises(error, match=message) as raised:
            call(vehicle)
    assert isinstance(raised.value, zelt.Error)


def test_watch_takes_a_pid_as_hex_text_as_zelt_scan_does(vehicle):
    reading = next(vehicle.watch(["0C", "0x0d"], interval=0, count=1))
    assert list(reading.values) == [0x0C, 0x0D]


@pytest.mark.skipif(not hasattr(os, "fork"), reason="no fork() here")
@pytest.mark.parametrize("end", ["close", "drop", "read"])
def test_a_forked_child_ends_its_inherited_vehicle_without_hanging(end):
    opened = zelt.simulate()
    child = os.fork()
    if child == 0:
        code = 1
        try:
            if end == "close":
                opened.close()
                code = 0 if opened.closed else 1
            elif end == "drop":
                del opened
                gc.collect()
                code = 0
            else:
                try:
                    opened.parameters.values(0x0C)
                except zelt.Error as error:
                    code = 0 if "fork" in str(error) else 1
        finally:
            os._exit(code)
    deadline = time.monotonic() + 20
    while (finished := os.waitpid(child, os.WNOHANG))[0] == 0:
        if time.monotonic() > deadline:
            os.kill(child, signal.SIGKILL)
            pytest.fail("the child hung on its inherited vehicle")
        time.sleep(0.05)
    assert os.waitstatus_to_exitcode(finished[1]) == 0
    assert opened.parameters.values(0x0C)  # the parent's vehicle goes on
    opened.close()


def test_closed_vehicle_refuses_calls_and_its_repositories_too(scenario):
    with zelt.simulate(scenario) as vehicle:
        codes = vehicle.trouble_codes
    assert vehicle.closed
    with pytest.raises(zelt.Error, match="closed"):
        codes.confirmed()


# (what the adapter does, emulator options, error class or None, what the
# message says: the error's, or adapter_error after reading)
ADAPTER_FAILURES = [
    ("hangs up", ["--drop-after", "40"], zelt.AdapterLost, "closed the connection; check that the adapter has power"),
    ("falls silent", ["--mute-after", "40"], zelt.AdapterLost, "stopped answering"),
    ("reports a bus fault", ["--error", "CAN ERROR", "--error-from", "30"], None, "CAN ERROR"),
    # Text that is not UTF-8 reads with U+FFFD instead of failing to decode.
    ("reports in Latin-1", ["--error", b"CAN \xc9RROR", "--error-from", "30"], None, "CAN \ufffdRROR"),
    ("cannot reach the vehicle", ["--error", "UNABLE TO CONNECT"], zelt.ConnectionFailed, "ignition"),
    # The advice names the package's own argument, not zelt-scan's option.
    ("advised in the package's words", ["--error", "UNABLE TO CONNECT"], zelt.ConnectionFailed,
     "name the protocol with protocol=1 to 9$"),
    ("cannot reach it, in Latin-1", ["--error", b"\xc9CHEC"], zelt.ConnectionFailed, "\ufffdCHEC"),
]


@pytest.mark.parametrize("what,options,error,message", ADAPTER_FAILURES, ids=[f[0] for f in ADAPTER_FAILURES])
def test_adapter_failures_are_told_apart(scenario, what, options, error, message):
    # Catches a lost adapter read as an empty answer, or a bus fault as a
    # lost adapter.
    emulator = Emulator(scenario, *options)

    def read_a_while():
        # Time enough for a busy machine; the silent adapter costs that once.
        with zelt.connect(emulator.address, timeout=3) as vehicle:
            for _ in range(30):
                vehicle.parameters.values_of([0x0C])
            return vehicle.adapter_error

    try:
        if error is None:
            assert message in read_a_while()
        else:
            with pytest.raises(error, match=message):
                read_a_while()
    finally:
        emulator.stop()


def public_functions(node):
    return {n.name for n in node.body if isinstance(n, ast.FunctionDef) and not n.name.startswith("_")}


def test_stubs_name_what_the_module_has():
    # Catches stubs that drift from the module: editors would complete a
    # method that is gone, or miss a new one.
    stubs = ast.parse(pathlib.Path(zelt.__file__).with_name("__init__.pyi").read_text())
    classes = {node.name: node for node in stubs.body if isinstance(node, ast.ClassDef)}
    for name, node in classes.items():
        if name.startswith("_"):
            continue
        stubbed = public_functions(node)
        for base in node.bases:
            if isinstance(base, ast.Name) and base.id in classes:
                stubbed |= public_functions(classes[base.id])
        assert stubbed == {n for n in vars(getattr(zelt, name)) if not n.startswith("_")}, name
    functions = {node.name for node in stubs.body if isinstance(node, ast.FunctionDef)}
    assert functions | set(classes) - {"_Repository"} == set(zelt.__all__)


def run_example(name, *arguments):
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    examples = os.path.join(os.path.dirname(__file__), "..", "examples")
    return subprocess.run([sys.executable, os.path.join(examples, name), *arguments], env=environment,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)


def test_quickstart_reads_the_built_in_vehicle():
    run = run_example("quickstart.py")
    assert run.returncode == 0, run.stderr
    assert "Engine Speed: 780 RPM" in run.stdout and "P0301" in run.stdout


def test_plot_example_writes_a_png_or_says_why_not(tmp_path):
    run = run_example("plot_live_data.py", "--count", "3", "--interval", "0", "--out", str(tmp_path / "p.png"))
    assert run.returncode == 0, run.stderr
    if "matplotlib is not installed" not in run.stderr:
        assert (tmp_path / "p.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
