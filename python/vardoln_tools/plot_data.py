"""Deprecated: `vardoln_tools.plot_data` is now `vardoln_tools.render.plot_data`; this path goes in the next
release."""

import warnings

from .render import plot_data as _moved
from .render.plot_data import *  # noqa: F403

warnings.warn("vardoln_tools.plot_data is deprecated: import vardoln_tools.render.plot_data",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)
