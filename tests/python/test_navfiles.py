"""Navigation files merged for one analysis: per-constellation files as stations publish them
(gzip-compressed or plain), RINEX 3 with RINEX 3 and RINEX 4 with RINEX 4, never a mix."""

import gzip
import json

import vardoln_cn0 as v
from vardoln_tools import _native, commands
from vardoln_tools.tables import navigation

NYA1_OBS = "crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx"
NYA1_NAV = [f"nav/NYA100NOR_S_20241240000_01D_{system}.rnx" for system in ("GN", "EN", "CN")]
KMS3_NAV = "nav/KMS300DNK_R_20221591000_01H_MN.rnx"


def plain_text(path):
    """The text of a real file, whether the bundle stores it plain or gzip-compressed."""
    data = path.read_bytes()
    return gzip.decompress(data) if data.startswith(b"\x1f\x8b") else data


def test_gzipped_per_system_files_merge_like_their_plain_text(shared_file, tmp_path, capsys):
    """NYA1's _GN, _EN and _CN files, gzip-compressed and plain, give one analysis through the
    command; the merged file holds every constellation's ephemerides."""
    plain, wrapped = [], []
    for name in NYA1_NAV:
        text = plain_text(shared_file(name))
        plain.append(tmp_path / name.split("/")[1])
        plain[-1].write_bytes(text)
        wrapped.append(tmp_path / (plain[-1].name + ".gz"))
        wrapped[-1].write_bytes(gzip.compress(text))
        assert _native.navigation_text(str(wrapped[-1])) == text
    obs = str(shared_file(NYA1_OBS))
    exports = []
    for navs in (plain, wrapped):
        export = tmp_path / f"export{len(exports)}.json"
        argv = ["analyze", obs, *(arg for nav in navs for arg in ("--nav", str(nav))), "--json", str(export)]
        assert commands.main(argv) == 0, capsys.readouterr().err
        exports.append(export.read_text(encoding="utf-8"))
    assert exports[0] == exports[1]
    assert json.loads(exports[0])["visibility"]["mean_predicted"] > 0

    merged = v.read_navigation_bytes(navigation.merged_text([str(path) for path in wrapped]).encode("latin-1"))
    alone = [v.read_navigation(str(path)) for path in plain]
    assert (merged.gps_count, merged.galileo_count, merged.beidou_count) == (
        alone[0].gps_count, alone[1].galileo_count, alone[2].beidou_count)
    assert merged.gps_count > 0 and merged.galileo_count > 0 and merged.beidou_count > 0


def test_rinex4_files_merge_with_their_marker_lines(shared_file, tmp_path):
    """A real RINEX 4 file split into one gzip file per constellation merges back into records
    that read as the whole file does: every record keeps its `>` marker line."""
    path = str(shared_file(KMS3_NAV))
    header, body = navigation.split(path, _native.navigation_text(path).decode("latin-1"))
    records: dict[str, list[str]] = {}
    for line in body:
        if line.startswith(">"):
            system = line.split()[2][0] if line.startswith("> EPH") else "other"
        records.setdefault(system, []).append(line)
    assert len(records) >= 5
    parts = []
    for system, lines in records.items():
        parts.append(tmp_path / f"KMS3_{system}.rnx.gz")
        parts[-1].write_bytes(gzip.compress("\n".join([*header, *lines, ""]).encode("latin-1")))
    merged = navigation.merged_text([str(path) for path in parts])
    assert merged.startswith("     4.00")
    assert sum(line.startswith(">") for line in merged.splitlines()) == sum(line.startswith(">") for line in body)
    assert repr(v.read_navigation_bytes(merged.encode("latin-1"))) == repr(v.read_navigation(str(shared_file(KMS3_NAV))))


def test_rinex3_and_rinex4_files_are_not_merged(shared_file, capsys):
    """A mix of versions is refused by name before anything is read with the wrong layout."""
    version3, version4 = str(shared_file(NYA1_NAV[1])), str(shared_file(KMS3_NAV))
    assert navigation.mergeable_version(version3) == 3 and navigation.mergeable_version(version4) == 4
    obs = str(shared_file(NYA1_OBS))
    assert commands.main(["analyze", obs, "--nav", version3, "--nav", version4]) == 1
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and version3 in err and version4 in err
    assert "RINEX 3.03 navigation file" in err and "RINEX 4.00 navigation file" in err
    assert "are not merged, give files of one version" in err
