"""Command line, plots, reports and batch runs on top of the vardoln_cn0 extension module."""

__all__ = ["__version__"]

__version__ = "0.4.2"
