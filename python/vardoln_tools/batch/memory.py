"""The memory budget of one recording: a file larger than it, or an archive that expands past it,
is refused before it is read."""

from __future__ import annotations

import os
import stat

from .. import _native
from ..tables import roles

def format_bytes(count: int) -> str:
    """A byte count for people: "512 bytes", "1.5 KiB", "3.0 GiB"."""
    value = float(count)
    for unit in ("bytes", "KiB", "MiB", "GiB"):
        if value < 1024 or unit == "GiB":
            return f"{count} bytes" if unit == "bytes" else f"{value:.1f} {unit}"
        value /= 1024
    raise AssertionError("unreachable")


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
    cannot be read, and files that are not regular (pipes), are left to the readers."""
    try:
        info = os.stat(path)
    except OSError:
        return None
    if not stat.S_ISREG(info.st_mode):
        return None
    if info.st_size > budget:
        return (f"over the memory budget: the file has {format_bytes(info.st_size)}, "
                f"the budget is {format_bytes(budget)}")
    if roles.is_archived(path) and _native.budget_fit(path, budget) == "expansion":
        return f"over the memory budget: its archive expands past {format_bytes(budget)}"
    return None
