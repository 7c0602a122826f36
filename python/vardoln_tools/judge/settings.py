"""The analysis settings of the command line, the batch and the report, built in one place.

Every subcommand that analyses takes the same options and turns them into one `AnalysisConfig`
here, so that `analyze` and `batch` judge a recording alike. The defaults are the fixed
thresholds of `vardoln_cn0.analyze_cn0` (3, 6 and 10): with them an analysis through
`CN0Analyzer` gives the same result as `analyze_cn0`, byte for byte in its JSON export.
"""

from __future__ import annotations

import argparse
import functools
import inspect
import math
from collections.abc import Callable, Iterable
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    import vardoln_cn0

# Constellation letters of RINEX; the analysis keys its systems on the first letter.
SYSTEM_LETTERS = "GRECJIS"
DEFAULT_SYSTEMS = ("G", "R", "E", "C")

DEFAULT_MIN_ELEVATION = 5.0
DEFAULT_THRESHOLD_LOW = 3.0
DEFAULT_THRESHOLD_HIGH = 6.0
DEFAULT_THRESHOLD_CRITICAL = 10.0
DEFAULT_EVENT_DROP = 6.0
DEFAULT_EVENT_SATELLITES = 4


@dataclass(frozen=True)
class DetectorSettings:
    """The band detector behind the jamming and interference verdicts: an epoch is affected in a
    band when `event_satellites` of the satellites tracked there (with fewer than 8 tracked, the
    larger of 2 and half of them) fall `drop_db` or more below their expected C/N0 or lose the band."""

    drop_db: float = DEFAULT_EVENT_DROP
    event_satellites: int = DEFAULT_EVENT_SATELLITES

    def as_dict(self) -> dict[str, Any]:
        return {"event_drop": self.drop_db, "event_satellites": self.event_satellites}


def analysis_config(min_elevation: float = DEFAULT_MIN_ELEVATION, systems: list[str] | None = None,
                    threshold_low: float = DEFAULT_THRESHOLD_LOW, threshold_high: float = DEFAULT_THRESHOLD_HIGH,
                    threshold_critical: float = DEFAULT_THRESHOLD_CRITICAL) -> vardoln_cn0.AnalysisConfig:
    """The AnalysisConfig of these settings, holding exactly the thresholds given.

    The constructor scales the low and high thresholds by 1 - 0.5 x anomaly_sensitivity and stores
    interference_threshold_db as the critical threshold; sensitivity 0 and the critical value as
    interference threshold keep all three as given.
    """
    import vardoln_cn0

    return vardoln_cn0.AnalysisConfig(
        min_elevation=min_elevation, systems=None if systems is None else list(systems),
        anomaly_threshold_low=threshold_low, anomaly_threshold_high=threshold_high,
        anomaly_threshold_critical=threshold_critical, anomaly_sensitivity=0.0,
        interference_threshold_db=threshold_critical)


@functools.cache
def config_fields() -> tuple[str, ...]:
    """The stored settings of an AnalysisConfig: the parameters of the class's text signature that
    are also its attributes, in that order (`time_bin` only feeds `time_bin_seconds`)."""
    import vardoln_cn0

    parameters = inspect.signature(vardoln_cn0.AnalysisConfig).parameters
    return tuple(name for name in parameters if hasattr(vardoln_cn0.AnalysisConfig, name))


def describe(config: vardoln_cn0.AnalysisConfig) -> dict[str, Any]:
    """The settings an analysis with this configuration ran with, as plain values (thresholds as
    stored, that is as the analysis uses them)."""
    systems = config.systems
    return {
        "min_elevation": config.min_elevation,
        "systems": list(DEFAULT_SYSTEMS) if systems is None else [text[0] for text in systems if text],
        "threshold_low": config.anomaly_threshold_low,
        "threshold_high": config.anomaly_threshold_high,
        "threshold_critical": config.anomaly_threshold_critical,
        "min_cn0": config.min_cn0,
        "max_cn0": config.max_cn0,
        "spoofing_unexpected_threshold": config.spoofing_unexpected_threshold,
        "spoofing_min_unexpected_count": config.spoofing_min_unexpected_count,
    }


def judged_settings(config: vardoln_cn0.AnalysisConfig, detector: DetectorSettings) -> dict[str, Any]:
    """The settings a recording is judged with, as every output shows them and the station
    history keys them: the analysis's and the band detector's."""
    return describe(config) | detector.as_dict()


def setting_lines(settings: dict[str, Any]) -> list[tuple[str, str]]:
    """(label, value) pairs of the settings, as the summary and the report show them."""
    return [
        ("elevation mask", f"{settings['min_elevation']:g}°"),
        ("constellations", ",".join(settings["systems"]) or "none"),
        ("drop anomalies", f"affected above {settings['threshold_low']:g} x the satellite's C/N0 spread "
                            f"(and 10 dB); high from {settings['threshold_high']:g} dB, "
                            f"critical from {settings['threshold_critical']:g} dB"),
        ("C/N0 range", f"{settings['min_cn0']:g} to {settings['max_cn0']:g} dB-Hz"),
        ("spoofing test", f"unexpected share above {settings['spoofing_unexpected_threshold']:g} and more than "
                          f"{settings['spoofing_min_unexpected_count']:g} unexpected satellites per epoch"),
        *([("event detector", f"{settings['event_satellites']} satellites of a band (fewer with fewer than 8 "
                              f"tracked) {settings['event_drop']:g} dB or more below their expected C/N0")]
          if "event_drop" in settings else []),
    ]


# ---------------------------------------------------------------------------------------------------
# Command-line options

def _systems(text: str) -> list[str]:
    letters = [part.strip().upper() for part in text.split(",") if part.strip()]
    unknown = [letter for letter in letters if len(letter) != 1 or letter not in SYSTEM_LETTERS]
    if not letters or unknown:
        raise argparse.ArgumentTypeError(
            f"expected comma-separated constellation letters from {','.join(SYSTEM_LETTERS)}, got {text!r}")
    return letters


def _number(text: str, accept: Callable[[float], bool], expected: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not accept(value):
        raise argparse.ArgumentTypeError(f"expected {expected}, got {text!r}")
    return value


def _elevation(text: str) -> float:
    return _number(text, lambda value: -90.0 <= value <= 90.0, "degrees between -90 and 90")


def _positive(text: str) -> float:
    return _number(text, lambda value: math.isfinite(value) and value > 0.0, "a number above 0")


def _threshold(text: str) -> float:
    return _number(text, lambda value: math.isfinite(value) and value >= 0.0, "a number of 0 or more")


def count(text: str) -> int:
    """A command-line count: a whole number of 1 or more."""
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"expected a whole number of 1 or more, got {text!r}")
    return value


# The analysis options of the command line by destination, each with its one default: every
# subcommand that analyses takes them from here (all of them, or those it uses).
ANALYSIS_OPTIONS: dict[str, tuple[str, dict[str, Any]]] = {
    "systems": ("--systems", dict(
        metavar="G,R,E,C", type=_systems,
        help=f"constellations to analyse, comma-separated letters (default {','.join(DEFAULT_SYSTEMS)})")),
    "min_elevation": ("--min-elevation", dict(
        metavar="DEG", type=_elevation, default=DEFAULT_MIN_ELEVATION,
        help=f"elevation mask in degrees (default {DEFAULT_MIN_ELEVATION:g})")),
    "event_drop": ("--event-drop", dict(
        metavar="DB", type=_positive, default=DEFAULT_EVENT_DROP,
        help="the event detector behind the jamming and interference verdicts: a satellite counts when its C/N0 "
             f"falls DB or more below what it is expected to show (default {DEFAULT_EVENT_DROP:g})")),
    "event_satellites": ("--event-satellites", dict(
        metavar="N", type=count, default=DEFAULT_EVENT_SATELLITES,
        help="the event detector: satellites of one band that must fall together, with 8 or more tracked in it "
             f"(with fewer: the larger of 2 and half of them; default {DEFAULT_EVENT_SATELLITES})")),
    "threshold_low": ("--threshold-low", dict(
        metavar="K", type=_threshold, default=DEFAULT_THRESHOLD_LOW,
        help="the drop-anomaly rule of the analysis (its JSON export and the report's appendix, not the verdicts): "
             "a sample counts when it falls more than 10 dB and more than K times its satellite's C/N0 spread (at "
             f"least 5 dB) below its mean (default {DEFAULT_THRESHOLD_LOW:g})")),
    "threshold_high": ("--threshold-high", dict(
        metavar="DB", type=_threshold, default=DEFAULT_THRESHOLD_HIGH,
        help=f"the drop-anomaly rule: drop in dB from which an anomaly is high (default {DEFAULT_THRESHOLD_HIGH:g})")),
    "threshold_critical": ("--threshold-critical", dict(
        metavar="DB", type=_threshold, default=DEFAULT_THRESHOLD_CRITICAL,
        help="the drop-anomaly rule: drop in dB from which an anomaly is critical "
             f"(default {DEFAULT_THRESHOLD_CRITICAL:g})")),
}


def add_arguments(parser: argparse.ArgumentParser, only: Iterable[str] | None = None) -> None:
    """The analysis options, the same in every subcommand that analyses: all of them, or those
    named in `only` (by destination, such as "min_elevation") for a command that uses fewer."""
    group = parser.add_argument_group("analysis settings")
    for dest in ANALYSIS_OPTIONS if only is None else only:
        flag, options = ANALYSIS_OPTIONS[dest]
        group.add_argument(flag, **options)


def from_arguments(args: argparse.Namespace) -> vardoln_cn0.AnalysisConfig:
    """The AnalysisConfig of parsed command-line options (see add_arguments)."""
    return analysis_config(args.min_elevation, args.systems, args.threshold_low, args.threshold_high,
                           args.threshold_critical)


def detector_from_arguments(args: argparse.Namespace) -> DetectorSettings:
    """The detector settings of parsed command-line options (see add_arguments)."""
    return DetectorSettings(float(args.event_drop), int(args.event_satellites))
