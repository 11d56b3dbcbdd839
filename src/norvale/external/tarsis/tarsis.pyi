from enum import Enum
from io import BytesIO
from typing import BinaryIO, ClassVar, Dict, List, Optional, TextIO, Union
from xml.etree.ElementTree import Element

from norvale.core import File
from norvale.external.external_program import ExternalProgram

__all__ = ["CalcSetting", "Model", "OutputFileParser", "ResultType", "TarsisAnalysis"]

# ---- analysis job -------------------------------------------------------------------------------

class CalcSetting(str, Enum):
    NONE = "NONE"
    NOC = "NOC"
    LIN = "LIN"
    NEL = "NEL"
    EIG = "EIG"
    STB = "STB"
    INF = "INF"
    MOB = "MOB"
    TDA = "TDA"
    SLN = "SLN"
    PHA = "PHA"
    NPH = "NPH"
    CSS = "CSS"
    NST = "NST"
    TID = "TID"

class ResultType(str, Enum):
    NONE = "XML"
    MODEL = "MODEL"
    ENGINEERING_REPORT = "ENGINEERING_REPORT"

class TarsisAnalysis(ExternalProgram):
    _multipart_job_content: ClassVar[bool]
    input_file: Union[BytesIO, File]
    xml_def_file: Union[BytesIO, File]
    tarsis_model: Union[BytesIO, File]
    calculation_setting: CalcSetting
    xml_doc_name: str
    _result_type: ResultType
    _output_document: str
    def __init__(
        self,
        input_file: Union[BytesIO, File],
        xml_def_file: Union[BytesIO, File],
        tarsis_model: Union[BytesIO, File],
        calculation_setting: CalcSetting = ...,
        xml_doc_name: str = "output",
        *,
        result_type: ResultType = ...,
        output_document: str = "",
    ) -> None: ...
    @staticmethod
    def get_xml_def_name(input_file: BinaryIO) -> str: ...
    def _write_job_content(self, w: TextIO) -> None: ...
    def _handle_execution_error(self, message: str) -> None: ...
    def get_xml_output_file(self, as_file: bool = False) -> Optional[Union[BytesIO, File]]: ...
    def get_updated_esa_model(self, as_file: bool = False) -> Optional[Union[BytesIO, File]]: ...
    def get_engineering_report(self, as_file: bool = False) -> Optional[Union[BytesIO, File]]: ...

# ---- output file parser -------------------------------------------------------------------------

class OutputFileParser:
    _NS: ClassVar[Dict[str, str]]
    @classmethod
    def get_result(
        cls, file: BinaryIO, table_name: str, *, parent: Optional[str] = None
    ) -> Dict[str, Dict[Optional[str], List[Optional[str]]]]: ...
    @classmethod
    def _get_table_element(cls, file: BinaryIO, table_name: str, parent: Optional[str] = None) -> Element: ...
    @classmethod
    def _result_element_to_dict(cls, element: Element) -> Dict[Optional[str], List[Optional[str]]]: ...
    @staticmethod
    def _tag_without_ns(elem: Element) -> str: ...

# ---- model builder ------------------------------------------------------------------------------

class Model: ...
