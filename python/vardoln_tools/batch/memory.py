"""The memory budget of one recording: a file larger than it, or an archive that expands past it,
is refused before it is read."""

from __future__ import annotations

import os

from .. import _native
from ..tables import roles
from ..tables.recording import format_bytes, size_refusal

__all__ = ["budget_refusal", "default_memory_budget", "format_bytes"]

def default_memory_budget() -> int:
    """The memory budget of one recording when none is given: a quarter of the machine's memory."""
    try:
        return os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGE_SIZE") // 4
    except (ValueError, OSError):
        return 4 << 30


def budget_refusal(path: str, budget: int) -> str | None:
    """Why reading the file would break the memory budget (bytes), or None. A regular file larger
    than the budget is refused before it is read; an archive (gzip, Unix compress, compact RINEX)
    is expanded up to the budget, no further, whenever its expansion could pass it. Files that
    cannot be read, and files that are not regular (pipes), are left to the readers. (A batch
    checks the budget as it loads each recording, on the bytes it reads once; see
    tables.recording.load.)"""
    refusal = size_refusal(path, budget)
    if refusal is not None or not roles.is_archived(path):
        return refusal
    return "over the memory budget: its archive expands past " + format_bytes(budget) \
        if _native.budget_fit(path, budget) == "expansion" else None
