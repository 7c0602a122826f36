"""Deprecated: `vardoln_tools.report` is now `vardoln_tools.render.report`; this path goes in the next
release."""

import warnings

from .render import report as _moved
from .render.report import *  # noqa: F403

warnings.warn("vardoln_tools.report is deprecated: import vardoln_tools.render.report",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
