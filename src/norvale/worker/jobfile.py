"""Reading a job file without holding its file bodies in memory.

A job file is one JSON object: {"integration": ..., "version": ..., "kind": ..., "content": {...}}.
File bodies inside it (the string value of every "body" member) are Base64 text that may run to
gigabytes. `read_job` parses the document in pieces and decodes each body straight into a file of
its own in `spill_dir`, putting a `ResultBody` in its place; everything else becomes plain data.
"""

from __future__ import annotations

import json
import os
from typing import Any, Iterator, TextIO

import pybase64

from norvale.worker.protocol import ResultBody

_CHUNK = 1 << 20
_WS = " \t\r\n"
_SCALAR_END = ",]} \t\r\n"


class JobFileError(ValueError):
    """The job file is not a well-formed job document."""


class _Parser:
    def __init__(self, stream: TextIO, spill_dir: str) -> None:
        self.stream = stream
        self.spill_dir = spill_dir
        self.buf = ""
        self.pos = 0
        self.bodies = 0

    # -- buffer -------------------------------------------------------------------------------
    def _more(self) -> bool:
        chunk = self.stream.read(_CHUNK)
        if not chunk:
            return False
        self.buf = self.buf[self.pos:] + chunk
        self.pos = 0
        return True

    def _peek(self) -> str:
        while True:
            buf, pos = self.buf, self.pos
            while pos < len(buf) and buf[pos] in _WS:
                pos += 1
            self.pos = pos
            if pos < len(buf):
                return buf[pos]
            if not self._more():
                return ""

    def _expect(self, char: str) -> None:
        if self._peek() != char:
            raise JobFileError(f"expected {char!r} in the job file")
        self.pos += 1

    # -- values -------------------------------------------------------------------------------
    def value(self, key: str | None = None) -> Any:
        c = self._peek()
        if c == "{":
            return self._object()
        if c == "[":
            self.pos += 1
            items: list[Any] = []
            if self._peek() == "]":
                self.pos += 1
                return items
            while True:
                items.append(self.value(key))
                c = self._peek()
                self.pos += 1
                if c == "]":
                    return items
                if c != ",":
                    raise JobFileError("expected ',' or ']' in the job file")
        if c == '"':
            if key == "body":
                return self._body()
            return self._string()
        if not c:
            raise JobFileError("the job file ends early")
        return self._scalar()

    def _object(self) -> dict[str, Any]:
        self._expect("{")
        result: dict[str, Any] = {}
        if self._peek() == "}":
            self.pos += 1
            return result
        while True:
            if self._peek() != '"':
                raise JobFileError("expected a member name in the job file")
            name = self._string()
            self._expect(":")
            result[name] = self.value(name)
            c = self._peek()
            self.pos += 1
            if c == "}":
                return result
            if c != ",":
                raise JobFileError("expected ',' or '}' in the job file")

    def _scalar(self) -> Any:
        token = ""
        while True:
            buf, start = self.buf, self.pos
            pos = start
            while pos < len(buf) and buf[pos] not in _SCALAR_END:
                pos += 1
            token += buf[start:pos]
            self.pos = pos
            if pos < len(buf) or not self._more():
                break
        try:
            return json.loads(token)
        except ValueError:
            raise JobFileError(f"invalid value {token[:40]!r} in the job file") from None

    def _raw_string_pieces(self) -> Iterator[str]:
        """Yields the raw text of a JSON string piece by piece (escapes left as written)."""
        self.pos += 1  # opening quote
        while True:
            buf = self.buf
            end = buf.find('"', self.pos)
            while end != -1:
                # a quote preceded by an odd number of backslashes is escaped
                k = end - 1
                while k >= self.pos and buf[k] == "\\":
                    k -= 1
                if (end - 1 - k) % 2 == 0:
                    break
                end = buf.find('"', end + 1)
            if end != -1:
                yield buf[self.pos:end]
                self.pos = end + 1
                return
            # keep a trailing run of backslashes for the next round, so escapes are not split
            cut = len(buf)
            while cut > self.pos and buf[cut - 1] == "\\":
                cut -= 1
            if cut > self.pos:
                yield buf[self.pos:cut]
            self.pos = cut
            if not self._more():
                raise JobFileError("unterminated string in the job file")

    def _string(self) -> str:
        raw = "".join(self._raw_string_pieces())
        if "\\" not in raw:
            return raw
        try:
            text: str = json.loads('"' + raw + '"')
            return text
        except ValueError:
            raise JobFileError("invalid escape in a string of the job file") from None

    def _body(self) -> ResultBody:
        self.bodies += 1
        path = os.path.join(self.spill_dir, f"body-{self.bodies}")
        pending = ""
        with open(path, "wb") as out:
            for piece in self._raw_string_pieces():
                if "\\" in piece:
                    piece = piece.replace("\\/", "/")
                    if "\\" in piece:
                        raise JobFileError("a file body of the job file is not Base64 text")
                piece = pending + piece
                cut = len(piece) - len(piece) % 4
                pending = piece[cut:]
                if cut:
                    out.write(_b64decode(piece[:cut]))
            if pending:
                raise JobFileError("a file body of the job file is not Base64 text (bad length)")
        return ResultBody(path)


def _b64decode(text: str) -> bytes:
    try:
        return pybase64.b64decode(text, validate=True)
    except ValueError:  # binascii.Error, or a character outside ASCII
        raise JobFileError("a file body of the job file is not Base64 text") from None


def read_job(path: str, spill_dir: str) -> dict[str, Any]:
    """Parses the job file at `path`; file bodies are decoded into files in `spill_dir`."""
    try:
        with open(path, encoding="utf-8", newline="") as stream:
            parser = _Parser(stream, spill_dir)
            job = parser.value()
            if parser._peek() != "":
                raise JobFileError("unexpected text after the job document")
    except UnicodeDecodeError:
        raise JobFileError("the job file is not UTF-8 text") from None
    except RecursionError:
        raise JobFileError("the job file nests values too deeply") from None
    if not isinstance(job, dict) or not isinstance(job.get("content"), dict):
        raise JobFileError("the job file holds no job content")
    if not isinstance(job.get("integration"), str):
        raise JobFileError("the job file names no integration")
    return job
