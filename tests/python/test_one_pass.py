"""One recording read once: every command reads each file's bytes from disk once and parses it once,
computes satellite geometry once and runs one analysis, whatever it writes; and the analysis of a
loaded recording is the module's own, byte for byte."""

import pytest

import vardoln_cn0 as v
from vardoln_tools import _native, commands
from vardoln_tools.tables import recording

SEPT = ("obs3/SEPT265G.21O", "nav/SEPT2650.21P")
NYA1 = ("crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx",
        "nav/NYA100NOR_S_20241240000_01D_GN.rnx", "nav/NYA100NOR_S_20241240000_01D_EN.rnx")
# analyze_cn0's thresholds as a configuration
QUICK = {"anomaly_sensitivity": 0.0, "interference_threshold_db": 10.0}


def counted(run):
    """What `run()` cost in core passes, by both extensions."""
    before = _native.counters()
    run()
    after = _native.counters()
    return {name: after[name] - before[name] for name in after}


@pytest.mark.parametrize("argv", [
    ["analyze", "{obs}", "{navs}"],
    ["analyze", "{obs}", "{navs}", "--plots", "{tmp}/plots", "--html", "{tmp}/report.html", "--json", "{tmp}/a.json",
     "--summary-json", "{tmp}/s.json"],
    ["qc", "{obs}", "{navs}", "--json", "{tmp}/qc.json", "--html", "{tmp}/qc.html"],
    ["signals", "{obs}", "{navs}", "--json", "{tmp}/signals.json"],
    ["batch", "{obs}", "{navs}", "--threads", "--no-progress", "--jsonl", "{tmp}/rows.jsonl"],
    ["batch", "{obs}", "{navs}", "--qc", "--threads", "--no-progress", "--jsonl", "{tmp}/rows.jsonl"],
], ids=["summary", "report", "qc", "signals", "batch", "batch --qc"])
def test_each_command_reads_parses_and_positions_once(shared_file, tmp_path, capsys, argv):
    obs, *navs = [str(shared_file(name)) for name in NYA1]
    nav_args = [arg for nav in navs for arg in ("--nav", nav)]
    if argv[0] == "batch":  # a batch takes its navigation files from a directory
        (tmp_path / "nav").mkdir()
        for nav in navs:
            (tmp_path / "nav" / nav.rsplit("/", 1)[1]).symlink_to(nav)
        nav_args = ["--nav-dir", str(tmp_path / "nav")]
    words = []
    for word in argv:
        words += nav_args if word == "{navs}" else [word.format(obs=obs, tmp=tmp_path)]
    cost = counted(lambda: commands.main(words))
    assert capsys.readouterr().err == ""
    analyses = 0 if argv[0] == "signals" else 1
    # A batch positions the satellites once per candidate it chooses among (_GN, _EN, both).
    geometry = 3 if argv[0] == "batch" else 1
    assert cost == {"files_read": 3, "parses": 3, "geometry_passes": geometry, "analyses": analyses}


@pytest.mark.parametrize("files", [SEPT, NYA1, ("obs2/arlm200b.15o", "nav/arlm2000.15n"), ("obs3/pdel0010.21o",)])
def test_a_loaded_recording_analyses_as_the_module_does(shared_file, files):
    """Byte-identical JSON: against analyze_cn0 with one navigation file or none; with several,
    against the module's own object-style analysis given the core's merge of them."""
    obs, *navs = [str(shared_file(name)) for name in files]
    loaded = recording.load(obs, navs)
    if len(navs) > 1:
        analyzer = v.CN0Analyzer.from_obs(v.read_rinex_obs(obs))
        analyzer.set_navigation(loaded.native.nav)
        module = analyzer.analyze()
    else:
        module = v.analyze_cn0(obs, navs[0] if navs else None)
    assert loaded.native.analyze(v.AnalysisConfig(**QUICK)).to_json() == module.to_json()
