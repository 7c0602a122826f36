"""Deprecated: `vardoln_tools.summary` is now `vardoln_tools.render.summary`; this path goes in the next
release."""

import warnings

from .render import summary as _moved
from .render.summary import *  # noqa: F403

warnings.warn("vardoln_tools.summary is deprecated: import vardoln_tools.render.summary",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
