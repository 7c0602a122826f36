"""Deprecated: `vardoln_tools.workers` is now `vardoln_tools.batch.workers`; this path goes in the next
release."""

import warnings

from .batch import workers as _moved
from .batch.workers import *  # noqa: F403

warnings.warn("vardoln_tools.workers is deprecated: import vardoln_tools.batch.workers",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
