"""Deprecated: `vardoln_tools.navfiles` is now `vardoln_tools.tables.navigation`; this path goes in the next
release."""

import warnings

from .batch.navigation import Candidate, Choice, choose, overall_percent  # the choice moved to the batch
from .tables import navigation as _moved
from .tables.navigation import *  # noqa: F403

warnings.warn("vardoln_tools.navfiles is deprecated: import vardoln_tools.tables.navigation",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
