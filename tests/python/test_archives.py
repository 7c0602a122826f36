"""Compressed recordings (gzip, Unix compress, compact RINEX) read like their plain twins."""

import gzip
from pathlib import Path

import pytest

import vardoln_cn0 as v
from rinex_text import obs_header, rinex_text

ARCHIVE_DATA = Path(__file__).resolve().parents[1] / "data" / "archive"

TWINS = [
    ("crinex/ACOR00ESP_R_20213550000_01D_30S_MO.crx", "obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx"),
    ("crinex/pdel0010.21d", "obs3/pdel0010.21o"),
    ("crinex/delf0010.21d", "obs2/delf0010.21o"),
    ("crinex/AJAC3550.21D", "obs2/AJAC3550.21O"),
]


@pytest.mark.parametrize("compact, plain", TWINS)
def test_every_entry_point_reads_compact_rinex_like_its_twin(shared_file, tmp_path, compact, plain):
    compact, plain = shared_file(compact), shared_file(plain)
    expected = v.analyze_cn0(str(plain)).to_json()
    wrapped = tmp_path / (compact.name + ".gz")
    wrapped.write_bytes(gzip.compress(compact.read_bytes()))

    assert v.analyze_cn0(str(compact)).to_json() == expected
    assert v.analyze_cn0(str(wrapped)).to_json() == expected
    analyzer = v.CN0Analyzer.from_obs(v.read_rinex_obs(str(wrapped)))
    assert repr(v.read_rinex_obs(str(compact))) == repr(v.read_rinex_obs(str(plain)))
    assert repr(v.parse_rinex(wrapped.read_bytes(), "x")) == repr(v.read_rinex_obs(str(plain)))
    legacy = v.CN0Analyzer.from_obs(v.read_rinex_obs(str(plain)))
    assert analyzer.analyze().to_json() == legacy.analyze().to_json()
    config = v.AnalysisConfig()
    assert (v.CN0Analyzer(config).analyze_file(str(wrapped)).to_json()
            == v.CN0Analyzer(config).analyze_file(str(plain)).to_json())


def test_unix_compressed_compact_rinex_reads(shared_file):
    plain = shared_file("obs2/AJAC3550.21O")
    stacked = ARCHIVE_DATA / "AJAC3550.21D.Z"
    assert v.analyze_cn0(str(stacked)).to_json() == v.analyze_cn0(str(plain)).to_json()


def test_gzipped_navigation_reads_like_the_plain_file(shared_file, tmp_path):
    obs = shared_file("obs2/delf0010.21o")
    plain = shared_file("nav/cbw10010.21n")
    wrapped = tmp_path / "cbw10010.21n.gz"
    wrapped.write_bytes(gzip.compress(plain.read_bytes()))
    assert repr(v.read_navigation(str(wrapped))) == repr(v.read_navigation(str(plain)))
    assert repr(v.read_navigation_bytes(wrapped.read_bytes())) == repr(v.read_navigation(str(plain)))
    config = v.AnalysisConfig()
    assert (v.CN0Analyzer(config).analyze_with_nav(str(obs), str(wrapped)).to_json()
            == v.CN0Analyzer(config).analyze_with_nav(str(obs), str(plain)).to_json())


@pytest.mark.parametrize("damage, message", [
    (lambda data: gzip.compress(data)[:60], "gzip: truncated stream"),
    (lambda data: b"\x1f\x9d\x90" + bytes(range(256)) * 4, "compress: "),
])
def test_damaged_archives_raise_value_error_naming_the_layer(damage, message):
    text = rinex_text(obs_header({"G": ["S1C"]}), []).encode() * 20
    data = damage(text)
    for call in (lambda: v.read_rinex_obs_bytes(data, "x.obs"), lambda: v.read_navigation_bytes(data)):
        with pytest.raises(ValueError) as caught:
            call()
        assert caught.value.args[0].startswith(message)
