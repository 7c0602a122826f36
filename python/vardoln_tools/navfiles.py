"""Deprecated: `vardoln_tools.navfiles` is now `vardoln_tools.batch.navigation` (the choice of
navigation files); several files are merged by `vardoln_tools.tables.recording.load`. This path goes
in the next release."""

import warnings

from .batch import navigation as _moved
from .batch.navigation import *  # noqa: F403

warnings.warn("vardoln_tools.navfiles is deprecated: import vardoln_tools.batch.navigation",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
