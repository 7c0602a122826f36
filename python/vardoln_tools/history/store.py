"""The station history: an SQLite file with a row per recording or live window, the figures per
constellation and signal beside it, and per station and UTC day the figures rolled up from every
recording of that day.

One transaction per recording, in WAL mode: an interrupted batch keeps every recording it
finished, readers never block the writer, and two processes writing one store wait for each other
(up to `BUSY_SECONDS`) instead of losing rows. A file is opened as a store only when it is one: a
file that is not an SQLite database, a database with other tables, a damaged one or a store of a
newer schema is refused with one line and left as it was.

Station-days. A recording belongs to the UTC day of the middle of its span. The day's figures
pool the recordings of that day: completeness is observed over expected, multipath the RMS over
every sample (sqrt of the sample-weighted mean of the squares), observations per slip the
observations over the slips, mean C/N0 the sample-weighted mean, events their count, and the
grade (A=4 ... F=0), navigation coverage and confirmation the epoch-weighted mean. So a day
file, 24 hourly files, a 23-hour file and 96 windows of 15 minutes give the same day.
"""

from __future__ import annotations

import os
import sqlite3
import stat
from collections.abc import Iterator, Sequence
from contextlib import contextmanager
from pathlib import Path
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    import pandas as pd

    from .entry import Entry

SCHEMA_VERSION = 1
APPLICATION = "vardoln-cn0 station history"
BUSY_SECONDS = 120.0
DAY_NS = 86_400 * 10**9

_SCHEMA = """
CREATE TABLE store_info (key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE stations (
    station TEXT PRIMARY KEY, identifier TEXT, marker_name TEXT, revision INTEGER NOT NULL DEFAULT 0);
CREATE TABLE recordings (
    id INTEGER PRIMARY KEY, station TEXT NOT NULL REFERENCES stations(station), start_ns INTEGER NOT NULL,
    end_ns INTEGER NOT NULL, interval_s REAL NOT NULL, day INTEGER NOT NULL, epochs INTEGER NOT NULL,
    kind TEXT NOT NULL, source TEXT NOT NULL, identifier TEXT, marker_name TEXT, marker_number TEXT,
    receiver_type TEXT, receiver_version TEXT, antenna_type TEXT, antenna_radome TEXT,
    position_x REAL, position_y REAL, position_z REAL, navigation TEXT, tool_version TEXT NOT NULL,
    settings TEXT NOT NULL, settings_key TEXT NOT NULL, grade TEXT, grade_value REAL, criteria_warned INTEGER,
    criteria_failed INTEGER, events INTEGER, jamming INTEGER, interference INTEGER, spoofing INTEGER,
    nav_coverage REAL, confirmation REAL, mean_cn0 REAL, note TEXT, report TEXT, stored_at TEXT NOT NULL,
    UNIQUE (station, start_ns, interval_s));
CREATE INDEX recordings_by_day ON recordings (station, day);
CREATE INDEX recordings_by_source ON recordings (source, settings_key);
CREATE TABLE cn0 (
    recording_id INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE, system TEXT NOT NULL,
    code TEXT NOT NULL, samples INTEGER NOT NULL, mean REAL);
CREATE TABLE completeness (
    recording_id INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE, system TEXT NOT NULL,
    code TEXT NOT NULL, expected INTEGER NOT NULL, observed INTEGER NOT NULL);
CREATE TABLE pairs (
    recording_id INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE, system TEXT NOT NULL,
    first TEXT NOT NULL, second TEXT NOT NULL, samples INTEGER NOT NULL, observations INTEGER NOT NULL,
    mp_first_rms REAL, mp_second_rms REAL, slips INTEGER NOT NULL);
CREATE TABLE events (
    recording_id INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE, type TEXT NOT NULL,
    start TEXT, end TEXT, bands TEXT, satellites INTEGER, drop_db REAL);
CREATE TABLE criteria (
    recording_id INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE, group_name TEXT NOT NULL,
    subject TEXT NOT NULL, figure REAL, status TEXT NOT NULL, reason TEXT);
CREATE TABLE coverage (
    recording_id INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE, system TEXT NOT NULL, percent REAL);
CREATE INDEX cn0_of ON cn0 (recording_id);
CREATE INDEX completeness_of ON completeness (recording_id);
CREATE INDEX pairs_of ON pairs (recording_id);
CREATE INDEX events_of ON events (recording_id);
CREATE INDEX criteria_of ON criteria (recording_id);
CREATE INDEX coverage_of ON coverage (recording_id);
CREATE TABLE station_days (
    station TEXT NOT NULL, day INTEGER NOT NULL, metric TEXT NOT NULL, value REAL, epochs INTEGER NOT NULL,
    PRIMARY KEY (station, day, metric)) WITHOUT ROWID;
CREATE TABLE trend_cache (
    station TEXT NOT NULL, metric TEXT NOT NULL, revision INTEGER NOT NULL, result BLOB NOT NULL,
    PRIMARY KEY (station, metric)) WITHOUT ROWID;
"""

TABLES = ("stations", "recordings", "cn0", "completeness", "pairs", "events", "criteria", "coverage", "station_days")
_CHILD_TABLES = ("cn0", "completeness", "pairs", "events", "criteria", "coverage")

# Upgrades from an older schema version to the next, each run in the transaction that opens the
# store: UPGRADES[n] takes a store of version n to n + 1.
UPGRADES: dict[int, str] = {}

# The station-day figures of one station and day, as (metric, value) rows, from the recordings of
# that day (see the module's text for each rule).
_ROLLUP = """
WITH day_recordings AS (SELECT * FROM recordings WHERE station = :station AND day = :day)
SELECT 'completeness_' || system, 100.0 * SUM(observed) / SUM(expected), NULL
  FROM completeness JOIN day_recordings r ON r.id = recording_id GROUP BY system HAVING SUM(expected) > 0
UNION ALL
SELECT 'mp_' || first || '_' || second || '_' || system,
       SQRT(SUM(samples * mp_first_rms * mp_first_rms) / SUM(samples)), NULL
  FROM pairs JOIN day_recordings r ON r.id = recording_id
  WHERE mp_first_rms IS NOT NULL AND samples > 0 GROUP BY system, first, second
UNION ALL
SELECT 'mp_' || second || '_' || first || '_' || system,
       SQRT(SUM(samples * mp_second_rms * mp_second_rms) / SUM(samples)), NULL
  FROM pairs JOIN day_recordings r ON r.id = recording_id
  WHERE mp_second_rms IS NOT NULL AND samples > 0 GROUP BY system, first, second
UNION ALL
SELECT 'obs_per_slip_' || system, CASE WHEN SUM(slips) > 0 THEN 1.0 * SUM(observations) / SUM(slips) END, NULL
  FROM pairs JOIN day_recordings r ON r.id = recording_id GROUP BY system HAVING SUM(observations) > 0
UNION ALL
SELECT 'cn0_' || system || '_' || code, SUM(samples * mean) / SUM(samples), NULL
  FROM cn0 JOIN day_recordings r ON r.id = recording_id WHERE mean IS NOT NULL GROUP BY system, code
UNION ALL
SELECT 'events', SUM(events), SUM(epochs) FROM day_recordings WHERE events IS NOT NULL HAVING COUNT(*) > 0
UNION ALL
SELECT 'grade', SUM(epochs * grade_value) / SUM(epochs), SUM(epochs) FROM day_recordings
  WHERE grade_value IS NOT NULL HAVING SUM(epochs) > 0
UNION ALL
SELECT 'nav_coverage', SUM(epochs * nav_coverage) / SUM(epochs), SUM(epochs) FROM day_recordings
  WHERE nav_coverage IS NOT NULL HAVING SUM(epochs) > 0
UNION ALL
SELECT 'confirmation', SUM(epochs * confirmation) / SUM(epochs), SUM(epochs) FROM day_recordings
  WHERE confirmation IS NOT NULL HAVING SUM(epochs) > 0
"""


class StoreError(Exception):
    """A file that cannot be used as a station history store; the text is one line naming it."""


def _refusal(path: str, what: str) -> StoreError:
    return StoreError(f"{path}: {what}; the file was left unchanged")


def _check_file(path: str) -> bool:
    """Whether the file exists with content; raises StoreError for a directory. The file is not
    opened here: closing any descriptor of a database file drops the locks that this process's
    SQLite connections hold on it, so only SQLite itself reads it (and says when it is not a
    database)."""
    try:
        found = os.stat(path)
    except FileNotFoundError:
        return False
    except OSError as error:
        raise StoreError(f"{path}: cannot be read: {error.strerror or error}") from None
    if stat.S_ISDIR(found.st_mode):
        raise StoreError(f"{path}: is a directory, not a station history store")
    return found.st_size > 0


def day_of(start_ns: int, end_ns: int) -> int:
    """The UTC day (days since 1970) a span belongs to: that of its middle."""
    return (start_ns + (end_ns - start_ns) // 2) // DAY_NS


class Store:
    """A station history store, opened for reading and writing (see `open_store` and the module's
    text). `create`: make a new store when the file does not exist or is empty."""

    def __init__(self, path: str | os.PathLike[str], *, create: bool = True):
        self.path = os.fspath(path)
        exists = _check_file(self.path)
        if not exists and not create:
            raise StoreError(f"{self.path}: no such station history store")
        if not exists:
            Path(self.path).parent.mkdir(parents=True, exist_ok=True)
        try:
            self._db = sqlite3.connect(self.path, timeout=BUSY_SECONDS, isolation_level=None, check_same_thread=False)
        except sqlite3.Error as error:
            raise StoreError(f"{self.path}: cannot be opened: {error}") from None
        try:
            self._open(exists)
        except BaseException:
            self._db.close()
            raise

    def _open(self, exists: bool) -> None:
        try:
            names = {row[0] for row in self._db.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}
            if exists and names and "store_info" not in names:
                raise _refusal(self.path, "not a station history store (an SQLite database with other tables)")
            version = self._check_version() if "store_info" in names else 0
        except sqlite3.DatabaseError as error:
            if "file is not a database" in str(error):
                raise _refusal(self.path, "not a station history store (not an SQLite database)") from None
            raise _refusal(self.path, f"damaged or not a station history store ({error})") from None
        # Valid so far: only now may the file change (WAL, the schema, an upgrade).
        try:
            if version < SCHEMA_VERSION:
                with self.transaction():
                    self._create_or_upgrade()
            self._db.execute("PRAGMA journal_mode = WAL")
            self._db.execute("PRAGMA synchronous = NORMAL")
            self._db.execute("PRAGMA foreign_keys = ON")
        except sqlite3.DatabaseError as error:
            raise _refusal(self.path, f"damaged ({error})") from None

    def _check_version(self) -> int:
        row = self._db.execute("SELECT value FROM store_info WHERE key = 'schema_version'").fetchone()
        application = self._db.execute("SELECT value FROM store_info WHERE key = 'application'").fetchone()
        if row is None or application is None or application[0] != APPLICATION:
            raise _refusal(self.path, "not a station history store (no schema version)")
        version = int(row[0])
        if version > SCHEMA_VERSION:
            raise _refusal(self.path, f"written by a newer vardoln-cn0 (store schema {version}; this one reads "
                                      f"schemas up to {SCHEMA_VERSION}): upgrade vardoln-cn0")
        return version

    def _create_or_upgrade(self) -> None:
        # Inside the write lock: another process may have made or upgraded the store meanwhile.
        names = {row[0] for row in self._db.execute("SELECT name FROM sqlite_master WHERE type = 'table'")}
        if "store_info" not in names:
            self._run_script(_SCHEMA)
            self._db.executemany("INSERT INTO store_info VALUES (?, ?)", [
                ("application", APPLICATION), ("schema_version", str(SCHEMA_VERSION))])
            return
        version = self._check_version()
        while version < SCHEMA_VERSION:
            self._run_script(UPGRADES[version])
            version += 1
            self._db.execute("UPDATE store_info SET value = ? WHERE key = 'schema_version'", (str(version),))

    def _run_script(self, script: str) -> None:
        # One statement at a time: executescript would commit the transaction it runs in.
        for statement in script.split(";"):
            if statement.strip():
                self._db.execute(statement)

    @contextmanager
    def transaction(self) -> Iterator[sqlite3.Connection]:
        """One write transaction, taken at once (BEGIN IMMEDIATE) so that two writers queue up
        instead of failing halfway."""
        self._db.execute("BEGIN IMMEDIATE")
        try:
            yield self._db
        except BaseException:
            self._db.execute("ROLLBACK")
            raise
        self._db.execute("COMMIT")

    def close(self) -> None:
        self._db.close()

    def __enter__(self) -> Store:
        return self

    def __exit__(self, *_: object) -> None:
        self.close()

    @property
    def schema_version(self) -> int:
        return self._check_version()

    # -------------------------------------------------------------------------------------------
    # Writing

    def write(self, entry: Entry, stored_at: str) -> None:
        """Stores one recording in one transaction, replacing the rows of the same station, start
        and interval, and rolls up the station-days it touches."""
        record = dict(entry.recording)
        record["day"] = day_of(record["start_ns"], record["end_ns"])
        record["stored_at"] = stored_at
        for name in ("jamming", "interference", "spoofing"):
            if record.get(name) is not None:
                record[name] = int(bool(record[name]))
        with self.transaction() as db:
            old = db.execute("SELECT id, day FROM recordings WHERE station = ? AND start_ns = ? AND interval_s = ?",
                             (record["station"], record["start_ns"], record["interval_s"])).fetchone()
            days = {record["day"]}
            if old is not None:
                db.execute("DELETE FROM recordings WHERE id = ?", (old[0],))
                days.add(old[1])
            db.execute("INSERT INTO stations (station, identifier, marker_name) VALUES (?, ?, ?) "
                       "ON CONFLICT (station) DO UPDATE SET identifier = COALESCE(excluded.identifier, identifier), "
                       "marker_name = excluded.marker_name, revision = revision + 1",
                       (record["station"], record.get("identifier"), record.get("marker_name")))
            names = list(record)
            cursor = db.execute(f"INSERT INTO recordings ({', '.join(names)}) VALUES "
                                f"({', '.join('?' * len(names))})", [record[name] for name in names])
            recording_id = cursor.lastrowid
            for table in _CHILD_TABLES:
                rows: list[dict[str, Any]] = getattr(entry, table)
                if rows:
                    columns = list(rows[0])
                    db.executemany(f"INSERT INTO {table} (recording_id, {', '.join(columns)}) VALUES "
                                   f"(?, {', '.join('?' * len(columns))})",
                                   [(recording_id, *(row[name] for name in columns)) for row in rows])
            for day in sorted(days):
                self._roll_up(record["station"], day)

    def _roll_up(self, station: str, day: int) -> None:
        db = self._db
        db.execute("DELETE FROM station_days WHERE station = ? AND day = ?", (station, day))
        epochs = db.execute("SELECT SUM(epochs) FROM recordings WHERE station = ? AND day = ?",
                            (station, day)).fetchone()[0]
        if epochs is None:
            return
        rows = db.execute(_ROLLUP, {"station": station, "day": day}).fetchall()
        db.executemany("INSERT INTO station_days VALUES (?, ?, ?, ?, ?)",
                       [(station, day, metric, value, epochs if weight is None else weight)
                        for metric, value, weight in rows])

    def stored_sources(self, settings_key: str) -> set[str]:
        """The sources (paths) stored with these settings: what `batch --resume` skips."""
        return {row[0] for row in self._db.execute("SELECT source FROM recordings WHERE settings_key = ?",
                                                   (settings_key,))}

    # -------------------------------------------------------------------------------------------
    # Reading

    def query(self, sql: str, parameters: Sequence[Any] | dict[str, Any] = ()) -> list[tuple[Any, ...]]:
        return self._db.execute(sql, parameters).fetchall()

    def frame(self, sql: str, parameters: Sequence[Any] = ()) -> pd.DataFrame:
        """The rows of a query as a DataFrame, the columns named as the query names them."""
        import pandas as pd

        cursor = self._db.execute(sql, parameters)
        return pd.DataFrame.from_records(cursor.fetchall(), columns=[column[0] for column in cursor.description])

    def table(self, name: str, where: str = "", parameters: Sequence[Any] = ()) -> pd.DataFrame:
        """One table as a DataFrame (see TABLES); `where` filters it ("station = ?")."""
        if name not in TABLES:
            raise ValueError(f"no table {name!r} in a station history store: one of {', '.join(TABLES)}")
        return self.frame(f"SELECT * FROM {name}" + (f" WHERE {where}" if where else ""), parameters)

    def stations(self) -> list[str]:
        return [row[0] for row in self._db.execute("SELECT station FROM stations ORDER BY station")]

    def __getattr__(self, name: str) -> pd.DataFrame:
        # store.recordings, store.station_days, ...: the tables as DataFrames
        if name in TABLES:
            return self.table(name)
        raise AttributeError(name)


def open_store(path: str | os.PathLike[str]) -> Store:
    """A station history store that exists, for reading: its tables as pandas DataFrames
    (`store.recordings`, `store.station_days`, ... ; see TABLES). Raises StoreError for a file
    that is not one, or of a newer schema."""
    return Store(path, create=False)


