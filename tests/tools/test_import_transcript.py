#!/usr/bin/env python3
"""scripts/import-transcript.py: each published form of an answer becomes the
bytes an ELM327 sent (its datasheet: every line ends with a CR, CR LF under
ATL1, one more before the ">" prompt, which a recording leaves out).

Usage: test_import_transcript.py SCRIPT
"""
import importlib.util
import json
import sys
import unittest

SCRIPT = sys.argv.pop(1)
spec = importlib.util.spec_from_file_location("import_transcript", SCRIPT)
importer = importlib.util.module_from_spec(spec)
spec.loader.exec_module(importer)


def exchanges(transcript):
    lines = importer.recording(transcript).splitlines()
    header = json.loads(lines[0])
    assert header["format"] == "zelt-adapter-recording" and header["version"] == 1
    assert header["transcript"]["id"] == transcript["id"]
    return [(e["command"], e["answer"]) for e in map(json.loads, lines[1:])]


class ImportTranscriptTest(unittest.TestCase):
    def test_each_form_of_answer(self):
        rows = [
            # Reads split mid-answer join up to the prompt; a garbage byte stays.
            ({"dialog_raw": [["ATZ", "b'\\xfc\\r\\rELM327 v1.5\\r\\r>'"],
                             ["0100", "b'BUS INIT: OK\\r'"],
                             ["0100", "b'41 00 BE 1F B8 10 \\r\\r>'"]]},
             [("ATZ", "\u00fc\r\rELM327 v1.5\r\r"),
              ("0100", "BUS INIT: OK\r41 00 BE 1F B8 10 \r\r")]),
            # A client that logged text logged whole answers, prompt taken off.
            ({"dialog_raw": [["ATE0", "'OK\\r\\r'"], ["ATH1", "'OK\\r\\r'"]]},
             [("ATE0", "OK\r\r"), ("ATH1", "OK\r\r")]),
            # Printed lines: CR, then CR LF from ATL1 until ATZ.
            ({"dialog": [["ATL1", "OK"], ["010C", "41 0C 000\n7F 01 12"], ["ATZ", "ELM327 v1.5"]]},
             [("ATL1", "OK\r\n\r\n"), ("010C", "41 0C 000\r\n7F 01 12\r\n\r\n"),
              ("ATZ", "ELM327 v1.5\r\r")]),
        ]
        for transcript, expected in rows:
            transcript = {"id": "car", "dialog": [], **transcript}
            self.assertEqual(exchanges(transcript), expected)


if __name__ == "__main__":
    unittest.main()
