"""Deprecated: `vardoln_tools.signals` is now `vardoln_tools.tables.signals`; this path goes in the next
release."""

import warnings

from .tables import signals as _moved
from .tables.signals import *  # noqa: F403

warnings.warn("vardoln_tools.signals is deprecated: import vardoln_tools.tables.signals",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
