"""One recording judged as every output of the tools shows it: the analysis, the band detector's
events, the health grade and its criteria, the navigation coverage behind the visibility
verdicts, and the verdicts as shown.

`assess` is the one path from files and settings to verdicts; the terminal summary, the HTML
report, the summary JSON and the batch rows all read the `Assessment` it returns, so they
cannot disagree.
"""

from __future__ import annotations

import datetime
import functools
import math
import os
from collections.abc import Callable, Sequence
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, cast

from .._version import __version__
from ..tables import recording
from . import settings

if TYPE_CHECKING:
    import pandas as pd
    import vardoln_cn0

NO_DATA_GRADE = "N/A"


class NothingToJudge(Exception):
    """A recording without a single usable signal-strength sample; the message says why."""

    def __init__(self, path: str, reason: str):
        super().__init__(f"{path}: nothing to judge: {reason}")
        self.path, self.reason = path, reason


RecordingError = recording.RecordingError


@dataclass(frozen=True)
class Quality:
    """The quality score the analysis stores (the `quality_score` of the JSON export)."""

    overall: float
    cn0_score: float
    coverage_score: float
    consistency_score: float
    grade: str
    interpretation: str

    def as_dict(self) -> dict[str, Any]:
        return {"overall": self.overall, "cn0_score": self.cn0_score, "coverage_score": self.coverage_score,
                "consistency_score": self.consistency_score, "grade": self.grade,
                "interpretation": self.interpretation}


def stored_quality(result: vardoln_cn0.AnalysisResult) -> Quality:
    """The quality score a result stores, as the analysis stored it (read natively, without
    exporting: a day of 30 s data exports to some 80 MB)."""
    from .. import _native

    record = _native.stored_quality(result)
    return Quality(float(record["overall"]), float(record["cn0_score"]), float(record["coverage_score"]),
                   float(record["consistency_score"]), str(record["grade"]), str(record["interpretation"]))


def grade_bands_text() -> str:
    """The stored grade's bands as a sentence: "A score of 90 or more is grade A, 80 B, ... and
    below 60 F."."""
    from .. import _native

    *bands, (_, lowest, _) = _native.grade_bands()
    (top, top_letter, _), *others = bands
    middle = "".join(f", {lower:g} {letter}" for lower, letter, _ in others)
    return f"A score of {top:g} or more is grade {top_letter}{middle} and below {bands[-1][0]:g} {lowest}."


@dataclass(frozen=True)
class SystemCoverage:
    system: str
    observed: int  # satellite-epochs with a C/N0 sample
    percent: float  # of them with an ephemeris; NaN where not predictable
    predictable: bool
    uncovered_satellites: tuple[str, ...]


@dataclass(frozen=True)
class Coverage:
    """How much of the observed satellite-epochs the navigation data can position."""

    percent: float  # overall, over the predictable constellations; NaN when none was observed
    systems: tuple[SystemCoverage, ...]
    obs_span: tuple[str, str]
    nav_span: tuple[str, str] | None  # clock epochs of the records; None without records
    epochs: int
    never_predicted: float  # SBAS, IRNSS and unknown satellites observed per epoch
    without_ephemeris: float  # predictable satellites observed without a position, per epoch
    spans_overlap: bool  # the records, with the hours each one serves, reach into the recording
    complete: bool  # can back the visibility verdicts: overlapping records covering enough (the core's rule)

    def percent_text(self) -> str:
        return "-" if math.isnan(self.percent) else f"{self.percent:.1f} %"

    def by_system_text(self) -> str:
        return ", ".join(f"{entry.system} {entry.percent:.1f} %" for entry in self.systems if entry.predictable)

    def as_dict(self) -> dict[str, Any]:
        return {
            "percent": None if math.isnan(self.percent) else self.percent,
            "complete": self.complete,
            "spans_overlap": self.spans_overlap,
            "observation_span": list(self.obs_span),
            "navigation_span": None if self.nav_span is None else list(self.nav_span),
            "never_predicted_per_epoch": self.never_predicted,
            "without_ephemeris_per_epoch": self.without_ephemeris,
            "systems": [{"system": entry.system, "observed": entry.observed,
                         "percent": None if math.isnan(entry.percent) else entry.percent,
                         "predictable": entry.predictable,
                         "uncovered_satellites": list(entry.uncovered_satellites)} for entry in self.systems],
        }


def _time_text(value: object) -> str:
    return "" if value is None else str(value).replace(" ", "T")


def complete_coverage_percent() -> float:
    """The coverage below which the visibility verdicts are not assessable, as the core applies it."""
    from .. import _native

    return float(_native.health_rules()["complete_coverage_percent"])


def coverage_from_table(table: pd.DataFrame, spans_overlap: bool, complete: bool) -> Coverage:
    """The Coverage of a `navigation_coverage` table, with the core's verdict on the records'
    overlap with the recording and on completeness."""
    # Plain column lists: a handful of rows, read without pandas' per-row machinery.
    columns = {name: table[name].tolist() for name in ("system", "observed", "covered", "percent", "predictable",
                                                         "uncovered_satellites")}
    systems = []
    never_predicted = 0
    every: dict[str, Any] = {}
    for index, name in enumerate(columns["system"]):
        row = {key: values[index] for key, values in columns.items()}
        if name == "all":
            every = row
            continue
        systems.append(SystemCoverage(str(name), int(row["observed"]), float(row["percent"]),
                                      bool(row["predictable"]), tuple(row["uncovered_satellites"])))
        if not row["predictable"]:
            never_predicted += int(row["observed"])
    epochs = int(table.attrs["epochs"]) or 1
    nav_start, nav_end = table.attrs["nav_start"], table.attrs["nav_end"]
    return Coverage(
        percent=float(every["percent"]), systems=tuple(systems),
        obs_span=(_time_text(table.attrs["obs_start"]), _time_text(table.attrs["obs_end"])),
        nav_span=None if nav_start is None else (_time_text(nav_start), _time_text(nav_end)),
        epochs=int(table.attrs["epochs"]),
        never_predicted=never_predicted / epochs,
        without_ephemeris=(int(every["observed"]) - int(every["covered"])) / epochs,
        spans_overlap=spans_overlap, complete=complete)


def coverage_warning(coverage: Coverage) -> str | None:
    """The one plain line that says the navigation data cannot back the visibility verdicts."""
    if not coverage.spans_overlap:
        if coverage.nav_span is None:
            return "the navigation data hold no usable records: visibility verdicts are not assessable"
        return (f"the navigation records ({coverage.nav_span[0]} .. {coverage.nav_span[1]}) do not overlap the "
                f"recording ({coverage.obs_span[0]} .. {coverage.obs_span[1]}): visibility verdicts are not "
                "assessable")
    if math.isnan(coverage.percent):
        return ("no satellite of a predictable constellation (GPS, GLONASS, Galileo, BeiDou, QZSS) was observed: "
                "visibility verdicts are not assessable")
    if not coverage.complete:
        return (f"navigation data cover {coverage.percent_text()} of the observed satellite-epochs "
                f"({coverage.by_system_text()}), below {complete_coverage_percent():g} %: visibility verdicts are "
                "not assessable")
    return None


# Event types of the band detector, as the summary JSON writes them.
JAMMING, INTERFERENCE, SPOOFING, LASTING_DROP = "jamming", "interference", "spoofing", "lasting_drop"


@dataclass(frozen=True)
class Event:
    """One episode of the band detector (see `detector` in the guide): its type, first and last
    epoch (timestamps as the analysis writes them), bands, constellations and satellites, and the
    median drop over its satellites in dB (for spoofing the rise) beside the largest."""

    type: str
    start: str
    end: str
    bands: tuple[str, ...]
    systems: tuple[str, ...]  # constellation names
    satellites: tuple[str, ...]
    drop_db: float
    largest_db: float
    share: float  # of the satellites tracked in the most touched band

    @classmethod
    def from_native(cls, event: dict[str, Any]) -> Event:
        from ..tables._common import system_name

        return cls(str(event["type"]), str(event["start"]), str(event["end"]), tuple(event["bands"]),
                   tuple(system_name(letter) for letter in event["systems"]), tuple(event["satellites"]),
                   float(event["median_db"]), float(event["largest_db"]), float(event["share"]))

    def as_dict(self) -> dict[str, Any]:
        return {"type": self.type, "start": self.start, "end": self.end, "bands": list(self.bands),
                "systems": list(self.systems), "satellites": list(self.satellites),
                "drop_db": _finite(self.drop_db), "largest_db": _finite(self.largest_db), "share": self.share}

    def text(self) -> str:
        """"jamming 2024-05-03T10:00:00.000Z .. 2024-05-03T10:05:00.000Z, L1, 12 satellites, 9 dB down"."""
        how = "up" if self.type == SPOOFING else "down"
        size = "-" if math.isnan(self.drop_db) else f"{self.drop_db:.0f}"
        return (f"{self.type.replace('_', ' ')} {self.start} .. {self.end}, {'+'.join(self.bands)}, "
                f"{len(self.satellites)} satellites, {size} dB {how}")


def _finite(value: float | None) -> float | None:
    return None if value is None or not math.isfinite(value) else value


# The health criteria: group names as the core gives them, how each figure reads, and its threshold.
CRITERION_GROUPS = {"completeness": "completeness", "multipath": "multipath", "slips": "slips",
                    "cn0": "C/N0 at 30-60°", "events": "events", "navigation": "navigation coverage"}


@dataclass(frozen=True)
class Criterion:
    """One health criterion: its group, what it is about, its figure and status ("pass", "warn",
    "fail" or "not assessed", with the reason)."""

    group: str
    subject: str
    figure: float | None
    second_figure: float | None  # multipath: the second signal's RMS; C/N0: the nominal level
    status: str
    reason: str

    def figure_text(self) -> str:
        if self.status == "not assessed":
            return f"not assessed: {self.reason}"
        value, other = self.figure, self.second_figure
        assert value is not None
        if self.group == "completeness" or self.group == "navigation":
            return f"{value:.1f} %"
        if self.group == "multipath":
            return f"{value:.2f} m, {other:.2f} m"
        if self.group == "slips":
            return "no slip" if math.isinf(value) else f"{value:.0f} observations per slip"
        if self.group == "cn0":
            if self.subject == "all signals":
                return f"median {value:.1f} dB below nominal"
            return f"{value:.1f} dB-Hz (nominal {other:.0f})"
        return f"{value:.0f}"

    def as_dict(self) -> dict[str, Any]:
        return {"group": self.group, "subject": self.subject, "figure": _finite(self.figure),
                "second_figure": _finite(self.second_figure), "status": self.status, "text": self.figure_text()}


@dataclass(frozen=True)
class Health:
    """The health grade (A to F, by the rules of the guide's grade table), the sentence that goes
    with it, and the criteria it was made from."""

    grade: str
    sentence: str
    criteria: tuple[Criterion, ...]
    warned: int
    failed: int

    @classmethod
    def from_native(cls, judged: dict[str, Any]) -> Health:
        criteria = tuple(Criterion(str(c["group"]), str(c["subject"]), c["figure"], c["second_figure"],
                                   str(c["status"]), str(c["reason"])) for c in judged["criteria"])
        return cls(str(judged["grade"]), str(judged["sentence"]), criteria, int(judged["warned"]),
                   int(judged["failed"]))

    def as_dict(self) -> dict[str, Any]:
        return {"grade": self.grade, "sentence": self.sentence, "criteria_warned": self.warned,
                "criteria_failed": self.failed, "criteria": [criterion.as_dict() for criterion in self.criteria]}


@functools.cache
def grade_rules() -> tuple[tuple[str, str], ...]:
    """The rules behind the health grade's letter, first match wins, as the core applies them."""
    from .. import _native

    return tuple((str(grade), str(rule)) for grade, rule in _native.health_rules()["grades"])

DETECTED = "DETECTED"
NOT_DETECTED = "not detected"


@dataclass
class Assessment:
    """Everything the tools show about one analysed recording."""

    obs_path: str
    nav_paths: list[str]
    settings: dict[str, Any]
    result: vardoln_cn0.AnalysisResult  # as shown: the selected constellations (selection.SelectedResult)
    quality: Health  # the health grade, the one grade the outputs show
    module_score: Quality  # the analysis's own stored score and grade
    events: list[Event] = field(default_factory=list)
    coverage: Coverage | None = None
    warnings: list[str] = field(default_factory=list)
    # The navigation data can back the visibility verdicts: a receiver position, records that reach
    # into the recording, and coverage of 95 % or more (decided by the native pass).
    visibility_checked: bool = False
    # The recording as loaded, for the plots, tables and QC of the same command (not shown).
    recording: recording.Loaded | None = field(default=None, repr=False, compare=False)

    @property
    def has_navigation(self) -> bool:
        return bool(self.nav_paths)

    @property
    def has_receiver_position(self) -> bool:
        # without one the visibility check runs empty and names no source
        return bool(self.result.visibility_prediction_source)

    @property
    def visibility_assessable(self) -> bool:
        return self.visibility_checked and self.result.has_visibility_prediction

    def not_assessable_text(self) -> str:
        if self.coverage is None:
            return "not assessable: no navigation data"
        if not self.has_receiver_position:
            return "not assessable: the observation header has no receiver position"
        percent = 0.0 if math.isnan(self.coverage.percent) else self.coverage.percent
        return f"not assessable: navigation data cover {percent:.1f} % of the observed satellites"

    def events_of(self, kind: str) -> list[Event]:
        return [event for event in self.events if event.type == kind]

    @property
    def jamming(self) -> bool | None:
        """The jamming verdict; None when a lasting drop leaves it open."""
        return self._drop_verdict(JAMMING)

    @property
    def interference(self) -> bool | None:
        """The interference verdict; None when a lasting drop leaves it open."""
        return self._drop_verdict(INTERFERENCE)

    def _drop_verdict(self, kind: str) -> bool | None:
        if self.events_of(kind):
            return True
        return None if self.events_of(LASTING_DROP) else False

    @property
    def spoofing(self) -> bool | None:
        """The spoofing verdict: the C/N0 indicator, or the visibility rule where the navigation data
        can back it; None when neither can say."""
        if self.events_of(SPOOFING):
            return True
        return self.result.spoofing_detected if self.visibility_assessable else None

    @property
    def frequently_missing(self) -> list[str] | None:
        return sorted(self.result.get_frequently_missing_satellites()) if self.visibility_assessable else None

    @property
    def confirmation_rate(self) -> float | None:
        return self.result.visibility_confirmation_rate if self.visibility_assessable else None

    def _drop_text(self, kind: str) -> str:
        found = self.events_of(kind)
        if found:
            first = found[0]
            count = f"{len(found)} event" + ("s" if len(found) > 1 else "")
            depth = "signals lost" if math.isnan(first.drop_db) else f"{first.drop_db:.0f} dB down"
            return f"{DETECTED}: {count}, the first {first.start} .. {first.end} in {'+'.join(first.bands)}, {depth}"
        lasting = self.events_of(LASTING_DROP)
        if lasting:
            drop = lasting[0]
            fell = "C/N0 fell" if math.isnan(drop.drop_db) else f"C/N0 fell by {drop.drop_db:.0f} dB"
            return (f"not assessable: {fell} in {'+'.join(drop.bands)} at {drop.start} and had not recovered when the "
                    "recording ended (jamming, or an antenna, cable or attenuation fault)")
        return NOT_DETECTED

    def verdicts(self) -> dict[str, str]:
        """The verdicts as every output shows them, in display order."""
        result = self.result
        shown = {"jamming": self._drop_text(JAMMING), "interference": self._drop_text(INTERFERENCE)}
        raised = self.events_of(SPOOFING)
        spoof_text = (f"{DETECTED}: the C/N0 of {len(raised[0].satellites)} satellites rose together, "
                      f"{raised[0].drop_db:.0f} dB above their expected level, from {raised[0].start}"
                      if raised else None)
        if not self.visibility_assessable:
            unassessable = self.not_assessable_text()
            shown.update(spoofing=spoof_text or unassessable, missing_satellites=unassessable,
                         confirmation=unassessable)
            return shown
        missing = self.frequently_missing or []
        shown.update(
            spoofing=spoof_text or (DETECTED if result.spoofing_detected else NOT_DETECTED),
            missing_satellites=f"{DETECTED}: {', '.join(missing)} frequently missing" if missing else NOT_DETECTED,
            confirmation=f"{result.visibility_confirmation_rate:.1f} % of the predicted satellites observed")
        return shown

    def unexpected_breakdown(self) -> tuple[float, float, float] | None:
        """Unexpected satellites per epoch as (never predicted: SBAS, IRNSS; without ephemeris;
        tracked below the elevation mask), from the coverage table and the analysis's mean."""
        if self.coverage is None or not self.result.has_visibility_prediction:
            return None
        never, without = self.coverage.never_predicted, self.coverage.without_ephemeris
        below = max(0.0, self.result.visibility_mean_unexpected - never - without)
        return never, without, below

    def as_record(self, created: str) -> dict[str, Any]:
        """The tools' own account of this assessment, for --summary-json: what the outputs show,
        beside (not inside) the module's JSON export."""
        notebook = self.result.quality_score
        breakdown = self.unexpected_breakdown()
        return {
            "tool": "vardoln-cn0",
            "version": __version__,
            "created": created,
            "files": {"observation": self.obs_path, "navigation": list(self.nav_paths)},
            "settings": dict(self.settings),
            "coverage": None if self.coverage is None else self.coverage.as_dict(),
            "warnings": list(self.warnings),
            "verdicts": self.verdicts(),
            "events": [event.as_dict() for event in self.events],
            "quality": self.quality.as_dict(),
            "module_score": self.module_score.as_dict(),
            "notebook_score": {"overall": notebook.overall, "rating": notebook.rating,
                               "note": "a second, differently weighted score, not the grade"},
            "unexpected_per_epoch": None if breakdown is None else {
                "total": self.result.visibility_mean_unexpected, "never_predicted": breakdown[0],
                "without_ephemeris": breakdown[1], "below_mask": breakdown[2]},
        }


def created_now() -> str:
    """The current time in UTC as the outputs stamp it (2024-05-03T12:00:00Z)."""
    return datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def _nothing_to_judge_reason(obs: vardoln_cn0.RinexObsData, config_settings: dict[str, Any]) -> str:
    """Why a recording gave no sample, from its header and records."""
    if obs.num_epochs == 0:
        return "the recording has no observation epochs"
    codes = obs.obs_types_by_system()
    if not any(code.startswith("S") for letter_codes in codes.values() for code in letter_codes):
        return "the recording has no signal-strength (S) observables"
    return (f"no signal-strength (C/N0) sample of the selected constellations "
            f"({','.join(config_settings['systems']) or 'none'}) above the "
            f"{config_settings['min_elevation']:g}° elevation mask")


def assess(obs_path: str | os.PathLike[str] | recording.Loaded, nav_paths: Sequence[str | os.PathLike[str]] = (),
           config: vardoln_cn0.AnalysisConfig | None = None, detector: settings.DetectorSettings | None = None,
           on_result: Callable[[vardoln_cn0.AnalysisResult], None] | None = None) -> Assessment:
    """Judges one recording: an observation file and its navigation files (read once, see
    recording.load), or a recording loaded already (`nav_paths` then unused). Raises
    roles.WrongRole for a file in the wrong role, NothingToJudge for a recording without samples
    and RecordingError for a file that cannot be read.

    `config` defaults to settings.analysis_config(); `detector` sets the band detector
    (settings.DetectorSettings()). The analysis and one native pass over the same recording (the
    detector's events, the health criteria and grade, coverage and the visibility check over the
    selected constellations) run side by side and share its satellite geometry; `on_result` gets
    the analysis's result as soon as it is there, while that pass may still run. The assessment's
    result shows only the selected constellations (see selection.SelectedResult); a file cut
    inside its last epoch adds a warning.
    """
    from .. import _native
    from ..tables._common import attrs
    from ..tables.signals import coverage_frame
    from ..tables.visibility import summary_of
    from . import selection

    loaded = obs_path if isinstance(obs_path, recording.Loaded) else recording.load(obs_path, nav_paths)
    obs, navs, native = loaded.obs_path, loaded.nav_paths, loaded.native
    config = settings.analysis_config() if config is None else config
    detector = settings.DetectorSettings() if detector is None else detector
    shown_settings = settings.judged_settings(config, detector)
    systems = shown_settings["systems"]

    # Both release the interpreter lock while they compute.
    with ThreadPoolExecutor(max_workers=1) as side:
        pending = side.submit(_native.judge, native, None, config.min_elevation, detector.drop_db,
                              detector.event_satellites, systems, config.spoofing_unexpected_threshold,
                              config.spoofing_min_unexpected_count)
        result = native.analyze(config)
        if result.total_observations == 0:
            loaded.obs_inside_archive()
            raise NothingToJudge(obs, _nothing_to_judge_reason(native.obs, shown_settings))
        if on_result is not None:
            on_result(result)
        judged = pending.result()

    visibility = summary_of(judged["visibility"], obs, navs) if "visibility" in judged else None
    shown = cast("vardoln_cn0.AnalysisResult", selection.SelectedResult(result, systems, visibility))
    assessment = Assessment(obs, navs, shown_settings, shown, Health.from_native(judged), stored_quality(result),
                            [Event.from_native(event) for event in judged["detector"]["events"]])
    assessment.recording = loaded
    assessment.visibility_checked = bool(judged["visibility_checked"])
    if "coverage" in judged:
        assessment.coverage = coverage_from_table(coverage_frame(judged["coverage"], obs, navs),
                                                  bool(judged["spans_overlap"]), bool(judged["coverage_complete"]))
        warning = coverage_warning(assessment.coverage)
        if warning is not None:
            assessment.warnings.append(warning)
    cut = selection.cut_epoch_warning(attrs(judged["facts"], obs, navs or None))
    if cut is not None:
        assessment.warnings.append(cut)
    return assessment
