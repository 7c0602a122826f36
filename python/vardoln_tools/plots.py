"""Deprecated: `vardoln_tools.plots` is now `vardoln_tools.render.plots`; this path goes in the next
release."""

import warnings

from .render import plots as _moved
from .render.plots import *  # noqa: F403

warnings.warn("vardoln_tools.plots is deprecated: import vardoln_tools.render.plots",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
