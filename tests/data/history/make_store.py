"""Writes store-v1.sqlite: a station history of schema version 1 as the first release wrote it (a
real day of NYA1 from the bundled recording, and 60 synthetic days of station V1ST). Committed,
it is the fixture that every later schema's upgrade is tested on: do not write it again once a
newer schema exists."""

import sqlite3
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
REAL = HERE.parent / "real"
sys.path.insert(0, str(HERE.parents[1] / "python"))

from history_data import synthetic_entry  # noqa: E402
from vardoln_tools.history.entry import entry_for  # noqa: E402
from vardoln_tools.history.store import Store  # noqa: E402
from vardoln_tools.judge import assessment  # noqa: E402
from vardoln_tools.tables import recording  # noqa: E402

target = HERE / "store-v1.sqlite"
target.unlink(missing_ok=True)
with Store(target) as store:
    loaded = recording.load(str(REAL / "crinex" / "NYA100NOR_S_20241240000_01D_30S_MO.crx.gz"),
                            [str(REAL / "nav" / "NYA100NOR_S_20241240000_01D_GN.rnx")])
    judged = assessment.assess(loaded)
    entry = entry_for(loaded, judged, judged.settings)
    assert entry is not None
    store.write(entry, "2026-12-09T00:00:00Z")
    for day in range(60):
        store.write(synthetic_entry("V1ST", 19000 + day, 0.30 + 0.001 * (day % 7)), "2026-12-09T00:00:00Z")
# A single file, as committed: no write-ahead log beside it.
with sqlite3.connect(target) as db:
    db.execute("PRAGMA journal_mode = DELETE")
    db.execute("VACUUM")
print(target, target.stat().st_size, "bytes")
