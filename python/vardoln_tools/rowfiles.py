"""Deprecated: `vardoln_tools.rowfiles` is now `vardoln_tools.batch.rowfiles`; this path goes in the next
release."""

import warnings

from .batch import rowfiles as _moved
from .batch.rowfiles import *  # noqa: F403

warnings.warn("vardoln_tools.rowfiles is deprecated: import vardoln_tools.batch.rowfiles",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
