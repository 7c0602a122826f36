#!/usr/bin/env bash
# Builds the extension and installs it into the venv (incremental: the CMake build tree
# under build/ is reused). Sourced after setup.sh.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
printf '[setup] building and installing vardoln_cn0 into %s\n' "$VARDOLN_VENV" >&2
"$VARDOLN_VENV/bin/python" -m pip install -q --no-build-isolation "$root" >&2
