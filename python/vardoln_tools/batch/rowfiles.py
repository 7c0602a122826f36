"""The output files of a batch, written so that nothing finished is lost.

Every row goes to its files as soon as it is finished, one whole line at a time, and is flushed
before the next one. A JSON-lines file (and a CSV file, whose fixed column set is known before the
first row) therefore holds every finished row whatever ends the process; at worst the last line
is cut short by a machine that lost power, and a resume drops that line. Beside each file a small
settings file records how its rows were made, so that a resume can refuse to mix rows made with
other settings. A Parquet file, readable only once closed, is made at the end from the rows of
the JSON-lines file. The rows of a finished batch in memory are written the same way (write_csv,
write_jsonl).
"""

from __future__ import annotations

import csv
import io
import json
import math
import os
from collections.abc import Iterable, Mapping, Sequence
from pathlib import Path
from typing import Any

from .rows import Row, columns as row_columns

SETTINGS_SUFFIX = ".settings.json"
# Columns holding text; the others are read back from a CSV file as numbers or truth values.
TEXT_COLUMNS = frozenset({"path", "nav", "station", "start", "end", "missing_satellites", "grade", "module_grade",
                          "status", "reason", "warning", "error"})
# Columns of outputs written before the health grade: such an output is not continued.
RETIRED_COLUMNS = ("score", "interpretation", "grade_without_nav", "notebook_score", "notebook_rating")


def retired_columns_refusal(path: Path, columns: Sequence[str]) -> str | None:
    """Why an output written with the columns of an earlier version cannot be continued, or None."""
    retired = [name for name in RETIRED_COLUMNS if name in columns]
    if not retired:
        return None
    return (f"cannot resume {path}: it was written with the columns of an earlier version ({', '.join(retired)}), "
            "when the grade was the analysis's stored score; the grade is now the health grade (columns grade, "
            "criteria_warned, criteria_failed, module_grade, module_score): run without --resume to start over")


class ResumeRefused(Exception):
    """An existing output cannot be continued: other settings, other columns, or a damaged file."""


def settings_path(path: str | os.PathLike[str]) -> Path:
    """The settings file beside an output file."""
    return Path(os.fspath(path) + SETTINGS_SUFFIX)


def json_value(value: object) -> object:
    # strict JSON has no NaN or infinity
    return None if isinstance(value, float) and not math.isfinite(value) else value


def json_line(row: Mapping[str, Any], columns: Sequence[str]) -> str:
    """One row as a JSON object with the columns in order, then any other keys of the row."""
    ordered = {name: json_value(row.get(name)) for name in columns}
    ordered.update((key, json_value(value)) for key, value in row.items() if key not in ordered)
    return json.dumps(ordered, ensure_ascii=False) + "\n"


def _csv_value(column: str, text: str) -> object:
    if text == "":
        return None
    if column in TEXT_COLUMNS:
        return text
    if text in ("True", "False"):
        return text == "True"
    for kind in (int, float):
        try:
            return kind(text)
        except ValueError:
            pass
    return text


def _write_atomically(path: Path, text: str) -> None:
    temporary = path.with_name(path.name + ".tmp")
    with open(temporary, "w", encoding="utf-8", newline="") as out:
        out.write(text)
        out.flush()
        os.fsync(out.fileno())
    os.replace(temporary, path)


# ---------------------------------------------------------------------------------------------------
# Reading what an earlier run left

def _complete_lines(path: Path) -> tuple[list[str], int]:
    """The file's complete lines and the length of the text they span: a last line without its
    newline was cut short while being written and is not taken."""
    data = path.read_bytes()
    end = data.rfind(b"\n") + 1
    return data[:end].decode("utf-8", errors="replace").split("\n")[:-1], end


def read_jsonl_rows(path: Path) -> list[Row]:
    """The rows of a JSON-lines output; a last line cut short is dropped from the file."""
    lines, length = _complete_lines(path)
    rows: list[Row] = []
    for number, line in enumerate(lines, start=1):
        if not line.strip():
            continue
        try:
            row = json.loads(line)
        except ValueError:
            raise ResumeRefused(f"{path}: line {number} is not a JSON row; the file is damaged") from None
        if not isinstance(row, dict) or "path" not in row:
            raise ResumeRefused(f"{path}: line {number} is not a row of a batch")
        rows.append(row)
    _truncate(path, length)
    return rows


def read_csv_rows(path: Path, columns: Sequence[str]) -> list[Row]:
    """The rows of a CSV output written with `columns`; a last record cut short is dropped from the file.

    The file was written by csv.writer, which writes a record one way only: a record is whole when
    writing it again gives the text that stands there, to its line end. A record cut inside a quoted
    cell reads as a record all the same (with fewer or shorter cells), and fails that test.
    """
    text = path.read_bytes().decode("utf-8", errors="replace")
    records: list[list[str]] = []
    try:
        records.extend(csv.reader(io.StringIO(text, newline="")))
    except csv.Error:
        pass  # what follows the last record read is taken as cut short
    offset = 0
    whole = 0
    for record in records:
        written = _csv_text(record, [], header=True)
        if not text.startswith(written, offset):
            break
        offset += len(written)
        whole += 1
    if whole < len(records) - 1:
        raise ResumeRefused(f"{path}: record {whole + 1} is not as a batch writes it; the file is damaged")
    if whole == 0:  # not even the header was written whole
        _write_atomically(path, _csv_text(columns, [], header=True))
        return []
    refusal = retired_columns_refusal(path, records[0])
    if refusal is not None:
        raise ResumeRefused(refusal)
    if records[0] != list(columns):
        raise ResumeRefused(f"{path}: its columns differ from this batch's; the file was written with other "
                            "column groups")
    _truncate(path, len(text[:offset].encode("utf-8")))
    return [{name: _csv_value(name, cell) for name, cell in zip(columns, record)} for record in records[1:whole]]


def _truncate(path: Path, length: int) -> None:
    if path.stat().st_size != length:
        with open(path, "r+b") as out:
            out.truncate(length)


def _csv_text(columns: Sequence[str], rows: Iterable[Mapping[str, Any]], header: bool) -> str:
    buffer = io.StringIO()
    writer = csv.writer(buffer)
    if header:
        writer.writerow(columns)
    for row in rows:
        writer.writerow([row.get(name) for name in columns])
    return buffer.getvalue()


def _flat(settings: Mapping[str, Any], prefix: str = "") -> dict[str, Any]:
    """Nested settings as one level of dotted keys, so that a refusal names the setting that differs."""
    flat: dict[str, Any] = {}
    for key, value in settings.items():
        if isinstance(value, Mapping):
            flat.update(_flat(value, f"{prefix}{key}."))
        else:
            flat[prefix + key] = value
    return flat


# ---------------------------------------------------------------------------------------------------
# Writing

class BatchFiles:
    """The JSON-lines and CSV outputs of one batch (either may be None) and their settings files.

    `settings` is a JSON-ready description of everything that shapes a row (analysis settings,
    navigation directory, memory budget, column groups). With `resume`, existing outputs are kept:
    their rows are in `rows` (those of the JSON-lines file when both exist, the CSV file then
    rewritten to match), and settings that differ from those recorded are refused with
    ResumeRefused. Without it the outputs start empty.
    """

    def __init__(self, jsonl: str | os.PathLike[str] | None, csv_path: str | os.PathLike[str] | None,
                 columns: Sequence[str], settings: Mapping[str, Any], resume: bool):
        self.columns = list(columns)
        self.rows: list[Row] = []
        self._jsonl_path = None if jsonl is None else Path(jsonl)
        self._csv_path = None if csv_path is None else Path(csv_path)
        self._settings = dict(settings)
        paths = [path for path in (self._jsonl_path, self._csv_path) if path is not None]
        existing = [path for path in paths if resume and path.exists() and path.stat().st_size > 0]
        for path in existing:
            self._check_settings(path)
        if self._jsonl_path in existing:
            assert self._jsonl_path is not None
            self.rows = read_jsonl_rows(self._jsonl_path)
            if self._csv_path is not None:
                _write_atomically(self._csv_path, _csv_text(self.columns, self.rows, header=True))
        elif self._csv_path in existing:
            assert self._csv_path is not None
            self.rows = read_csv_rows(self._csv_path, self.columns)
            if self._jsonl_path is not None:
                _write_atomically(self._jsonl_path, "".join(json_line(row, self.columns) for row in self.rows))
        self._jsonl = None if self._jsonl_path is None else open(
            self._jsonl_path, "a" if existing else "w", encoding="utf-8")
        self._csv_file = None if self._csv_path is None else open(
            self._csv_path, "a" if existing else "w", encoding="utf-8", newline="")
        self._csv = None if self._csv_file is None else csv.writer(self._csv_file)
        if self._csv is not None and self._csv_file is not None and not existing:
            self._csv.writerow(self.columns)
            self._csv_file.flush()
        for path in paths:
            _write_atomically(settings_path(path), json.dumps(self._settings, indent=1, sort_keys=True) + "\n")

    def _check_settings(self, path: Path) -> None:
        recorded_path = settings_path(path)
        try:
            recorded = json.loads(recorded_path.read_text(encoding="utf-8"))
        except (OSError, ValueError):
            raise ResumeRefused(f"cannot resume {path}: its settings file {recorded_path} is missing or damaged; "
                                "run without --resume to start over") from None
        refusal = retired_columns_refusal(path, recorded.get("columns", []) if isinstance(recorded, dict) else [])
        if refusal is not None:
            raise ResumeRefused(refusal)
        there, now = _flat(recorded), _flat(self._settings)
        differing = [key for key in sorted(set(there) | set(now)) if there.get(key) != now.get(key)]
        if differing:
            # The column list follows from the other settings: named alone only when nothing else differs.
            differing = [key for key in differing if not key.startswith("columns")] or differing
            shown = "; ".join(f"{key}: {there.get(key)!r} there, {now.get(key)!r} now" for key in differing)
            raise ResumeRefused(f"cannot resume {path}: it was written with other settings ({shown}); "
                                "give the same settings, or run without --resume to start over")

    def write(self, row: Mapping[str, Any]) -> None:
        """Writes one finished row to every output and flushes it."""
        if self._jsonl is not None:
            self._jsonl.write(json_line(row, self.columns))
            self._jsonl.flush()
        if self._csv is not None and self._csv_file is not None:
            self._csv.writerow([row.get(name) for name in self.columns])
            self._csv_file.flush()

    def rewrite(self, rows: Sequence[Mapping[str, Any]]) -> None:
        """Replaces the contents of the closed outputs by `rows` (the same rows in another order),
        each file only once its new text is complete on the disk."""
        if self._jsonl_path is not None:
            _write_atomically(self._jsonl_path, "".join(json_line(row, self.columns) for row in rows))
        if self._csv_path is not None:
            _write_atomically(self._csv_path, _csv_text(self.columns, rows, header=True))

    def close(self) -> None:
        """Flushes the outputs to the disk and closes them."""
        for out in (self._jsonl, self._csv_file):
            if out is not None and not out.closed:
                out.flush()
                os.fsync(out.fileno())
                out.close()


def write_parquet(rows: Sequence[Mapping[str, Any]], columns: Sequence[str], path: str | os.PathLike[str]) -> None:
    """Writes the rows as a Parquet file (needs pyarrow), replacing any earlier one only once complete."""
    try:
        import pyarrow  # type: ignore[import-untyped]
        import pyarrow.parquet  # type: ignore[import-untyped]
    except ImportError:
        raise ImportError("Parquet output needs pyarrow (pip install pyarrow)") from None
    names = list(columns) + [key for row in rows for key in row if key not in columns]
    names = list(dict.fromkeys(names))
    table = pyarrow.table({name: [json_value(row.get(name)) for row in rows] for name in names})
    target = Path(path)
    temporary = target.with_name(target.name + ".tmp")
    pyarrow.parquet.write_table(table, temporary)
    os.replace(temporary, target)


# ---------------------------------------------------------------------------------------------------
# Rows in memory

def write_csv(rows: Sequence[Mapping[str, Any]], path: str | os.PathLike[str]) -> None:
    """Writes the rows as CSV with a header line (the columns of rows.columns); absent and None
    values are empty cells."""
    with open(path, "w", encoding="utf-8", newline="") as out:
        out.write(_csv_text(row_columns(rows), rows, header=True))


def write_jsonl(rows: Sequence[Mapping[str, Any]], path: str | os.PathLike[str]) -> None:
    """Writes one JSON object per line, every object with all columns in the same order."""
    names = row_columns(rows)
    with open(path, "w", encoding="utf-8") as out:
        for row in rows:
            out.write(json_line(row, names))


def read_jsonl(path: str | os.PathLike[str]) -> list[Row]:
    """Reads rows written by write_jsonl (or by a batch's JSON-lines output)."""
    with open(path, encoding="utf-8") as source:
        return [json.loads(line) for line in source if line.strip()]
