"""parse_tle_content: counting the element sets the catalogue parser keys."""

import sys

import pytest

import vardoln_cn0 as v

LINE1 = "1 24876U 97035A   21133.50038780  .00000064  00000-0  00000-0 0  9992"
LINE2 = "2 24876  55.4695 171.2748 0047473  54.2060 306.3138  2.00562805174638"
LINE2_NO_MOTION = LINE2[:52]


def catalogue(*names, line2=LINE2):
    return "\n".join(part for name in names for part in (name, LINE1, line2)) + "\n"


@pytest.mark.parametrize(
    ("text", "count"),
    [
        ("", 0),
        ("no element sets here\n", 0),
        (catalogue("GPS BIIR-2  (PRN 13)"), 1),
        (catalogue("gps biif-1 (prn 25)"), 1),
        (catalogue("NAVSTAR 43 (USA 132)"), 0),
        (catalogue("GSAT0101 (GALILEO-PFM)", "GALILEO 5 (E11)"), 2),
        (catalogue("QZS-1 (QZSS/PRN 183)", "MICHIBIKI-2"), 2),
        (catalogue("COSMOS 2425 (716K)", "BEIDOU-3 M1 (C19)"), 0),
        (catalogue("GPS BIIR-2  (PRN 13)", line2=LINE2_NO_MOTION), 0),
        ("\n\nheader text\n" + catalogue("GPS BIIR-2  (PRN 13)"), 1),
        (catalogue("GPS BIIR-2  (PRN 13)").replace("\n", "\r\n"), 1),
    ],
    ids=["empty", "no sets", "prn", "lower case", "no prn", "galileo", "qzss", "glonass beidou", "no mean motion",
         "leading text", "crlf"],
)
def test_parse_tle_content_counts(text, count):
    assert v.parse_tle_content(text) == count
    assert v.parse_tle_content(content=text) == count


def test_catalogue_files(shared_file):
    text = shared_file("tle/celestrak_gnss_20220115.txt").read_text()
    count = v.parse_tle_content(text)
    # every counted set is a GPS, Galileo or QZSS one; the catalogue has GLONASS and BeiDou too
    sets = text.count("\n1 ")
    assert 0 < count < sets
    names = text.splitlines()[0::3]
    keyed = [n for n in names if any(word in n.upper() for word in ("GPS", "NAVSTAR", "GALILEO", "GSAT", "QZS"))]
    assert count <= len(keyed)




# download_tle runs the system's downloader found on PATH; a fake one in an otherwise empty
# PATH stands in for the network.
needs_posix = pytest.mark.skipif(sys.platform == "win32", reason="fake downloader is a shell script")


def install_fake_downloader(directory, script):
    for name in ("curl", "powershell"):
        path = directory / name
        path.write_text("#!/bin/sh\n" + script)
        path.chmod(0o755)


@needs_posix
@pytest.mark.parametrize("answer", [None, "echo '<html>busy</html>'\n"], ids=["no source answers", "error page"])
def test_download_fails_without_a_catalogue(tmp_path, monkeypatch, answer):
    if answer is not None:
        install_fake_downloader(tmp_path, answer)
    monkeypatch.setenv("PATH", str(tmp_path))
    with pytest.raises(OSError) as caught:
        v.download_tle()
    assert caught.value.args == ("Failed to download TLE from all sources",)


@needs_posix
def test_download_returns_the_catalogue_text(tmp_path, monkeypatch):
    text = catalogue("GPS BIIR-2  (PRN 13)")
    (tmp_path / "catalogue.txt").write_text(text)
    install_fake_downloader(tmp_path, f"exec /bin/cat '{tmp_path}/catalogue.txt'\n")
    monkeypatch.setenv("PATH", str(tmp_path))
    downloaded = v.download_tle()
    assert downloaded == text
    assert v.parse_tle_content(downloaded) == 1




@needs_posix
def test_download_takes_the_second_source_after_an_error_page(tmp_path, monkeypatch):
    text = catalogue("GPS BIIR-2  (PRN 13)", "GALILEO 5 (E11)")
    (tmp_path / "catalogue.txt").write_text(text)
    # The first call answers an error page; later calls answer the catalogue.
    install_fake_downloader(tmp_path, f"""
if [ ! -e '{tmp_path}/called' ]; then : > '{tmp_path}/called'; echo '<html>error</html>'; exit 0; fi
exec /bin/cat '{tmp_path}/catalogue.txt'
""")
    monkeypatch.setenv("PATH", str(tmp_path))
    assert v.download_tle() == text


@needs_posix
@pytest.mark.parametrize("answer", [
    "printf '1 \\377\\376 2 \\n'",          # not UTF-8
    "printf '1 x\\n2 y\\n'; exit 22",         # HTTP error through --fail
    "head -c 17000000 /dev/zero | tr '\\0' '1'; echo ' 2 '",  # beyond the size limit
])
def test_download_refuses_bad_answers(tmp_path, monkeypatch, answer):
    install_fake_downloader(tmp_path, f"PATH=/usr/bin:/bin\n{answer}\n")
    monkeypatch.setenv("PATH", str(tmp_path))
    with pytest.raises(OSError) as caught:
        v.download_tle()
    assert caught.value.args == ("Failed to download TLE from all sources",)


@needs_posix
def test_other_threads_run_while_the_download_waits(tmp_path, monkeypatch):
    import threading

    install_fake_downloader(tmp_path, "PATH=/usr/bin:/bin\nsleep 0.4\nexit 7\n")
    monkeypatch.setenv("PATH", str(tmp_path))
    ticks = 0
    done = threading.Event()

    def count():
        nonlocal ticks
        while not done.is_set():
            ticks += 1
            done.wait(0.01)

    counter = threading.Thread(target=count)
    counter.start()
    try:
        with pytest.raises(OSError):
            v.download_tle()
    finally:
        done.set()
        counter.join()
    # Three attempts of 0.4 s each: a thread blocked on the interpreter lock would not tick.
    assert ticks > 20
