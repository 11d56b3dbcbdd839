from io import BytesIO
from typing import Optional, Union

from norvale.core import File
from norvale.external.external_program import ExternalProgram, _JobContent

__all__ = ["MoraineAnalysis"]

class MoraineAnalysis(ExternalProgram):
    input_file: Union[BytesIO, File]
    def __init__(self, input_file: Union[BytesIO, File]) -> None: ...
    def _generate_job_content(self) -> _JobContent: ...
    def _handle_execution_error(self, message: str) -> None: ...
    def get_output_file(self, extension=".sto", *, as_file=False) -> Optional[Union[BytesIO, File]]: ...
