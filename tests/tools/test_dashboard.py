#!/usr/bin/env python3
"""zelt-scan --serve as a viewer meets it: over HTTP on loopback (the API and
its bounds) and in headless Chromium (the page). Usage:

    test_dashboard.py ZELT_SCAN [--screenshot PNG] [unittest arguments]
"""
import base64
import http.client
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

SCAN = None
SCREENSHOT = None


class Server:
    """zelt-scan --serve on a free loopback port, stopped with Ctrl-C."""

    def __init__(self, *arguments):
        self.process = subprocess.Popen([SCAN, "--serve", "0", *arguments], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        self.first_line = self.process.stdout.readline()
        match = re.fullmatch(r"serving http://127\.0\.0\.1:(\d+)/\n", self.first_line)
        if not match:
            self.process.kill()
            raise AssertionError("unexpected first line: %r" % self.first_line)
        self.port = int(match.group(1))
        self.url = "http://127.0.0.1:%d/" % self.port
        self.streams = []

    def connect(self):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)

    def request(self, method, path, headers=None, body=None):
        connection = self.connect()
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response.status, data

    def raw(self, data):
        """Sends `data` as it is; the answer's status and JSON body."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as connection:
            connection.sendall(data)
            answer = b""
            while chunk := connection.recv(65536):
                answer += chunk
        head, _, body = answer.partition(b"\r\n\r\n")
        return int(head.split()[1]), json.loads(body)

    def token(self):
        return json.loads(self.request("GET", "/api/settings")[1])["clearToken"]

    def open_stream(self, path="/api/stream", headers=None):
        """A stream's connection and response (None when refused)."""
        connection = self.connect()
        self.streams.append(connection)
        connection.request("GET", path, headers=headers or {})
        response = connection.getresponse()
        if response.status != 200:
            response.read()
            return None
        return connection, response

    def stop(self):
        for connection in self.streams:
            connection.close()
        self.process.send_signal(signal.SIGINT)
        code = self.process.wait(timeout=20)
        self.process.stdout.close()
        self.process.stderr.close()
        return code


def next_event(response):
    """The next SSE event's (id, data), skipping comments."""
    fields = {}
    while True:
        line = response.fp.readline().decode()
        if line == "":
            raise AssertionError("the stream ended")
        line = line.rstrip("\n")
        if line == "" and "data" in fields:
            return int(fields.get("id", 0)), fields["data"]
        if line and not line.startswith(":"):
            name, _, value = line.partition(": ")
            fields[name] = value


class HttpTest(unittest.TestCase):
    def setUp(self):
        self.server = Server()

    def tearDown(self):
        if self.server.process.poll() is None:
            self.server.stop()

    def test_serves_only_its_pages_and_refuses_what_is_out_of_bounds(self):
        many_headers = {"X-Padding-%d" % i: "x" * 100 for i in range(100)}
        cases = [
            ("GET", "/", {}, None, 200),
            ("GET", "/dygraph.min.js", {}, None, 200),
            ("GET", "/api/report?units=imperial", {}, None, 200),
            ("GET", "/index.htm", {}, None, 404),
            ("GET", "/../../etc/passwd", {}, None, 404),
            ("GET", "/%2e%2e/%2e%2e/etc/passwd", {}, None, 404),
            ("GET", "/api/report?units=furlongs", {}, None, 400),
            # DNS rebinding: a foreign name for a loopback server, whole
            # values compared.
            ("GET", "/api/report", {"Host": "attacker.example"}, None, 403),
            ("GET", "/api/report", {"Host": "127.0.0.1.attacker.example"}, None, 403),
            ("GET", "/api/report", {"Host": "localhost.attacker.example:%d" % self.server.port},
             None, 403),
            ("GET", "/api/report", {"Host": "127.0.0.1:1"}, None, 403),
            ("GET", "/api/report", {"Host": "localhost:%d" % self.server.port}, None, 200),
            ("GET", "/", many_headers, None, 400),
            ("POST", "/api/clear-codes", {"X-Zelt-Confirm": "clear-codes"}, None, 403),
            ("POST", "/api/clear-codes", {}, "x" * 4096, 413),
        ]
        for method, path, headers, body, status in cases:
            with self.subTest(method=method, path=path, headers=list(headers.items())[:1]):
                answer, data = self.server.request(method, path, headers, body)
                self.assertEqual(answer, status)
                if status >= 400:  # every refusal says why, as JSON
                    self.assertIn("error", json.loads(data))

    def test_a_chunked_body_is_bounded_like_any_other(self):
        request = (b"POST /api/clear-codes HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                   b"Transfer-Encoding: chunked\r\n\r\n" % self.server.port)
        self.assertEqual(self.server.raw(request + b"800\r\n" + b"x" * 2048 + b"\r\n0\r\n\r\n")[0],
                         411)

    def test_slow_and_idle_clients_hold_neither_the_server_nor_its_stop(self):
        address = ("127.0.0.1", self.server.port)
        # Eight clients that trickle a header line a second, as many as
        # there are workers: each is cut off at its whole-request deadline
        # and a plain request is served after them.
        slow = [socket.create_connection(address, timeout=5) for _ in range(8)]
        for tick in range(8):
            for connection in slow:
                try:
                    connection.sendall(b"GET / HTTP/1.1\r\n" if tick == 0 else b"X-Slow: 1\r\n")
                except OSError:
                    pass  # cut off already
            time.sleep(1)
        for connection in slow:
            try:
                connection.recv(4096)  # the refusal, or the end; never a wait
            except ConnectionResetError:
                pass
        self.assertEqual(self.server.request("GET", "/api/settings")[0], 200)
        # Silent connections fill the workers and the waiting line; the
        # next is refused at once, with a reason.
        idle = [socket.create_connection(address, timeout=20) for _ in range(8 + 16)]
        status, body = self.server.raw(b"GET / HTTP/1.1\r\n\r\n")
        self.assertEqual((status, "error" in body), (503, True))
        # Ctrl-C ends every connection at once (the bound is generous).
        self.server.process.send_signal(signal.SIGINT)
        self.assertEqual(self.server.process.wait(timeout=3), 0)
        for connection in slow + idle:
            connection.close()

    def test_report_is_schema_1_with_the_scenarios_codes(self):
        status, body = self.server.request("GET", "/api/report")
        self.assertEqual(status, 200)
        report = json.loads(body)
        self.assertEqual(report["schema"], 1)
        codes = report["ecus"][0]["troubleCodes"]
        # scenarios/default.json: a misfire on cylinder 1 and a tired catalyst.
        self.assertEqual([code["code"] for code in codes["confirmed"]], ["P0301", "P0420"])

    def test_viewers_share_one_reader_and_a_handful_of_streams(self):
        streams = [self.server.open_stream() for _ in range(4)]
        self.assertNotIn(None, streams)
        # Every viewer gets the same readings: the same number carries the
        # same time and values.
        first = [next_event(response) for _, response in streams[:2]]
        while first[0][0] != first[1][0]:
            index = 0 if first[0][0] < first[1][0] else 1
            first[index] = next_event(streams[index][1])
        self.assertEqual(first[0], first[1])
        self.assertIsNone(self.server.open_stream(), "a fifth stream must be refused")
        # A viewer that vanishes gives its stream back.
        streams.pop()[0].close()
        deadline = time.monotonic() + 15
        reopened = None
        while reopened is None and time.monotonic() < deadline:
            time.sleep(0.5)
            reopened = self.server.open_stream()
        self.assertIsNotNone(reopened, "the vanished viewer's stream was not given back")
        # Ctrl-C ends the server cleanly with streams open.
        self.assertEqual(self.server.stop(), 0)

    def test_a_reconnecting_viewer_gets_only_what_it_missed(self):
        seen, _ = next_event(self.server.open_stream()[1])
        for last, first in [(seen, seen + 1), (seen + 1000, 1)]:  # the latter from an earlier run
            _, response = self.server.open_stream(headers={"Last-Event-ID": str(last)})
            self.assertEqual(next_event(response)[0], first)

    def test_csv_holds_a_header_and_the_readings(self):
        stream = self.server.open_stream()
        next_event(stream[1])
        status, body = self.server.request("GET", "/api/readings.csv?units=imperial")
        self.assertEqual(status, 200)
        header, *rows = body.decode().splitlines()
        self.assertTrue(header.startswith("time,reading,"))
        self.assertIn("Vehicle Speed (mph)", header)
        self.assertGreaterEqual(len(rows), 1)


class OptionsTest(unittest.TestCase):
    def test_clear_codes_needs_allow_clear_and_the_confirmation(self):
        server = Server("--allow-clear")
        try:
            origin = "http://127.0.0.1:%d" % server.port
            for headers, status in [
                ({}, 400),
                ({"X-Zelt-Confirm": "clear-codes"}, 403),  # not the token
                # A page elsewhere, though it guessed the token.
                ({"X-Zelt-Confirm": server.token(), "Origin": "http://attacker.example"}, 403),
                ({"X-Zelt-Confirm": server.token(), "Origin": origin + ".attacker.example"}, 403),
            ]:
                with self.subTest(headers=headers):
                    self.assertEqual(server.request("POST", "/api/clear-codes", headers)[0], status)
            # As docs/dashboard.md has curl send it: no body, no Content-Length.
            status, body = server.raw(
                b"POST /api/clear-codes HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nOrigin: %s\r\n"
                b"X-Zelt-Confirm: %s\r\n\r\n" % (server.port, origin.encode(), server.token().encode()))
            self.assertEqual(status, 200)
            ecu = body["ecus"][0]
            self.assertTrue(ecu["clearCodes"]["accepted"])
            self.assertEqual(ecu["clearCodes"]["confirmed"], [])
        finally:
            self.assertEqual(server.stop(), 0)

    def test_a_profile_is_served_and_cleared_with_the_rest(self):
        scenarios = os.path.join(os.path.dirname(__file__), "..", "..", "scenarios")
        server = Server("--allow-clear", "--scenario", os.path.join(scenarios, "profile-example.json"),
                        "--profile", os.path.join(scenarios, "profiles", "example.json"))
        try:
            report = json.loads(server.request("GET", "/api/report")[1])
            self.assertTrue(report["profile"]["ecus"])
            cleared = server.raw(b"POST /api/clear-codes HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                                 b"X-Zelt-Confirm: %s\r\n\r\n" % (server.port, server.token().encode()))[1]
            modules = cleared["profile"]["ecus"]
            self.assertTrue(all(module["clear"] is not None for module in modules), modules)
        finally:
            self.assertEqual(server.stop(), 0)

    def test_watch_narrows_the_stream_in_the_units_asked_for(self):
        server = Server("--watch", "0C,0D")
        try:
            _, reading = next_event(server.open_stream("/api/stream?units=imperial")[1])
            parameters = json.loads(reading)["parameters"]
            self.assertEqual([parameter["pid"] for parameter in parameters], [0x0C, 0x0D])
            self.assertEqual(parameters[1]["sensors"][0]["unit"], "mph")
        finally:
            self.assertEqual(server.stop(), 0)

    def test_a_bad_address_is_refused_with_one_line(self):
        for address in ["70000", "host:", ":8080", "eighty", "[::1]:"]:
            with self.subTest(address=address):
                run = subprocess.run([SCAN, "--serve", address], capture_output=True, text=True,
                                     timeout=30)
                self.assertEqual(run.returncode, 2)
                self.assertEqual(run.stdout, "")
                self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)


class Chromium:
    """Headless Chromium driven over the DevTools protocol on a pipe."""

    def __init__(self, program):
        self.profile = tempfile.mkdtemp(prefix="zelt-chromium-")
        commands, self._to_browser = os.pipe()
        self._from_browser, answers = os.pipe()

        def on_pipes():
            os.dup2(commands, 100)
            os.dup2(answers, 101)
            os.dup2(100, 3)
            os.dup2(101, 4)

        self.process = subprocess.Popen(
            [program, "--headless=new", "--remote-debugging-pipe", "--no-sandbox", "--disable-gpu",
             "--no-first-run", "--user-data-dir=" + self.profile, "about:blank"],
            pass_fds=(3, 4), preexec_fn=on_pipes, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(commands)
        os.close(answers)
        self._buffer = b""
        self._next_id = 0
        self.errors = []
        self.dialogs = []
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        for domain in ["Runtime", "Log", "Page"]:
            self.call(domain + ".enable", session=True)
        self.call("Emulation.setDeviceMetricsOverride", session=True, width=1280, height=1600,
                  deviceScaleFactor=1, mobile=False)

    def send(self, method, session=False, **params):
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params}
        if session:
            message["sessionId"] = self.session
        os.write(self._to_browser, json.dumps(message).encode() + b"\0")
        return self._next_id

    def call(self, method, session=False, **params):
        sent = self.send(method, session, **params)
        while True:
            answer = self._read()
            if answer.get("id") == sent:
                if "error" in answer:
                    raise AssertionError("%s: %s" % (method, answer["error"]))
                return answer["result"]

    def _read(self):
        while b"\0" not in self._buffer:
            chunk = os.read(self._from_browser, 65536)
            if not chunk:
                raise AssertionError("Chromium went away")
            self._buffer += chunk
        text, self._buffer = self._buffer.split(b"\0", 1)
        message = json.loads(text)
        # Any JavaScript error, console error or failed load fails the test.
        method, params = message.get("method"), message.get("params", {})
        if method == "Runtime.exceptionThrown":
            self.errors.append(params["exceptionDetails"].get("exception", {}).get(
                "description", params["exceptionDetails"]["text"]))
        elif method == "Runtime.consoleAPICalled" and params["type"] == "error":
            self.errors.append(str(params["args"]))
        elif method == "Page.javascriptDialogOpening":
            self.dialogs.append(params["message"])
            self.send("Page.handleJavaScriptDialog", session=True, accept=True)
        elif method == "Log.entryAdded" and params["entry"]["level"] == "error":
            self.errors.append(params["entry"]["text"] + " " + params["entry"].get("url", ""))
        return message

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", session=True, expression=expression,
                           returnByValue=True)
        return result["result"].get("value")

    def close(self):
        self.process.kill()
        self.process.wait()
        os.close(self._to_browser)
        os.close(self._from_browser)
        shutil.rmtree(self.profile, ignore_errors=True)


# What the page shows, read from its DOM.
PAGE_STATE = """(() => ({
  values: Object.fromEntries([...document.querySelectorAll('#tiles .tile')].map(
      (tile) => [tile.dataset.key, tile.querySelector('.value')?.textContent])),
  plots: document.querySelectorAll('#plots canvas').length,
  text: document.getElementById('ecus').innerText,
  readiness: document.querySelectorAll('.readiness li').length,
}))()"""


class BrowserTest(unittest.TestCase):
    def setUp(self):
        program = shutil.which("chromium")
        if program is None:
            self.skipTest("chromium is not installed (scripts/run-tests.sh installs it)")
        self.server = Server("--allow-clear")
        self.browser = Chromium(program)

    def tearDown(self):
        self.browser.close()
        self.server.stop()

    def load(self):
        """Loads the page and waits until it shows live values, plots, codes and readiness."""
        self.browser.call("Page.navigate", session=True, url=self.server.url)
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            state = self.browser.evaluate(PAGE_STATE)
            if (state and state["values"] and state["plots"] > 0 and "P0301" in state["text"]
                    and state["readiness"] > 0):
                return state
            time.sleep(0.25)
        self.fail("the page did not show its data: %r" % (state,))

    def test_page_shows_live_values_plots_codes_and_readiness_and_clears_after_asking(self):
        first = self.load()
        # The J2012 title of the scenario's code, and J1979 readiness monitors.
        self.assertIn("Cylinder 1 Misfire Detected", first["text"])
        self.assertIn("Catalyst", first["text"])
        self.assertTrue(any(value not in (None, "—") for value in first["values"].values()))
        time.sleep(2)  # the simulated vehicle moves on
        second = self.load()
        changed = [key for key in first["values"] if first["values"][key] != second["values"].get(key)]
        self.assertTrue(changed, "no value changed between two loads")
        if SCREENSHOT:
            shot = self.browser.call("Page.captureScreenshot", session=True, format="png")
            with open(SCREENSHOT, "wb") as file:
                file.write(base64.b64decode(shot["data"]))
        self.browser.evaluate("""const units = document.getElementById('units');
            units.value = 'imperial'; units.dispatchEvent(new Event('change'));""")
        deadline = time.monotonic() + 10
        while "mph" not in self.browser.evaluate("document.getElementById('tiles').innerText"):
            self.assertLess(time.monotonic(), deadline, "the units switch showed no mph")
            time.sleep(0.25)
        # Clearing the codes asks first, then shows what the ECU reports.
        self.browser.evaluate("document.getElementById('clear').click()")
        self.assertEqual(len(self.browser.dialogs), 1)
        self.assertIn("Clear the trouble codes", self.browser.dialogs[0])
        while "Codes cleared" not in self.browser.evaluate("document.getElementById('ecus').innerText"):
            self.assertLess(time.monotonic(), deadline + 20, "the page did not show the cleared codes")
            time.sleep(0.25)
        self.assertEqual(self.browser.errors[:5], [])


if __name__ == "__main__":
    arguments = sys.argv[1:]
    SCAN = arguments.pop(0)
    if arguments[:1] == ["--screenshot"]:
        SCREENSHOT = arguments[1]
        arguments = arguments[2:]
    unittest.main(argv=[sys.argv[0], *arguments], verbosity=2)
