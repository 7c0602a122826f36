"""Batch analysis of many recordings into one table, one row each: worker processes (or threads) on
one machine, or a Dask cluster (`runners`).

Each recording is judged as `vardoln-cn0 analyze` judges it (`recording`) into a flat row of plain
values (`rows`), with optional column groups such as the station quality control (`qc_columns`).
The navigation data of each recording are chosen among the files of its day (`navigation`, by the
standard file names of `names`); a recording larger than the memory budget is refused unread
(`memory`). Rows are written as they finish, so that nothing finished is lost (`rowfiles`), in
worker processes that survive a worker's death (`workers`).
"""

from .config import config_from_dict, config_to_dict
from .memory import budget_refusal, default_memory_budget, format_bytes
from .names import expand_paths, is_observation_name
from .navigation import Candidate, Choice, NavigationIndex, choose, match_navigation, missing_navigation_note
from .qc_columns import QC_PAIRS, qc_column_names, qc_group, qc_values
from .recording import analyze_recording, judge_recording
from .rowfiles import read_jsonl, write_csv, write_jsonl
from .rows import (ANALYSED, COVERAGE_PREFIX, CONSTELLATION_ORDER, FAILED, HEAD_COLUMNS, MEAN_PREFIX, NOTHING_TO_JUDGE,
                   PREDICTABLE_CONSTELLATIONS, TAIL_COLUMNS, ColumnGroup, Row, columns, error_row, fixed_columns,
                   is_internal_fault, nothing_row, result_row, with_groups, with_warning)
from .runners import WORKER_MODULES, Work, analyze_iter, analyze_many
from .table import counts_line, format_table, to_dataframe

__all__ = [
    "ANALYSED", "CONSTELLATION_ORDER", "COVERAGE_PREFIX", "FAILED", "HEAD_COLUMNS", "MEAN_PREFIX", "NOTHING_TO_JUDGE",
    "PREDICTABLE_CONSTELLATIONS", "QC_PAIRS", "TAIL_COLUMNS", "WORKER_MODULES", "Candidate", "Choice", "ColumnGroup",
    "NavigationIndex", "Row", "Work", "analyze_iter", "analyze_many", "analyze_recording", "budget_refusal", "choose",
    "columns", "config_from_dict", "config_to_dict", "counts_line", "default_memory_budget", "error_row",
    "expand_paths", "fixed_columns", "format_bytes", "format_table", "is_internal_fault", "is_observation_name",
    "judge_recording", "match_navigation", "missing_navigation_note", "nothing_row", "qc_column_names", "qc_group",
    "qc_values", "read_jsonl", "result_row", "to_dataframe", "with_groups", "with_warning", "write_csv", "write_jsonl",
]
