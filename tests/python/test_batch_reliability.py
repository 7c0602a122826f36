"""A batch that loses nothing: worker processes that die, interrupts, resumes, torn output files and the
memory budget, on real recordings through the command and the library."""

import csv
import gzip
import io
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from collections import Counter
from pathlib import Path

import pytest
from hypothesis import given, settings, strategies as st

from vardoln_tools import batch
from vardoln_tools.batch import rowfiles
from vardoln_tools.commands.batch import parse_size

RECORDING = "obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx"
CLI = [sys.executable, "-c", "import sys; from vardoln_tools.commands import main; sys.exit(main())"]


def copies(shared_file, folder: Path, count: int, first: int = 0) -> list[str]:
    folder.mkdir(exist_ok=True)
    source = shared_file(RECORDING)
    paths = [folder / f"ACOR{i:03d}.obs" for i in range(first, first + count)]
    for path in paths:
        shutil.copyfile(source, path)
    return [str(path) for path in paths]


def jsonl_rows(path: Path) -> list[dict]:
    return [json.loads(line) for line in path.read_text().splitlines()]


def kill_self_on_third(loaded) -> dict:
    """A column group that ends its worker process on one recording, as a native fault would."""
    if loaded.obs_path.endswith("ACOR002.obs"):
        os.kill(os.getpid(), signal.SIGKILL)
    return {"size_bytes": os.path.getsize(loaded.obs_path)}


def test_dead_worker_gives_its_recording_an_error_row_and_the_batch_goes_on(shared_file, tmp_path):
    paths = copies(shared_file, tmp_path / "obs", 6)
    group = batch.ColumnGroup("size", ("size_bytes",), kill_self_on_third)
    rows = batch.analyze_many(paths, workers=2, progress=False, groups=[group])
    assert [row["path"] for row in rows] == paths
    assert [row["status"] for row in rows] == ["analysed"] * 2 + ["failed"] + ["analysed"] * 3
    assert rows[2]["error"] == "the worker process died of SIGKILL while analysing this recording"
    assert {row["size_bytes"] for row in rows if row["status"] == "analysed"} == {os.path.getsize(paths[0])}
    # Threads give the same rows for the recordings that do not kill their process.
    threaded = batch.analyze_many(paths[:2] + paths[3:], workers=2, progress=False, threads=True, groups=[group])
    assert threaded == rows[:2] + rows[3:]


def wait_for_rows(path: Path, count: int, process: subprocess.Popen) -> None:
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and process.poll() is None:
        if path.exists() and path.read_text().count("\n") >= count:
            return
        time.sleep(0.02)
    raise AssertionError(f"no {count} rows in {path} (exit status {process.poll()})")


def worker_pids(pid: int) -> list[int]:
    """The batch's worker processes: the children of its fork server."""
    def children(parent: int) -> list[int]:
        listed = Path(f"/proc/{parent}/task/{parent}/children")
        return [int(text) for text in listed.read_text().split()] if listed.exists() else []

    servers = [child for child in children(pid) if b"forkserver" in Path(f"/proc/{child}/cmdline").read_bytes()]
    return [worker for server in servers for worker in children(server)]


def test_killed_worker_interrupt_and_resume_leave_one_row_per_recording(shared_file, tmp_path):
    paths = copies(shared_file, tmp_path / "obs", 48)
    out, table = tmp_path / "rows.jsonl", tmp_path / "rows.csv"
    command = [*CLI, "batch", str(tmp_path / "obs"), "--workers", "2", "--no-progress", "--jsonl", str(out),
               "--csv", str(table)]

    # A worker killed from outside, then Ctrl-C: the rows so far stay, the files stay valid.
    first = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    wait_for_rows(out, 1, first)
    victims = worker_pids(first.pid)
    assert victims, "the batch runs no worker process"
    os.kill(victims[0], signal.SIGKILL)
    wait_for_rows(out, 3, first)
    first.send_signal(signal.SIGINT)
    _, err = first.communicate(timeout=120)
    assert first.returncode == 130, err
    assert "stopped by SIGINT" in err and "--resume" in err
    kept = jsonl_rows(out)
    assert 3 <= len(kept) < len(paths)
    with open(table, newline="") as source:
        assert [row["path"] for row in csv.DictReader(source)] == [row["path"] for row in kept]
    died = [row for row in kept if row["error"] and "worker process died of SIGKILL" in row["error"]]
    assert len(died) <= 1  # one, unless the worker was killed between two recordings

    # A resume stopped by SIGTERM, then one that completes, with a Parquet file at the end. More
    # recordings first, so that the signal lands mid-batch however fast the machine is (a batch whose
    # last row is written before the signal is looked at ends complete, with status 0).
    paths += copies(shared_file, tmp_path / "obs", 200, first=len(paths))
    second = subprocess.Popen([*command, "--resume"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    wait_for_rows(out, len(kept) + 1, second)
    second.send_signal(signal.SIGTERM)
    _, err = second.communicate(timeout=120)
    assert second.returncode == 143, (second.returncode, err)
    parquet = tmp_path / "rows.parquet"
    done = subprocess.run([*command, "--resume", "--parquet", str(parquet)], capture_output=True, text=True,
                          timeout=300)
    assert done.returncode == (1 if died else 0), done.stderr
    assert done.stdout.splitlines()[-1].startswith(f"{len(paths) - len(died)} analysed")

    rows = jsonl_rows(out)
    assert [row["path"] for row in rows] == paths  # every recording once, in the order given
    assert Counter(row["status"] for row in rows) == Counter({"analysed": len(paths) - len(died),
                                                              **({"failed": 1} if died else {})})
    with open(table, newline="") as source:
        assert [row["path"] for row in csv.DictReader(source)] == paths
    pyarrow_parquet = pytest.importorskip("pyarrow.parquet")
    frame = pyarrow_parquet.read_table(parquet).to_pylist()
    assert frame == rows


def test_resume_refuses_other_settings_and_keeps_the_output(shared_file, tmp_path):
    paths = copies(shared_file, tmp_path / "obs", 2)
    out = tmp_path / "rows.jsonl"
    base = [*CLI, "batch", *paths, "--no-progress", "--jsonl", str(out)]
    assert subprocess.run(base, capture_output=True, timeout=300).returncode == 0
    before = out.read_bytes()
    refused = subprocess.run([*base, "--resume", "--min-elevation", "12"], capture_output=True, text=True,
                             timeout=300)
    assert refused.returncode == 2
    assert refused.stderr.strip() == (
        f"vardoln-cn0: error: cannot resume {out}: it was written with other settings (analysis.min_elevation: "
        "5.0 there, 12.0 now); give the same settings, or run without --resume to start over")
    # Other column groups: the group is named, not the column list that follows from it.
    with_qc = subprocess.run([*base, "--resume", "--qc"], capture_output=True, text=True, timeout=300)
    assert with_qc.returncode == 2
    assert "(column_groups: [] there, ['qc'] now);" in with_qc.stderr
    assert out.read_bytes() == before


def test_memory_budget_refuses_large_files_and_expanding_archives(shared_file, tmp_path):
    source = shared_file("obs2/delf0010.21o")
    text = Path(source).read_bytes()
    plain = tmp_path / "delf0010.21o"
    plain.write_bytes(text)
    archive = tmp_path / "delf0011.21o.gz"
    archive.write_bytes(gzip.compress(text))
    crinex = tmp_path / "delf0012.21d"  # compact RINEX of the same day: expands as well
    shutil.copyfile(shared_file("crinex/delf0010.21d"), crinex)
    small = tmp_path / "zegv0010.21o"
    shutil.copyfile(shared_file("obs2/zegv0010.21o"), small)
    budget = 2 * len(archive.read_bytes())  # above the archives and the small file, below the text
    assert max(len(archive.read_bytes()), crinex.stat().st_size, small.stat().st_size) < budget < len(text)

    out = tmp_path / "rows.jsonl"
    done = subprocess.run([*CLI, "batch", str(plain), str(archive), str(crinex), str(small), "--no-progress",
                           "--jsonl", str(out),
                           "--memory-budget", str(budget)], capture_output=True, text=True, timeout=300)
    assert done.returncode == 1
    rows = jsonl_rows(out)
    shown = batch.format_bytes(budget)
    assert [row["error"] for row in rows] == [
        f"over the memory budget: the file has {batch.format_bytes(len(text))}, the budget is {shown}",
        f"over the memory budget: its archive expands past {shown}",
        f"over the memory budget: its archive expands past {shown}",
        None]
    assert rows[3]["status"] == "analysed"
    # Within the budget the archive is analysed as the plain file is.
    roomy = batch.analyze_many([str(plain), str(archive)], memory_budget=len(text), progress=False, threads=True)
    assert roomy[0]["status"] == "analysed"
    assert {**roomy[1], "path": None} == {**roomy[0], "path": None}
    assert parse_size("1.5K") == 1536 and parse_size("2GiB") == 2 << 30


# Cells as a row holds them; text most often, and text made of what CSV and JSON must quote or escape.
tricky = st.text(alphabet=st.sampled_from(',"\r\n aé\u2028\x00'), max_size=8)
cells = st.one_of(tricky, tricky, tricky, st.text(max_size=8), st.none(), st.booleans(), st.integers(-10**6, 10**6),
                  st.floats(allow_nan=False, allow_infinity=False))


def csv_text(rows: list[dict], names: list[str]) -> str:
    buffer = io.StringIO()
    writer = csv.writer(buffer)
    writer.writerow(names)
    writer.writerows([row.get(name) for name in names] for row in rows)
    return buffer.getvalue()


@settings(max_examples=40, deadline=None)
@given(rows=st.lists(st.fixed_dictionaries({"module_score": cells, "warning": cells, "error": cells}), min_size=1,
                     max_size=5), cut=st.integers(0, 10**6))
def test_a_torn_output_resumes_with_its_whole_rows(tmp_path_factory, rows, cut):
    """Whatever byte a crash cuts the files at, a resume keeps exactly the rows written whole before it,
    unaltered, and leaves each file as it stood after the last of them. Every cut just after a line end
    or a quote is tried (where a reader is most easily fooled), and one anywhere."""
    folder = tmp_path_factory.mktemp("torn")
    names = ["path", "module_score", "warning", "error"]
    written = [{"path": f"r{i}.obs", **row} for i, row in enumerate(rows)]
    files = rowfiles.BatchFiles(folder / "r.jsonl", folder / "r.csv", names, {"a": 1}, resume=False)
    for row in written:
        files.write(row)
    files.close()
    for name, whole_text in (("r.jsonl", lambda n: "".join(rowfiles.json_line(row, names) for row in written[:n])),
                             ("r.csv", lambda n: csv_text(written[:n], names))):
        data = (folder / name).read_bytes()
        assert data == whole_text(len(written)).encode()
        for end in sorted({cut % (len(data) + 1), *(i + 1 for i, byte in enumerate(data) if byte in b'\r\n"')}):
            (folder / name).write_bytes(data[:end])
            resumed = rowfiles.BatchFiles(*((folder / name, None) if name == "r.jsonl" else (None, folder / name)),
                                          names, {"a": 1}, resume=True)
            resumed.close()
            kept = len(resumed.rows)
            assert (folder / name).read_bytes() == whole_text(kept).encode()
            if kept < len(written):  # no whole row was dropped
                assert len(whole_text(kept + 1).encode()) > end
            if name == "r.jsonl":
                assert resumed.rows == [json.loads(json.dumps(row)) for row in written[:kept]]
            else:
                assert [row["path"] for row in resumed.rows] == [row["path"] for row in written[:kept]]
        (folder / name).unlink()
