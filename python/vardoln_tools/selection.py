"""Deprecated: `vardoln_tools.selection` is now `vardoln_tools.judge.selection`; this path goes in the next
release."""

import warnings

from .judge import selection as _moved
from .judge.selection import *  # noqa: F403

warnings.warn("vardoln_tools.selection is deprecated: import vardoln_tools.judge.selection",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
