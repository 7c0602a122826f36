"""The store's tables as Parquet datasets partitioned by station and year, for tools that read a
network's history at scale (Dask, DuckDB, Spark)."""

from __future__ import annotations

import os
import shutil
from pathlib import Path

import pandas as pd

from .store import TABLES, Store


class MissingPyarrow(Exception):
    pass


# The year of a station-day (days since 1970), in SQL.
_YEAR = "CAST(strftime('%Y', {day} * 86400, 'unixepoch') AS INTEGER) AS year"


def _with_partitions(store: Store, table: str) -> pd.DataFrame:
    """A table with the columns it is partitioned by: station (every table has it or takes its
    recording's) and year (of the station-day or the recording's day; not for stations)."""
    if table == "stations":
        return store.table(table)
    if table in ("recordings", "station_days"):
        return store.frame(f"SELECT *, {_YEAR.format(day='day')} FROM {table}")
    return store.frame(f"SELECT c.*, r.station, {_YEAR.format(day='r.day')} FROM {table} c "
                       "JOIN recordings r ON r.id = c.recording_id")


def export_parquet(store: Store, directory: str | os.PathLike[str]) -> dict[str, int]:
    """Writes each table under directory/<table>/ as a Parquet dataset partitioned by station and
    year (the stations table by station alone); a table's earlier export is replaced. Returns the
    rows written per table."""
    try:
        import pyarrow  # type: ignore[import-untyped]  # noqa: F401
    except ImportError:
        raise MissingPyarrow("the Parquet export needs pyarrow: pip install 'vardoln-cn0[parquet]'") from None
    root = Path(directory)
    root.mkdir(parents=True, exist_ok=True)
    written: dict[str, int] = {}
    for table in TABLES:
        frame = _with_partitions(store, table)
        target = root / table
        if target.exists():
            shutil.rmtree(target)
        partitions = ["station"] if table == "stations" else ["station", "year"]
        if len(frame):
            frame.to_parquet(target, partition_cols=partitions, index=False, basename_template="part-{i}.parquet")
        else:
            target.mkdir()
        written[table] = len(frame)
    return written
