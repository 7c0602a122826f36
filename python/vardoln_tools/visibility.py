"""Deprecated: `vardoln_tools.visibility` is now `vardoln_tools.tables.visibility`; this path goes in the next
release."""

import warnings

from .tables import visibility as _moved
from .tables.visibility import *  # noqa: F403

warnings.warn("vardoln_tools.visibility is deprecated: import vardoln_tools.tables.visibility",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
