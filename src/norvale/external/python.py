"""Script analysis: the worker runs a blocking script with input files beside it.

A subclass names the outside program the script drives through the class attribute `_integration`;
the worker chooses the interpreter configured for that integration.
"""

from __future__ import annotations

import json
import os
from typing import Any, ClassVar, Optional, Sequence, TextIO, Tuple

from norvale.core import File
from norvale.errors import ExecutionError
from norvale.external.external_program import ExternalProgram, ResultBody, _body_as_file, _entry_body, _get_file_body

__all__ = ["PythonAnalysis"]


def _file_type(name: str) -> str:
    return name.rpartition(".")[2] if "." in name else ""


def _kind(value: Any) -> str:
    if isinstance(value, (str, bytes)):
        return f"a {type(value).__name__}"
    if isinstance(value, os.PathLike):
        return f"a path ({type(value).__name__})"
    return type(value).__name__


_MAKE_FILE = "build one with File.from_path(path) or File.from_data(data)"


class PythonAnalysis(ExternalProgram):
    """Runs a Python script on the worker and returns the output files it writes.

    script: the script, as a `File`; it must block until its work is done.
    files: input files placed beside the script, as (name, `File`) pairs.
    output_filenames: names of the files the script writes and the job returns (a list of texts).
    script_key: selects a script of the worker's own configuration instead of sending one.

    Give `script` or `script_key`, not both. The input files are streamed into the job, so files
    of gigabytes (`File.from_path`) need little memory.
    """

    _integration: ClassVar[str] = "python"
    _job_kind = "script"
    _multipart_job_content = True

    def __init__(self, script: Optional[File] = None, files: Optional[Sequence[Tuple[str, File]]] = None,
                 output_filenames: Optional[Sequence[str]] = None, script_key: Optional[str] = None) -> None:
        if script is None and script_key is None:
            raise ValueError("Either a script or a script_key must be given")
        if script is not None and script_key is not None:
            raise ValueError("Give either a script or a script_key, not both: a script_key selects a script "
                             "of the worker's configuration instead of sending one")
        if script is not None and not isinstance(script, File):
            raise TypeError(f"script must be a File, not {_kind(script)}; {_MAKE_FILE}")
        if script_key is not None and not isinstance(script_key, str):
            raise TypeError(f"script_key must be a text, not {type(script_key).__name__}")
        if isinstance(files, (str, bytes, os.PathLike, File)):
            raise TypeError(f"files must be a list of (name, File) pairs, not {_kind(files)}")
        files = list(files or [])
        for k, pair in enumerate(files):
            if not (isinstance(pair, tuple) and len(pair) == 2 and isinstance(pair[0], str)):
                raise TypeError(f"files must be a list of (name, File) pairs; files[{k}] is {pair!r}")
            if not isinstance(pair[1], File):
                raise TypeError(f"files[{k}]: the input file {pair[0]!r} must be a File, not {_kind(pair[1])}; "
                                f"{_MAKE_FILE}")
        if isinstance(output_filenames, (str, bytes)):
            raise TypeError(f"output_filenames must be a list of file names, not {_kind(output_filenames)}: "
                            f"write [{output_filenames!r}]")
        output_filenames = list(output_filenames or [])
        if not all(isinstance(name, str) for name in output_filenames):
            raise TypeError("output_filenames must be a list of file names (texts)")
        super().__init__(self._integration, version=1)
        self.script = script
        self.files = files
        self.output_filenames = output_filenames
        self.script_key = script_key

    def _write_file_entry(self, w: TextIO, name: str, file: File) -> None:
        w.write(f'{{"filename": {json.dumps(name)}, "type": {json.dumps(_file_type(name))}, "body": "')
        with file.open_binary() as stream:
            self._write_file_content_to_file(w, stream, base64_encoding=True)
        w.write('"}')

    def _write_job_content(self, w: TextIO) -> None:
        """Streams the job: "script", "script_key", "files" (file entries), "output_filenames"."""
        w.write('"script": ')
        if self.script is not None:
            self._write_file_entry(w, "script.py", self.script)
        else:
            w.write("null")
        w.write(f', "script_key": {json.dumps(self.script_key)}, "files": [')
        for k, (name, file) in enumerate(self.files):
            if k:
                w.write(", ")
            self._write_file_entry(w, name, file)
        w.write(f'], "output_filenames": {json.dumps(list(self.output_filenames))}')

    def get_output_file(self, filename: str) -> Optional[File]:
        """The output file `filename` written by the script, as a `File`.

        Raises ExecutionError before a successful `execute`; returns None for a name that was not
        among `output_filenames`.
        """
        content = self._get_result_content()
        if "output_files" not in content:
            raise ExecutionError("No output files available. Call .execute() before calling .get_output_file()")
        for entry in content["output_files"]:
            if entry.get("filename") == filename:
                body = _entry_body(entry)
                if isinstance(body, ResultBody):
                    return _body_as_file(body)
                stream = _get_file_body(body)
                return File.from_data(stream.getvalue() if stream is not None else b"")
        return None
