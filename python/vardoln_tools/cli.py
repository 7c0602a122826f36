"""Deprecated: `vardoln_tools.cli` is now `vardoln_tools.commands.cli`; this path goes in the next
release."""

import warnings

from .commands import cli as _moved
from .commands.cli import *  # noqa: F403

warnings.warn("vardoln_tools.cli is deprecated: import vardoln_tools.commands.cli",
              DeprecationWarning, stacklevel=2)


def __getattr__(name: str) -> object:
    return getattr(_moved, name)


if __name__ == "__main__":
    import sys

    sys.exit(main())
