"""The top layer: the `vardoln-cn0` command line, one module per subcommand (`analyze`, `info`,
`nav`, `batch`, `signals`, `qc`), what they share (`support`: exit statuses, one-line errors, the
checks of the files given) and the parser that registers them (`cli`). Nothing below imports
from here.
"""

from .cli import build_parser, main

__all__ = ["build_parser", "main"]
