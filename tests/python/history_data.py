"""Synthetic store rows: one recording per station and day with chosen figures, for histories
whose trends are known by construction."""

import json

from vardoln_tools.history.entry import Entry, settings_key

DAY_NS = 86_400 * 10**9
EPOCHS = 2880
SETTINGS = {"min_elevation": 10.0}


def synthetic_entry(station, day, mp1, receiver="TRIMBLE NETR9", completeness=99.0, cn0=45.0, grade="A",
                    events=0, tool_version="1.0"):
    """A day file of `station` on `day` (days since 1970) with GPS L1 multipath `mp1` metres."""
    start = day * DAY_NS
    recording = {
        "station": station, "start_ns": start, "end_ns": start + (EPOCHS - 1) * 30 * 10**9, "interval_s": 30.0,
        "epochs": EPOCHS, "kind": "file", "source": f"{station.lower()}{day:05d}.rnx", "identifier": None,
        "marker_name": station, "marker_number": "", "receiver_type": receiver, "receiver_version": "5.45",
        "antenna_type": "TRM59800.00", "antenna_radome": "NONE", "position_x": None, "position_y": None,
        "position_z": None, "navigation": None, "tool_version": tool_version, "settings": json.dumps(SETTINGS),
        "settings_key": settings_key(SETTINGS), "grade": grade, "grade_value": "FDCBA".index(grade) * 1.0,
        "criteria_warned": 0, "criteria_failed": 0, "events": events, "jamming": False, "interference": False,
        "spoofing": None, "nav_coverage": 100.0, "confirmation": None, "mean_cn0": cn0, "note": None}
    return Entry(
        recording,
        cn0=[{"system": "GPS", "code": "S1C", "samples": 100_000, "mean": cn0}],
        completeness=[{"system": "GPS", "code": "C1C", "expected": 100_000, "observed": round(completeness * 1000)}],
        pairs=[{"system": "GPS", "first": "L1", "second": "L2", "samples": 90_000, "observations": 95_000,
                "mp_first_rms": mp1, "mp_second_rms": mp1 * 1.2, "slips": 10}],
        events=[{"type": "jamming", "start": "", "end": "", "bands": "L1", "satellites": 8, "drop_db": 10.0}] * events)
