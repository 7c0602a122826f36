"""Deprecated: `vardoln_tools.assessment` is now `vardoln_tools.judge.assessment`; this path goes in the next
release."""

import warnings

from .judge import assessment as _moved
from .judge.assessment import *  # noqa: F403

warnings.warn("vardoln_tools.assessment is deprecated: import vardoln_tools.judge.assessment",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
