"""The plots of `vardoln-cn0 analyze` drawn in a second process.

matplotlib holds the interpreter lock for nearly all of its work, so within one process importing
and drawing it would queue behind the analysis's Python side, and the other way round. A worker
process imports it while the command analyses, then draws what the command hands it: the
recording's views (`plot_data.RecordingViews`, taken from the analysis's result as soon as it is
there, while the command's native pass still runs) and then the result's series. The worker reads
no file and analyses nothing; the command's own process never imports matplotlib.

Both ends of the exchange are here. Pickled over the worker's standard input and output: the
command sends the RecordingViews (or None to stop), then the result's `ResultSeries` (or None to
stop). The worker answers ("images", [(stem, title, png), ...]), ("problem", text) when the plots
cannot be drawn (no matplotlib), or ("failed", text).
"""

from __future__ import annotations

import gc
import os
import pickle
import subprocess
import sys
import traceback
import warnings
from typing import IO, TYPE_CHECKING, Any

from .plot_data import RecordingViews, views_of

if TYPE_CHECKING:
    from ..judge.assessment import Assessment

Images = list[tuple[str, str, bytes]]
# A worker that has not answered in this many seconds is ended and the plots are drawn here (those
# of a day of 30 s data take a second or two).
TIMEOUT_S = 600


# The plots each drawing process draws, by the number of processes: with a second core, two
# processes share them about evenly (drawing the figure's pixels is most of the work).
SHARES = {1: (("skyplot", "heatmap", "timeseries", "constellations", "visibility"),),
          2: (("skyplot", "constellations"), ("heatmap", "visibility", "timeseries"))}


class PlotWorker:
    """Worker processes preparing the plots of one recording (two on a machine with a second core,
    one otherwise); `render` draws them.

    Every failure of a worker (it cannot start, dies, or its answer cannot be read) is met by
    drawing the plots in this process instead; only a missing matplotlib is reported as such.
    """

    def __init__(self) -> None:
        self._processes: list[subprocess.Popen[bytes]] = []
        self._views: RecordingViews | None = None
        if not sys.executable:
            return
        count = 2 if (os.cpu_count() or 1) >= 2 else 1
        try:
            for part in range(count):
                self._processes.append(subprocess.Popen(
                    [sys.executable, "-m", "vardoln_tools.render._plot_worker", str(part), str(count)],
                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE))
        except OSError:
            self.close()

    def send_views(self, views: RecordingViews) -> None:
        """Hands the workers the recording's views to draw while the command finishes its work."""
        self._views = views
        if not self._processes:
            return
        try:
            data = pickle.dumps(views)
            for process in self._processes:
                assert process.stdin is not None
                process.stdin.write(data)
                process.stdin.flush()
        except (OSError, ValueError, pickle.PicklingError):
            self.close()

    def render(self, judged: Assessment) -> tuple[Images, str | None]:
        """(images, None), or ([], why there are none). The views sent before are drawn with the
        assessment's series; without them the views are made here from the assessment."""
        from .plot_data import PLOT_TITLES, result_series

        if self._views is None:
            self.send_views(views_of(judged))
        answers: list[tuple[str, Any]] = [("failed", "no worker")]
        if self._processes:
            try:
                series = pickle.dumps(result_series(judged))
                answers = [pickle.loads(process.communicate(series, timeout=TIMEOUT_S)[0])
                           for process in self._processes]
            except (OSError, EOFError, pickle.UnpicklingError, ValueError, subprocess.TimeoutExpired):
                self.close()
                answers = [("failed", "a worker failed")]
            self._processes = []
        for kind, value in answers:
            if kind == "problem":
                return [], str(value)
        if all(kind == "images" for kind, _ in answers):
            drawn = {stem: (stem, title, png) for _, images in answers for stem, title, png in images}
            return [drawn[stem] for stem, _ in PLOT_TITLES if stem in drawn], None
        return _render_here(judged, self._views)

    def close(self) -> None:
        """Ends the workers that still run (the analysis failed, or nothing is to be drawn)."""
        processes, self._processes = self._processes, []
        for process in processes:
            if process.poll() is None:
                process.kill()
                process.communicate()

    def __enter__(self) -> PlotWorker:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


def _render_here(judged: Assessment, views: RecordingViews | None) -> tuple[Images, str | None]:
    try:
        from . import plots
    except ImportError as error:
        return [], str(error)
    return plots.render_all(judged, views), None


def _answer(out: IO[bytes], kind: str, value: object) -> int:
    pickle.dump((kind, value), out)
    out.flush()
    return 0


def _no_property_list(artist: Any) -> str:
    return ""


def _import_plots(lightly: bool) -> Any:
    """The plots module. `lightly`, for a worker process, which draws and never shows matplotlib's
    help: its artists' property lists are not written into docstrings (a third of the import's
    time goes into writing them for every artist class), and there are no 3D axes (the projections
    module loads them on import, and no plot here is in 3D)."""
    if not lightly:
        from . import plots

        return plots
    sys.modules.setdefault("mpl_toolkits.mplot3d", None)  # type: ignore[arg-type]
    with warnings.catch_warnings():
        # matplotlib says that the 3D projection is not available, which is the point
        warnings.simplefilter("ignore", UserWarning)
        from matplotlib import artist

        if hasattr(artist, "kwdoc") and hasattr(artist.Artist, "_update_set_signature_and_docstring"):
            # Artist.set keeps working: only its signature and help text are not generated.
            artist.kwdoc = _no_property_list
            artist.Artist._update_set_signature_and_docstring = classmethod(lambda _: None)
        from . import plots
    return plots


def serve(source: IO[bytes], out: IO[bytes], worker_process: bool = False,
          share: tuple[str, ...] = SHARES[1][0]) -> int:
    """The worker's side of the exchange: matplotlib is imported while the command analyses, the
    plots of the recording's views are drawn as soon as they arrive, so that only the plot of the
    result's series is left once the command is done. Only the plots of `share` are drawn.

    `worker_process`: this process exists only to draw, so matplotlib is imported lightly
    (`_import_plots`)."""
    try:
        plots = _import_plots(lightly=worker_process)
    except ImportError as error:
        return _answer(out, "problem", str(error))
    views = pickle.load(source)
    if views is None:
        return 0
    try:
        images, failure = plots.draw_views(views, stems=share), None
    except Exception:  # the command draws them itself, and meets the fault there
        images, failure = {}, traceback.format_exc()
    series = pickle.load(source)
    if series is None:
        return 0
    if failure is not None:
        return _answer(out, "failed", failure)
    try:
        if "timeseries" in share:
            images.update(plots.draw_series(series))
    except Exception:
        return _answer(out, "failed", traceback.format_exc())
    return _answer(out, "images", plots.in_order(images))


if __name__ == "__main__":
    # A short-lived process that makes some hundred thousand objects, nearly none of them in
    # cycles that matter: without the collector's passes it runs some percent faster, and what
    # it keeps (five figures) is freed when it ends.
    gc.disable()
    part, count = (int(word) for word in sys.argv[1:3]) if len(sys.argv) >= 3 else (0, 1)
    status = serve(sys.stdin.buffer, sys.stdout.buffer, worker_process=True, share=SHARES[count][part])
    sys.stdout.flush()
    # The answer is written and nothing else is to be saved: ending here spares tearing down the
    # hundred thousand objects of matplotlib's modules one by one.
    os._exit(status)
