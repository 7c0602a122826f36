"""Navigation files merged for one analysis by the core, each record read by its own file's layout:
per-constellation files as stations publish them (gzip-compressed or plain), RINEX 2 files of two
constellations, RINEX 3 with RINEX 4."""

import gzip
import json

import vardoln_cn0 as v
from vardoln_tools import _native, batch, commands, navigation_coverage
from vardoln_tools.tables import recording

NYA1_OBS = "crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx"
NYA1_NAV = [f"nav/NYA100NOR_S_20241240000_01D_{system}.rnx" for system in ("GN", "EN", "CN")]
KMS3_NAV = "nav/KMS300DNK_R_20221591000_01H_MN.rnx"
PDEL_OBS = "obs3/pdel0010.21o"
PDEL_NAV = {"GPS": "nav/cbw10010.21n", "GLONASS": "nav/dlf10010.21g"}


def plain_text(path):
    """The text of a real file, whether the bundle stores it plain or gzip-compressed."""
    data = path.read_bytes()
    return gzip.decompress(data) if data.startswith(b"\x1f\x8b") else data


def test_gzipped_per_system_files_merge_like_their_plain_text(shared_file, tmp_path, capsys):
    """NYA1's _GN, _EN and _CN files, gzip-compressed and plain, give one analysis through the
    command; the merged data hold every constellation's ephemerides."""
    plain, wrapped = [], []
    for name in NYA1_NAV:
        text = plain_text(shared_file(name))
        plain.append(tmp_path / name.split("/")[1])
        plain[-1].write_bytes(text)
        wrapped.append(tmp_path / (plain[-1].name + ".gz"))
        wrapped[-1].write_bytes(gzip.compress(text))
    obs = str(shared_file(NYA1_OBS))
    exports = []
    for navs in (plain, wrapped):
        export = tmp_path / f"export{len(exports)}.json"
        argv = ["analyze", obs, *(arg for nav in navs for arg in ("--nav", str(nav))), "--json", str(export)]
        assert commands.main(argv) == 0, capsys.readouterr().err
        exports.append(export.read_text(encoding="utf-8"))
    assert exports[0] == exports[1]
    assert json.loads(exports[0])["visibility"]["mean_predicted"] > 0

    merged = recording.load(obs, [str(path) for path in wrapped]).native.nav
    alone = [v.read_navigation(str(path)) for path in plain]
    assert (merged.gps_count, merged.galileo_count, merged.beidou_count) == (
        alone[0].gps_count, alone[1].galileo_count, alone[2].beidou_count)
    assert merged.gps_count > 0 and merged.galileo_count > 0 and merged.beidou_count > 0


def test_rinex4_files_merge_with_their_marker_lines(shared_file, tmp_path):
    """A real RINEX 4 file split into one gzip file per constellation merges back into the data
    the whole file gives: every record keeps its `>` marker line."""
    path = str(shared_file(KMS3_NAV))
    lines = _native.navigation_text(path).decode("latin-1").splitlines()
    end = next(index for index, line in enumerate(lines) if line[60:].strip().startswith("END OF HEADER"))
    header, records = lines[:end + 1], {}
    for line in lines[end + 1:]:
        if line.startswith(">"):
            system = line.split()[2][0] if line.startswith("> EPH") else "other"
        records.setdefault(system, []).append(line)
    assert len(records) >= 5
    parts = []
    for system, body in records.items():
        parts.append(tmp_path / f"KMS3_{system}.rnx.gz")
        parts[-1].write_bytes(gzip.compress("\n".join([*header, *body, ""]).encode("latin-1")))
    merged = _native.load(str(shared_file(NYA1_OBS)), [str(part) for part in parts]).nav
    assert repr(merged) == repr(v.read_navigation(path))


def test_files_of_every_version_and_constellation_merge(shared_file, tmp_path, capsys):
    """RINEX 3 with RINEX 4, and RINEX 2 GPS with RINEX 2 GLONASS files of other stations: each
    file is read by its own layout, and a batch --nav-dir takes the better GLONASS file of two with
    the GPS file."""
    version3, version4 = str(shared_file(NYA1_NAV[1])), str(shared_file(KMS3_NAV))
    merged = recording.load(str(shared_file(NYA1_OBS)), [version3, version4]).native.nav
    alone = v.read_navigation(version3), v.read_navigation(version4)
    for count in ("gps_count", "glonass_count", "galileo_count", "beidou_count"):
        assert getattr(merged, count) >= max(getattr(alone[0], count), getattr(alone[1], count))
    assert merged.galileo_count > 0 and merged.gps_count == alone[1].gps_count > 0

    obs = str(shared_file(PDEL_OBS))
    both = navigation_coverage(recording.load(obs, [str(shared_file(path)) for path in PDEL_NAV.values()]))
    for system, path in PDEL_NAV.items():
        own = navigation_coverage(obs, str(shared_file(path)))
        assert both[both.system == system].percent.item() == own[own.system == system].percent.item() > 0

    (tmp_path / "obs").mkdir()
    (tmp_path / "nav").mkdir()
    (tmp_path / "obs" / "pdel0010.21o").write_bytes(shared_file(PDEL_OBS).read_bytes())
    for path in [*PDEL_NAV.values(), "nav/amel0010.21g"]:  # AMEL's GLONASS file positions none of PDEL's
        (tmp_path / "nav" / path.split("/")[1]).write_bytes(shared_file(path).read_bytes())
    rows = tmp_path / "rows.jsonl"
    argv = ["batch", str(tmp_path / "obs"), "--nav-dir", str(tmp_path / "nav"), "--threads", "--no-progress",
            "--jsonl", str(rows)]
    assert commands.main(argv) == 0, capsys.readouterr().err
    row = json.loads(rows.read_text(encoding="utf-8").splitlines()[0])
    assert sorted(row["nav"].split(" + ")) == sorted(str(tmp_path / "nav" / p.split("/")[1]) for p in PDEL_NAV.values())
    assert row[batch.COVERAGE_PREFIX + "GPS"] > 0 and row[batch.COVERAGE_PREFIX + "GLONASS"] > 0
