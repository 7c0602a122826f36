"""The station quality control columns of `batch --qc`: multipath, phase slips and completeness per
constellation, from the QC pass of each analysed recording."""

from __future__ import annotations

import functools

from ..tables import recording, roles
from . import rowfiles
from .rows import CONSTELLATION_ORDER, ColumnGroup, Row

# The signal pairs of the QC pass per constellation, as (system, first, second).
QC_PAIRS = (("GPS", "L1", "L2"), ("GPS", "L1", "L5"), ("GLONASS", "G1", "G2"), ("Galileo", "E1", "E5a"),
            ("Galileo", "E1", "E5b"), ("BeiDou", "B1I", "B3I"), ("BeiDou", "B1I", "B2I"), ("QZSS", "L1", "L2"))


def qc_column_names() -> tuple[str, ...]:
    """The QC columns of a batch, fixed before its first row: per pair `mp_<signal>_<partner>_<system>`
    (multipath RMS in metres of one signal against the other: mp_L1_L2_GPS and mp_L2_L1_GPS for
    L1/L2), per constellation of a pair `phase_slips_<system>` and `obs_per_slip_<system>`, per
    constellation `completeness_<system>`, then `qc_error`."""
    names: list[str] = []
    for system, first, second in QC_PAIRS:
        names += [f"mp_{first}_{second}_{system}", f"mp_{second}_{first}_{system}"]
    for system in dict.fromkeys(system for system, _, _ in QC_PAIRS):
        names += [f"phase_slips_{system}", f"obs_per_slip_{system}"]
    names += [f"completeness_{system}" for system in CONSTELLATION_ORDER]
    return (*names, "qc_error")


def qc_values(loaded: recording.Loaded, min_elevation: float) -> Row:
    """The QC columns of one analysed recording (see qc_column_names): completeness is None without
    navigation data, obs_per_slip None without slips; a recording the QC pass cannot read gets
    only `qc_error`."""
    from ..judge.quality_control import build_report  # pandas, only in a batch that asks for QC

    try:
        report = build_report(loaded, None, min_elevation, judge=False)
    except (OSError, ValueError, roles.WrongRole, recording.RecordingError) as error:
        return {"qc_error": str(error)}
    values: Row = {}
    for system in report.constellations():
        pairs = report.pairs[report.pairs.system == system]
        for first, second, mp_first, mp_second in zip(pairs["first"], pairs["second"], pairs.mp_first_rms,
                                                      pairs.mp_second_rms):
            values[f"mp_{first}_{second}_{system}"] = rowfiles.json_value(float(mp_first))
            values[f"mp_{second}_{first}_{system}"] = rowfiles.json_value(float(mp_second))
        if len(pairs):
            slips = int(pairs.slips.sum())
            values[f"phase_slips_{system}"] = slips
            values[f"obs_per_slip_{system}"] = int(pairs.observations.sum()) / slips if slips else None
        values[f"completeness_{system}"] = report.completeness_percent(system)
    return values


def qc_group(min_elevation: float) -> ColumnGroup:
    """The column group of `batch --qc`: the QC figures of every analysed recording, with the
    batch's navigation data and elevation mask."""
    return ColumnGroup("qc", qc_column_names(), functools.partial(qc_values, min_elevation=min_elevation))
