"""Script analysis: the worker runs a blocking script with input files beside it.

A subclass names the outside program the script drives through the class attribute `_integration`;
the worker chooses the interpreter configured for that integration.
"""

from __future__ import annotations

import base64
from typing import Optional, Sequence, Tuple

from norvale.core import File
from norvale.errors import ExecutionError
from norvale.external.external_program import ExternalProgram, ResultBody, _JobContent, _entry_body, _get_file_body

__all__ = ["PythonAnalysis"]


def _file_entry(name: str, file: File) -> dict:
    if not isinstance(file, File):
        raise TypeError(f"the input file {name!r} must be a File, not {type(file).__name__}")
    return {"filename": name, "type": name.rpartition(".")[2] if "." in name else "", "body":
            base64.b64encode(file.getvalue_binary()).decode("ascii")}


class PythonAnalysis(ExternalProgram):
    """Runs a Python script on the worker and returns the output files it writes.

    script: the script, as a `File`; it must block until its work is done.
    files: input files placed beside the script, as (name, `File`) pairs.
    output_filenames: names of the files the script writes and the job returns.
    script_key: selects a script of the worker's own configuration instead of sending one.
    """

    _integration = "python"
    _job_kind = "script"

    def __init__(self, script: Optional[File] = None, files: Optional[Sequence[Tuple[str, File]]] = None,
                 output_filenames: Optional[Sequence[str]] = None, script_key: Optional[str] = None) -> None:
        if script is None and script_key is None:
            raise ValueError("Either a script or a script_key must be given")
        if script is not None and not isinstance(script, File):
            raise TypeError(f"script must be a File, not {type(script).__name__}")
        if script_key is not None and not isinstance(script_key, str):
            raise TypeError(f"script_key must be a text, not {type(script_key).__name__}")
        files = list(files or [])
        for pair in files:
            if not (isinstance(pair, tuple) and len(pair) == 2 and isinstance(pair[0], str)):
                raise TypeError("files must be a list of (name, File) pairs")
        output_filenames = list(output_filenames or [])
        if not all(isinstance(name, str) for name in output_filenames):
            raise TypeError("output_filenames must be a list of file names")
        super().__init__(self._integration, version=1)
        self.script = script
        self.files = files
        self.output_filenames = output_filenames
        self.script_key = script_key

    def _generate_job_content(self) -> _JobContent:
        return _JobContent(
            script=_file_entry("script.py", self.script) if self.script is not None else None,
            script_key=self.script_key,
            files=[_file_entry(name, file) for name, file in self.files],
            output_filenames=list(self.output_filenames),
        )

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
                    return body.as_file()
                stream = _get_file_body(body)
                return File.from_data(stream.getvalue() if stream is not None else b"")
        return None
