"""norvale: prepare engineering analyses, run them on a worker, and read the results back."""

__version__ = "0.1.0"
