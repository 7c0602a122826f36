"""The store's tables as Parquet datasets partitioned by station and year, for tools that read a
network's history at scale (Dask, DuckDB, Spark)."""

from __future__ import annotations

import os
import shutil
from pathlib import Path

import pandas as pd

from .store import DAY_NS, TABLES, Store


class MissingPyarrow(Exception):
    pass


def _with_partitions(store: Store, table: str) -> pd.DataFrame:
    if table in ("recordings", "station_days"):
        frame = store.table(table)
        days = frame["day"] if len(frame) else pd.Series([], dtype="int64")
    elif table == "stations":
        frame = store.table(table)
        frame["year"] = pd.Series([], dtype="int64") if not len(frame) else 0
        return frame
    else:
        # Child tables take the station and day of their recording.
        cursor_frame = store.query(f"SELECT c.*, r.station, r.day FROM {table} c JOIN recordings r "
                                   f"ON r.id = c.recording_id")
        columns = [*store.table(table, "0").columns, "station", "day"]
        frame = pd.DataFrame.from_records(cursor_frame, columns=columns)
        days = frame["day"]
        frame = frame.drop(columns="day")
    frame["year"] = pd.to_datetime(days.astype("int64") * DAY_NS).dt.year if len(frame) else pd.Series([], dtype="int64")
    return frame


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
        if table == "stations":
            frame = frame.drop(columns="year")
        if len(frame):
            frame.to_parquet(target, partition_cols=partitions, index=False, basename_template="part-{i}.parquet")
        else:
            target.mkdir()
        written[table] = len(frame)
    return written
