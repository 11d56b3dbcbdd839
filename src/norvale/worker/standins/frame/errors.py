"""The one error of the frame analysis: a model it refuses, with a message naming why."""


class AnalysisRefused(Exception):
    """The model holds something the frame analysis does not analyse, or cannot be analysed (a
    mechanism, an unknown material or profile). The message names the object."""
