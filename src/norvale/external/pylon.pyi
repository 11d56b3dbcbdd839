from norvale.external.python import PythonAnalysis

__all__ = ["PYLONAnalysis"]

class PYLONAnalysis(PythonAnalysis):
    _integration: str
