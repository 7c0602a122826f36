"""The rows of a batch as a table: a pandas DataFrame, and the fixed-width text the command prints."""

from __future__ import annotations

import os
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any

from .rows import ANALYSED, FAILED, NOTHING_TO_JUDGE, columns

if TYPE_CHECKING:
    import pandas as pd


def to_dataframe(rows: Sequence[Mapping[str, Any]]) -> pd.DataFrame:
    """The rows as a pandas DataFrame (pandas is imported only here)."""
    try:
        import pandas
    except ImportError:
        raise ImportError("to_dataframe needs pandas (pip install pandas)") from None
    return pandas.DataFrame([dict(row) for row in rows], columns=columns(rows))


def format_table(rows: Sequence[Mapping[str, Any]]) -> str:
    """A compact fixed-width table of the rows, one line each."""
    lines = [f"{'FILE':<34} {'STATION':<9} {'START':<20} {'EPOCHS':>6} {'SATS':>4} {'C/N0':>5} "
             f"{'EVENTS':>6}  JIS {'GRADE':<5} {'W/F':>5} {'NAV COV':>7} {'CONFIRMED':>9}"]
    for row in rows:
        name = os.path.basename(row["path"])
        name = name if len(name) <= 34 else name[:33] + "~"
        if row["status"] == FAILED:
            lines.append(f"{name:<34} error: {row['error']}")
            continue
        if row["status"] == NOTHING_TO_JUDGE:
            lines.append(f"{name:<34} nothing to judge: {row['reason']}")
            continue
        criteria = f"{row['criteria_warned']}/{row['criteria_failed']}"
        flags = "".join("?" if row[key] is None else letter if row[key] else "-" for letter, key in
                        (("J", "jamming"), ("I", "interference"), ("S", "spoofing")))
        confirmed = "-" if row["confirmation_rate"] is None else f"{row['confirmation_rate']:.1f}%"
        coverage = "-" if row["nav_coverage"] is None else f"{row['nav_coverage']:.1f}%"
        mean = "-" if row["mean_cn0"] is None else f"{row['mean_cn0']:.1f}"
        start = (row["start"] or "")[:19]
        lines.append(f"{name:<34} {(row['station'] or '-')[:9]:<9} {start:<20} {row['epochs']:>6} "
                     f"{row['satellites']:>4} {mean:>5} {row['events']:>6}  {flags} {row['grade']:<5} "
                     f"{criteria:>5} {coverage:>7} {confirmed:>9}")
    warned = [row for row in rows if row.get("warning")]
    if warned:
        lines.append("")
        lines += [f"{os.path.basename(row['path'])}: {row['warning']}" for row in warned]
    lines.append("")
    lines.append("EVENTS: episodes of the event detector; J/I/S: jamming, interference, spoofing detected (-: not "
                 "detected, ?: not assessable); GRADE: the health grade, W/F: its criteria that warn and fail; "
                 "NAV COV: observed satellite-epochs with an ephemeris")
    return "\n".join(lines)


def counts_line(rows: Sequence[Mapping[str, Any]], skipped: int) -> str:
    """The closing line: analysed, nothing-to-judge, failed and skipped files."""
    def count(status: str) -> int:
        return sum(row["status"] == status for row in rows)

    return (f"{count(ANALYSED)} analysed, {count(NOTHING_TO_JUDGE)} nothing to judge, {count(FAILED)} failed, "
            f"{skipped} skipped (not recordings)")
