from typing import ClassVar

from norvale.external.python import PythonAnalysis

__all__ = ["PYLONAnalysis"]

class PYLONAnalysis(PythonAnalysis):
    _integration: ClassVar[str]
