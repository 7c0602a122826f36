"""Deprecated: `vardoln_tools.quality_control` is now `vardoln_tools.judge.quality_control`; this path goes in the next
release."""

import warnings

from .judge import quality_control as _moved
from .judge.quality_control import *  # noqa: F403

warnings.warn("vardoln_tools.quality_control is deprecated: import vardoln_tools.judge.quality_control",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
