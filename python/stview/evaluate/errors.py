"""The two ways an evaluation stops early, with the exit status of each."""


class EvaluationError(Exception):
    """A run that cannot go on; the message is one line naming the problem."""

    status = 1


class BadArguments(EvaluationError):
    """Arguments that cannot work: a missing folder, a bad option value (status 2)."""

    status = 2


class Failed(EvaluationError):
    """A run that failed on its data: no usable training data, no model (status 1)."""

    status = 1
