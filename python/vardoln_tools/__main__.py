"""`python -m vardoln_tools`: the vardoln-cn0 command."""

import sys

from .commands import main

sys.exit(main())
