#!/usr/bin/env python3
"""Turns published adapter transcripts into zelt adapter recordings.

Usage: scripts/import-transcript.py DIALOGUES.json OUTDIR

DIALOGUES.json is a JSON array of transcripts, each an object with an "id",
a "dialog" of [command, answer] pairs and, where the client logged them,
"dialog_raw": the same exchanges as the bytes of each read, written as
Python bytes literals (or text literals, each a whole answer). Each becomes OUTDIR/<id>.jsonl, a recording of
version 1 (docs/record.md) whose header keeps the transcript's other keys
under "transcript", so that its source and notes travel with it.

An answer is taken from the raw reads where there are any: the reads of
one command joined up to the adapter's ">" prompt, every byte kept (a
garbage byte before the banner, a lone CR). Otherwise its lines are joined
as an ELM327 prints them: each ends with a CR (CR LF while ATL1 is in
force) and one more ends the answer. A transcript holds no times: the
exchanges carry none.
"""
import ast
import json
import sys
from pathlib import Path

PROMPT = b">"


def raw_answers(raw):
    """The answer to each command: its reads joined up to the prompt."""
    answers = []
    pending = None
    for command, literal in raw:
        read = ast.literal_eval(literal)
        if isinstance(read, str):
            # A client that logged text logged each answer whole, prompt taken off.
            read = read.encode("latin-1") + PROMPT
        if not isinstance(read, bytes):
            raise ValueError(f"a raw read of {command!r} is neither bytes nor text")
        if pending is not None and command != pending[0]:
            answers.append(tuple(pending))  # a new command: the last answer ended unprompted
            pending = None
        if pending is None:
            pending = [command, b""]
        pending[1] += read
        if read.endswith(PROMPT):
            pending[1] = pending[1][: -len(PROMPT)]
            answers.append(tuple(pending))
            pending = None
    if pending is not None:
        answers.append(tuple(pending))  # the log stops before the prompt
    return [(command, answer.decode("latin-1")) for command, answer in answers]


def printed_answers(dialog):
    """The answers as the adapter printed them, line ends restored."""
    answers = []
    line_feeds = False
    for command, answer in dialog:
        compact = command.replace(" ", "").upper()
        if compact in ("ATL1", "ATL0"):
            line_feeds = compact == "ATL1"
        elif compact in ("ATZ", "ATD", "ATWS"):
            line_feeds = False
        end = "\r\n" if line_feeds else "\r"
        answers.append((command, "".join(line + end for line in answer.split("\n")) + end))
    return answers


def recording(transcript):
    exchanges = (
        raw_answers(transcript["dialog_raw"])
        if transcript.get("dialog_raw")
        else printed_answers(transcript["dialog"])
    )
    kept = {k: v for k, v in transcript.items() if k not in ("dialog", "dialog_raw")}
    header = {
        "format": "zelt-adapter-recording",
        "version": 1,
        "settings": {
            "tool": "import-transcript",
            "adapter": transcript.get("adapter") or "",
            "protocol": "auto",
            "timeout": "",
            "anonymised": False,
        },
        "transcript": kept,
    }
    lines = [json.dumps(header, ensure_ascii=False)]
    for command, answer in exchanges:
        lines.append(json.dumps({"command": command, "answer": answer}, ensure_ascii=False))
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[2])
    source, outdir = Path(sys.argv[1]), Path(sys.argv[2])
    try:
        transcripts = json.loads(source.read_text(encoding="utf-8"))
        for transcript in transcripts:
            target = outdir / (transcript["id"] + ".jsonl")
            target.write_text(recording(transcript), encoding="utf-8")
    except (OSError, ValueError, KeyError, TypeError, SyntaxError) as error:
        sys.exit(f"import-transcript: {source}: {error}")


if __name__ == "__main__":
    main()
