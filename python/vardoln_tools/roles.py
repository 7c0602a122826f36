"""Deprecated: `vardoln_tools.roles` is now `vardoln_tools.tables.roles`; this path goes in the next
release."""

import warnings

from .tables import roles as _moved
from .tables.roles import *  # noqa: F403

warnings.warn("vardoln_tools.roles is deprecated: import vardoln_tools.tables.roles",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
