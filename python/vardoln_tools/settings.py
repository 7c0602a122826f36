"""Deprecated: `vardoln_tools.settings` is now `vardoln_tools.judge.settings`; this path goes in the next
release."""

import warnings

from .judge import settings as _moved
from .judge.settings import *  # noqa: F403

warnings.warn("vardoln_tools.settings is deprecated: import vardoln_tools.judge.settings",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
