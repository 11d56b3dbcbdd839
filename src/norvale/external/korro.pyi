from abc import ABC, abstractmethod
from enum import Enum
from io import BytesIO
from typing import Any, Dict, List, Literal, Optional, Sequence, Tuple, Union, overload

from norvale.core import File
from norvale.external.external_program import ExternalProgram, _JobContent

__all__ = ["CopyNodalLoadAction", "EnergyOptimizationAction", "LoadingType", "KORROAction", "KORROAnalysis",
           "WriteResultsAction"]

class LoadingType(Enum):
    LOAD_CASE = 1
    LOAD_COMBINATION = 2

class KORROAction(ABC):
    _id: int
    def __init__(self, id_: int) -> None: ...
    @property
    @abstractmethod
    def _config(self) -> Dict[str, Any]: ...

class EnergyOptimizationAction(KORROAction):
    load_cases: Optional[List[int]]
    loading_type: LoadingType
    goal: float
    accuracy: float
    def __init__(
        self,
        load_cases: Optional[Sequence[int]],
        loading_type: LoadingType = LoadingType.LOAD_CASE,
        *,
        goal: float,
        accuracy: float,
    ) -> None: ...
    @property
    def _config(self) -> Dict[str, Any]: ...

class CopyNodalLoadAction(KORROAction):
    factor: float
    copy_from_to: List[Tuple[int, int]]
    loading_type: LoadingType
    def __init__(
        self,
        copy_from_to: Sequence[Tuple[int, int]],
        loading_type: LoadingType = LoadingType.LOAD_CASE,
        *,
        factor: float = 1.0,
    ) -> None: ...
    @property
    def _config(self) -> Dict[str, Any]: ...

class WriteResultsAction(KORROAction):
    load_cases: Optional[List[int]]
    loading_type: LoadingType
    def __init__(
        self,
        load_cases: Optional[Sequence[int]] = None,
        loading_type: LoadingType = LoadingType.LOAD_CASE,
    ) -> None: ...
    @property
    def _config(self) -> Dict[str, Any]: ...

class KORROAnalysis(ExternalProgram):
    _kox_file: Union[BytesIO, File]
    _actions: List[KORROAction]
    def __init__(self, kox_file: Union[BytesIO, File], actions: Sequence[KORROAction]) -> None: ...
    def _generate_job_content(self) -> _JobContent: ...
    def _handle_execution_error(self, message: str) -> None: ...
    @overload
    def get_model(self, *, as_file: Literal[True]) -> File: ...
    @overload
    def get_model(self, *, as_file: Literal[False] = False) -> BytesIO: ...
    @overload
    def get_model(self, *, as_file: bool = False) -> Union[BytesIO, File]: ...
    @overload
    def get_result(self, load_case: int, *, as_file: Literal[True]) -> File: ...
    @overload
    def get_result(self, load_case: int, *, as_file: Literal[False] = False) -> BytesIO: ...
    @overload
    def get_result(self, load_case: int, *, as_file: bool = False) -> Union[BytesIO, File]: ...
    def _get_korro_result_content(self) -> BytesIO: ...
    @overload
    def _get_file_from_zip(self, file_name: str, *, as_file: Literal[True]) -> File: ...
    @overload
    def _get_file_from_zip(self, file_name: str, *, as_file: Literal[False]) -> BytesIO: ...
    @overload
    def _get_file_from_zip(self, file_name: str, *, as_file: bool) -> Union[BytesIO, File]: ...
