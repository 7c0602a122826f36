"""The version of the package, its one source (pyproject.toml reads it from here)."""

__version__ = "0.4.2"
