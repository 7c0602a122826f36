"""Deprecated: `vardoln_tools.observations` is now `vardoln_tools.tables.observations`; this path goes in the next
release."""

import warnings

from .tables import observations as _moved
from .tables.observations import *  # noqa: F403

warnings.warn("vardoln_tools.observations is deprecated: import vardoln_tools.tables.observations",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
