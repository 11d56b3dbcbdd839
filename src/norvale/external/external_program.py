"""The job machinery every integration module builds on.

An integration's job class derives from `ExternalProgram` and supplies its job content, either as a
`_JobContent` record (`_generate_job_content`) or streamed as JSON members (`_write_job_content`,
for classes with `_multipart_job_content`). `execute` writes the job to a temporary job file, hands
it to the worker (`norvale.worker`), and keeps the worker's result; the job's getters read it back.

Result content is a dict whose file bodies are Base64 text or `ResultBody` objects (a file the
worker left on disk, so large outputs never sit in memory twice; defined by the worker protocol,
`norvale.worker.protocol`); every helper here accepts both.
The formats per integration are described in docs/results.md.
"""

from __future__ import annotations

import base64
import binascii
import codecs
import gzip
import io
import json
import numbers
import os
import sys
import tempfile
from typing import Any, BinaryIO, ClassVar, ItemsView, KeysView, Mapping, Optional, TextIO, Union

import pybase64

from norvale import worker as _worker
from norvale.core import File
from norvale.errors import ExecutionError
from norvale.worker.protocol import JOB_DIR_PREFIX, ResultBody, RunResult

__all__ = [
    "ExternalProgram",
    "ResultBody",
    "_JobContent",
    "_StreamedDict",
    "_get_file_body",
    "_get_strata_file_body",
    "_strata_exception_map",
]

# Bytes read per step when streaming a file into a job: a multiple of 3, so Base64 pieces join.
_STREAM_CHUNK = 3 * (1 << 20)


def _body_as_file(body: ResultBody) -> File:
    """A `File` backed by a result body on disk (not loaded into memory); it keeps the body alive."""
    file = File.from_path(body.path)
    file._keepalive = body
    return file


class _JobContent:
    """What a worker is to do: named members, each a file entry, a list of them, or a text."""

    __slots__ = ("_members",)

    def __init__(self, **members: Any) -> None:
        self._members = members

    def items(self) -> ItemsView[str, Any]:
        return self._members.items()

    def keys(self) -> KeysView[str]:
        return self._members.keys()

    def __getitem__(self, key: str) -> Any:
        return self._members[key]

    def __contains__(self, key: object) -> bool:
        return key in self._members

    def __eq__(self, other: object) -> bool:
        if isinstance(other, _JobContent):
            return self._members == other._members
        return NotImplemented

    __hash__: ClassVar[None] = None  # type: ignore[assignment]  # pyright: ignore[reportIncompatibleMethodOverride]

    def to_dict(self) -> dict[str, Any]:
        return dict(self._members)

    def __repr__(self) -> str:
        inner = ", ".join(f"{k}={_short_repr(v)}" for k, v in self._members.items())
        return f"_JobContent({inner})"


def _short_repr(value: Any) -> str:
    text = repr(value)
    return text if len(text) <= 80 else text[:77] + "..."


def _body_to_bytes(body: Any) -> Optional[bytes]:
    """Bytes of a result body: Base64 text, a `ResultBody`, or raw bytes; None when it holds nothing."""
    if body is None:
        return None
    if isinstance(body, ResultBody):
        return body.read_bytes()
    if isinstance(body, (bytes, bytearray, memoryview)):
        return bytes(body)
    if isinstance(body, str):
        if not body:
            return None
        try:
            return base64.b64decode(body, validate=True)
        except binascii.Error as exc:
            raise ExecutionError(f"The worker returned a file body that is not valid Base64: {exc}") from None
    raise TypeError(f"a result body must be Base64 text, not {type(body).__name__}")


def _get_file_body(body: Any) -> Optional[io.BytesIO]:
    """The content of a result body as a BytesIO at position 0, or None when the body holds nothing."""
    data = _body_to_bytes(body)
    if data is None:
        return None
    return io.BytesIO(data)


def _entry_body(entry: Any) -> Any:
    """The body of a file entry (dict with "body"), or the entry itself when it is a body."""
    if isinstance(entry, Mapping):
        return entry.get("body")
    return entry


# Worker messages of the stratigraphy-family programs (Moraine) and what the user is told.
_strata_exception_map: dict[str, tuple[str, type]] = {
    "Error creating input file": (
        "Error creating the input file on the worker, please check worker installation and permissions",
        ExecutionError,
    ),
    "Error running analysis": (
        "Error running the analysis, please check the input file, license and server",
        ExecutionError,
    ),
    "Error running analysis: no output": (
        "The analysis finished without writing an output file, please check the input file",
        ExecutionError,
    ),
}


def _get_strata_file_body(result_content: Mapping[str, Any], extension: str) -> Optional[io.BytesIO]:
    """The first output file whose name ends with `extension`, as BytesIO; None when there is none.

    The result content holds the program's output files as a list of file entries under
    "output_files" (see docs/results.md).
    """
    files = result_content.get("output_files") if isinstance(result_content, Mapping) else None
    if not files:
        return None
    for entry in files:
        name = entry.get("filename", "") if isinstance(entry, Mapping) else ""
        if isinstance(name, str) and name.endswith(extension):
            return _get_file_body(_entry_body(entry))
    return None


class _StreamedDict:
    """Read access to a service reply or result whose values are (possibly compressed) Base64 files."""

    __slots__ = ("_data",)

    def __init__(self, data: Mapping[str, Any]) -> None:
        self._data = data

    @classmethod
    def from_dict(cls, data: Mapping[str, Any]) -> "_StreamedDict":
        if not isinstance(data, Mapping):
            raise TypeError(f"expected a mapping, not {type(data).__name__}")
        return cls(data)

    def __getitem__(self, key: str) -> Any:
        value = self._data[key]
        if isinstance(value, ResultBody):
            return value.text()
        return value

    def __contains__(self, key: object) -> bool:
        return key in self._data

    def get(self, key: str, default: Any = None) -> Any:
        return self[key] if key in self._data else default

    def keys(self) -> KeysView[str]:
        return self._data.keys()

    def get_value_as_bytes(self, key: str, decompress: bool = False) -> Optional[bytes]:
        """The decoded content under `key` (gunzipped when `decompress`), or None when there is none."""
        data = _body_to_bytes(_entry_body(self._data.get(key)))
        if data is None:
            return None
        if decompress:
            data = gzip.decompress(data)
        return data

    def get_value_as_file(self, key: str, decompress: bool = False) -> Optional[File]:
        """The content under `key` as a `File` (gunzipped when `decompress`), or None when there is none."""
        data = self.get_value_as_bytes(key, decompress=decompress)
        return None if data is None else File.from_data(data)

    def __repr__(self) -> str:
        return f"_StreamedDict({sorted(self._data)})"


_TEXT_SLICE = 1 << 22
_encoder = json.JSONEncoder()


def _write_json(w: TextIO, value: Any) -> None:
    """Writes `value` as JSON; long texts (file bodies) go out in slices instead of as one copy."""
    if isinstance(value, str) and len(value) > _TEXT_SLICE and value.isascii() and '"' not in value \
            and "\\" not in value and value.isprintable():
        w.write('"')
        for start in range(0, len(value), _TEXT_SLICE):
            w.write(value[start:start + _TEXT_SLICE])
        w.write('"')
    elif isinstance(value, Mapping) and all(isinstance(key, str) for key in value):
        w.write("{")
        for i, (key, item) in enumerate(value.items()):
            w.write((", " if i else "") + json.dumps(key) + ": ")
            _write_json(w, item)
        w.write("}")
    elif isinstance(value, (list, tuple)):
        w.write("[")
        for i, item in enumerate(value):
            if i:
                w.write(", ")
            _write_json(w, item)
        w.write("]")
    else:
        for chunk in _encoder.iterencode(value):
            w.write(chunk)


class _JobState:
    """The kit's bookkeeping for one job object, kept outside the instance `__dict__`."""

    __slots__ = ("integration", "version", "result", "program_log")

    def __init__(self, integration: str, version: Optional[int]) -> None:
        self.integration = integration
        self.version = version
        self.result: Optional[RunResult] = None  # what the worker's run returned, after a successful run
        self.program_log: str = ""  # the end of the program's output of the last run


# Characters of program output an ExecutionError carries (the end of it).
_ERROR_OUTPUT_TAIL = 4000

# Inputs the kit checks before a job is built: integration -> (attribute, parameter name). The
# constructors store them unchanged, so a wrong kind would otherwise surface deep in the job.
_JOB_INPUTS = {
    "moraine": (("input_file", "input_file"),),
    "korro": (("_kox_file", "kox_file"),),
    "tarsis": (("input_file", "input_file"), ("xml_def_file", "xml_def_file"), ("tarsis_model", "tarsis_model")),
}


def _wrong_input_kind(value: Any) -> Optional[str]:
    """How to describe `value` when it is a kind users mistake for a job input, else None."""
    if isinstance(value, (io.BytesIO, File)):
        return None
    if isinstance(value, str):
        return "a str"
    if isinstance(value, (bytes, bytearray, memoryview)):
        return f"a {type(value).__name__} object"
    if isinstance(value, os.PathLike):
        return f"a path ({type(value).__name__})"
    if isinstance(value, io.IOBase):
        return f"an open file ({type(value).__name__})"
    return None


def _check_inputs(job: "ExternalProgram", integration: str) -> None:
    inputs = _JOB_INPUTS.get(integration)
    if not inputs:
        return
    module = sys.modules.get(type(job).__module__)
    accepted = tuple(t for t in (getattr(module, "BytesIO", None), getattr(module, "File", None)) if isinstance(t, type))
    attributes = vars(job)
    for attribute, parameter in inputs:
        if attribute not in attributes:
            continue
        value = attributes[attribute]
        kind = _wrong_input_kind(value)
        if kind is None or (accepted and isinstance(value, accepted)):
            continue
        raise TypeError(
            f"{type(job).__name__}: {parameter} must be an io.BytesIO or a norvale.core.File, not {kind}; "
            f"use File.from_path(path) for a file on disk, File.from_data(data) or io.BytesIO(data) for bytes"
        )


def _annotate(error: BaseException, failure: Any) -> None:
    """Puts what the worker reported on `error`: attributes (ExecutionError) and notes."""
    message = getattr(failure, "message", str(failure))
    exit_status = getattr(failure, "exit_status", None)
    output = getattr(failure, "output", "") or ""
    tail = output[-_ERROR_OUTPUT_TAIL:]
    worker_name = getattr(failure, "worker_name", None)
    if isinstance(error, ExecutionError):
        error.worker_message = message
        error.exit_status = exit_status
        error.program_output = tail
        error.worker_name = worker_name
    if not isinstance(error, Exception):
        return
    if message != str(error):
        error.add_note(f"worker message: {message}")
    if worker_name is not None:
        error.add_note(f"reported by the worker {worker_name!r}")
    for advice in getattr(failure, "advice", ()) or ():
        error.add_note(advice)
    if exit_status is not None:
        error.add_note(f"program exit status: {exit_status}")
    if tail:
        cut = " (end)" if len(tail) < len(output) else ""
        error.add_note(f"program output{cut}:\n{tail}")


class ExternalProgram:
    """Base of every analysis job that an outside program performs on a worker."""

    __slots__ = ("_norvale_job", "__dict__", "__weakref__")

    #: True for jobs that stream their content through `_write_job_content(w)`.
    _multipart_job_content: ClassVar[bool] = False
    #: How the worker runs the job: "program" (an integration adapter) or "script".
    _job_kind: ClassVar[str] = "program"

    def __init__(self, integration: str, version: Optional[int] = None) -> None:
        if not isinstance(integration, str) or not integration:
            raise ValueError("the integration name must be a non-empty text")
        self._norvale_job = _JobState(integration, version)

    # -- hooks filled by the integration modules ----------------------------------------------
    def _generate_job_content(self) -> _JobContent:
        raise NotImplementedError(f"{type(self).__name__} does not define its job content")

    def _write_job_content(self, w: TextIO) -> None:
        raise NotImplementedError(f"{type(self).__name__} does not define its job content")

    def _handle_execution_error(self, message: str) -> None:
        return None

    # -- running ------------------------------------------------------------------------------
    def _job_state(self) -> _JobState:
        try:
            return self._norvale_job
        except AttributeError:
            raise ExecutionError(
                f"{type(self).__name__} was not initialised: its constructor must call ExternalProgram.__init__"
            ) from None

    def _job_header(self) -> dict[str, Any]:
        state = self._job_state()
        return {"integration": state.integration, "version": state.version, "kind": self._job_kind}

    def execute(self, timeout: float) -> None:
        """Runs the job on the worker and keeps its result; waits at most `timeout` seconds.

        A failure reported by the worker goes to `_handle_execution_error`; when that does not
        raise, `ExecutionError` with the worker's message is raised. Either way the error carries
        the worker's message, the program's exit status and the end of its output (attributes and
        notes). Running out of time raises `ExecutionError` too, and the job's processes are
        stopped. A job can be executed again; it sends the same inputs every time.
        """
        if isinstance(timeout, bool) or not isinstance(timeout, numbers.Real):
            raise TypeError(f"timeout must be a number of seconds, not {type(timeout).__name__}")
        if not timeout > 0:
            raise ValueError(f"timeout must be a positive number of seconds, got {timeout!r}")
        state = self._job_state()
        _check_inputs(self, state.integration)
        previous, state.result = state.result, None
        state.program_log = ""
        if previous is not None:
            previous.release()
        # A file of its own rather than a directory holding it: a directory's removal costs a
        # synchronous block release on many file systems, a file's does not. A worker that runs
        # the job here knows the name by its prefix and removes it, should the application die.
        fd, job_path = tempfile.mkstemp(prefix=JOB_DIR_PREFIX, suffix=".json")
        try:
            os.close(fd)
            self._write_job_file(job_path)
            try:
                result = _worker.get_worker().run(job_path, timeout=float(timeout))
            except _worker.WorkerFailure as failure:
                state.program_log = failure.output or ""
                message = failure.message
                try:
                    self._handle_execution_error(message)
                except BaseException as error:
                    _annotate(error, failure)
                    raise
                error = ExecutionError(message)
                _annotate(error, failure)
                raise error from None
        finally:
            try:
                os.unlink(job_path)
            except OSError:
                pass
        state.result = result
        state.program_log = getattr(result, "output", "") or ""

    def get_program_log(self) -> str:
        """The end of the program's output (stdout, then stderr) of the last `execute`.

        At most 64 kB, the end kept; "" before `execute` or when the program wrote nothing. The
        same text (its last few kB) is on the `ExecutionError` of a failed run.
        """
        return self._job_state().program_log

    def _write_job_file(self, path: str) -> None:
        """Writes the job (header and content) as one JSON object, streaming file bodies."""
        with open(path, "w", encoding="utf-8", newline="") as w:
            header = json.dumps(self._job_header())
            w.write(header[:-1] + ', "content": {')
            if self._multipart_job_content:
                self._write_job_content(w)
            else:
                content = self._generate_job_content()
                if not isinstance(content, _JobContent):
                    raise TypeError(
                        f"_generate_job_content() must return a _JobContent, not {type(content).__name__}"
                    )
                for i, (key, value) in enumerate(content.items()):
                    w.write((", " if i else "") + json.dumps(key) + ": ")
                    _write_json(w, value)
                del content
            w.write("}}")

    def _write_file_content_to_file(self, w: TextIO, stream: BinaryIO, base64_encoding: bool = True) -> None:
        """Writes what `stream` holds from its current position into the text stream `w`.

        With `base64_encoding` the bytes are written as Base64 characters only (no quotes, no line
        breaks); otherwise they are decoded as UTF-8 text. Read in pieces, so memory stays bounded.
        A seekable stream is put back where it was, so the next `execute` sends the same bytes.
        """
        try:
            start = stream.tell() if stream.seekable() else None
        except (AttributeError, OSError):
            start = None
        try:
            if base64_encoding:
                _write_base64(w, stream)
            else:
                decoder = codecs.getincrementaldecoder("utf-8")()
                while True:
                    chunk = stream.read(_STREAM_CHUNK)
                    text = decoder.decode(chunk or b"", final=not chunk)
                    if text:
                        w.write(text)
                    if not chunk:
                        break
        except BaseException:
            if start is not None:
                try:
                    stream.seek(start)
                except (OSError, ValueError):
                    pass  # the stream broke: its own error is the one to see
            raise
        if start is not None:
            stream.seek(start)

    # -- results ------------------------------------------------------------------------------
    def _get_result_content(self) -> dict[str, Any]:
        """The worker's result as a dict; an empty dict before a successful `execute`."""
        result = self._job_state().result
        return result.content if result is not None else {}

    def _get_result(self, key: str, as_file: bool = False) -> Union[io.BytesIO, File, None]:
        """The result file `key` as BytesIO (at position 0), or as `File`; None when the result has none."""
        body = _entry_body(self._get_result_content().get(key))
        if isinstance(body, ResultBody):
            return _body_as_file(body) if as_file else io.BytesIO(body.read_bytes())
        stream = _get_file_body(body)
        if stream is None:
            return None
        return File.from_data(stream.getvalue()) if as_file else stream


def _write_base64(w: TextIO, stream: BinaryIO) -> None:
    """Writes the Base64 text of what `stream` holds from where it stands into `w`.

    Reads that come back short (a pipe, a socket) are joined, so the text has padding only at
    its end. Into a text file of an ASCII-compatible encoding the characters go straight to its
    binary buffer, without a str in between.
    """
    out: Any = None
    if type(w) is io.TextIOWrapper and codecs.lookup(w.encoding).name in _ASCII_COMPATIBLE:
        w.flush()
        out = w.buffer
    chunk = stream.read(_STREAM_CHUNK)
    while chunk:
        after = stream.read(_STREAM_CHUNK)  # one read ahead: only the last piece may end unevenly
        cut = len(chunk) if not after else len(chunk) - len(chunk) % 3
        if cut:
            text = pybase64.b64encode(memoryview(chunk)[:cut])
            if out is not None:
                out.write(text)
            else:
                w.write(text.decode("ascii"))
        chunk = bytes(chunk[cut:]) + after if cut < len(chunk) else after


_ASCII_COMPATIBLE = ("utf-8", "ascii", "latin-1", "iso8859-1", "cp1252")
