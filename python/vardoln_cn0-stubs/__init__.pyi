"""C/N0 signal-quality analysis of GNSS receiver recordings.

`vardoln_cn0` reads RINEX observation files (versions 2, 3 and 4, also gzip, Unix compress and
compact RINEX archives) and navigation files, takes the carrier-to-noise density (C/N0, dB-Hz) from
the "S" observables and judges the recording: per-satellite and per-constellation statistics, a time
series, multi-satellite C/N0-drop anomalies, jamming, interference and spoofing verdicts, predicted
versus observed satellites from broadcast ephemerides, skyplot and heatmap data and a quality grade.

Conventions of every function and method:

- A file that cannot be read raises `OSError` whose message is the system's description followed by
  " (os error N)"; content that cannot be parsed raises `ValueError`; an argument of the wrong type,
  a missing argument or an unknown keyword raises `TypeError`; an object used by a conflicting call
  raises `RuntimeError`. The message is the exception's only argument.
- `str` parameters take `str` only (no `pathlib.Path`: pass `str(path)`), `bytes` parameters take
  `bytes` only (no `bytearray` or `memoryview`).
- Every call returns new objects; the classes are immutable and cannot be subclassed. Only
  `CN0Analyzer.set_navigation` changes an object.
- An internal fault is raised as an exception derived directly from `BaseException` (not from
  `Exception`), so a bare `except Exception` does not hide it.
"""

from collections.abc import Sequence
from typing import Final, Literal, Self, TypedDict, final

__all__ = [
    "VERSION",
    "__version__",
    "RinexObsData",
    "NavigationData",
    "AnalysisConfig",
    "CN0Analyzer",
    "AnalysisResult",
    "QualityScore",
    "read_rinex_obs",
    "read_rinex_obs_bytes",
    "parse_rinex",
    "read_navigation",
    "read_navigation_bytes",
    "analyze_cn0",
    "version",
    "download_tle",
    "parse_tle_content",
]

VERSION: Final[str]
"""The module version, "0.4.2"."""
__version__: Final[str]
"""The module version, "0.4.2" (the same text as `VERSION`)."""

Severity = Literal["low", "high", "critical"]
"""Severity of an anomaly event."""


class SnrStats(TypedDict):
    """Signal-strength counts of one satellite (`RinexObsData.snr_stats_by_satellite`).

    All three values are floats, the counts too (120 observations give 120.0).
    """

    obs_count: float
    """Number of "S" observations of the satellite over all epochs (several codes count apart)."""
    valid_count: float
    """Number of those whose value v satisfies 0 < v < 100 dB-Hz."""
    mean_snr: float
    """Mean of the valid values in dB-Hz; 0.0 when there is none."""


class AnomalyDict(TypedDict):
    """One C/N0-drop anomaly as `AnalysisResult.get_anomalies` gives it; numbers are text."""

    start_time: str
    """Epoch of the event, such as "2024-01-15T06:30:00.000Z" (UTC-like text of the file's epoch time)."""
    end_time: str
    """The same text as `start_time`: an event covers one epoch."""
    severity: Severity
    """"critical" when the largest drop reaches the critical threshold, else "high" or "low"."""
    anomaly_type: str
    """"Multi-satellite CN0 drop", or "Multi-system CN0 drop" with 4 or more satellites or 2 or more constellations."""
    description: str
    """Such as "14.2 dB-Hz drop affecting 3 satellite(s)"."""
    cn0_drop: str
    """Largest drop below a satellite's mean in dB, shortest decimal text ("12" for 12.0)."""
    affected_satellites: str
    """Satellite identifiers joined with "," (no space), such as "G05,G07"."""
    affected_systems: str
    """Constellation names joined with ",", such as "GPS,Galileo"."""


class SkyplotTraceDict(TypedDict):
    """One satellite's sky track as `AnalysisResult.get_skyplot_data` gives it.

    The three lists are numbers joined with "," in sample order (shortest decimal text).
    Without navigation data every point sits at azimuth 0, elevation 45.
    """

    satellite: str
    """Satellite identifier, such as "G05"."""
    system: str
    """Constellation name, such as "GPS"."""
    azimuths: str
    """Azimuths in degrees clockwise from north, 0 to under 360."""
    elevations: str
    """Elevations in degrees above the horizon."""
    cn0_values: str
    """C/N0 values in dB-Hz."""


class TimeseriesDict(TypedDict):
    """The per-epoch series as `AnalysisResult.get_timeseries_data` gives it; lists of equal length."""

    hours: list[float]
    """i × interval / 3600 for point i: hours from the first point, counted at the header interval."""
    mean_cn0: list[float]
    """Mean C/N0 of all samples of each epoch, dB-Hz."""
    satellite_count: list[float]
    """Distinct satellites with samples at each epoch (whole numbers as floats)."""


class ConstellationSummary(TypedDict):
    """Statistics of one constellation as `AnalysisResult.get_constellation_summary` gives them.

    Every value is text: counts in plain decimal, C/N0 figures with fixed decimals.
    """

    system: str
    """Constellation name, such as "GPS"."""
    constellation: str
    """The same text as `system`."""
    satellite_count: str
    """Distinct satellites with samples."""
    satellites_observed: str
    """The same value as `satellite_count`."""
    satellites_expected: str
    """Satellites expected: from the visibility prediction, else GPS 12, GLONASS 9, BeiDou 15, QZSS 4, SBAS 3, IRNSS 7, others 10."""
    observation_count: str
    """C/N0 samples of the constellation; "0" for a constellation outside the selection."""
    mean_cn0: str
    """Mean C/N0 in dB-Hz, one decimal."""
    cn0_mean: str
    """The same value as `mean_cn0`."""
    min_cn0: str
    """Lowest C/N0 in dB-Hz, one decimal."""
    max_cn0: str
    """Highest C/N0 in dB-Hz, one decimal."""
    std_cn0: str
    """Population standard deviation of C/N0 in dB-Hz, two decimals."""
    cn0_std: str
    """The same value as `std_cn0`."""
    availability_ratio: str
    """satellite_count / satellites_expected, three decimals, not capped at 1."""
    cycle_slips: str
    """Jumps of more than 10 dB-Hz between neighbouring sorted C/N0 values of a satellite, summed."""
    data_gaps: str
    """Epochs of the constellation that a satellite skipped between two appearances, summed."""


@final
class RinexObsData:
    """One parsed RINEX observation file.

    Made by `read_rinex_obs`, `read_rinex_obs_bytes` and `parse_rinex`; calling the class raises
    `TypeError` "No constructor defined for RinexObsData". Immutable.
    """

    @property
    def num_epochs(self) -> int:
        """Number of epochs stored (epochs with observations; event records hold none), 0 or more."""
    @property
    def num_satellites(self) -> int:
        """Number of distinct satellite identifiers over all epochs, 0 or more."""
    @property
    def version(self) -> float:
        """RINEX format version from the header, such as 3.04 or 2.11."""
    @property
    def marker_name(self) -> str:
        """Marker name from the header; the file name when the header has none."""
    @property
    def receiver_type(self) -> str:
        """Receiver type from the header; empty when absent."""
    @property
    def interval(self) -> float:
        """Observation interval from the header, seconds; 0.0 when the header has none."""
    def satellites_by_system(self) -> dict[str, list[str]]:
        """Satellites grouped by constellation letter.

        Returns:
            Constellation letter ("G", "R", "E", "C", "J", "S", "I", or whatever letter the file
            uses) to satellite identifiers in order of first appearance, such as
            `{"G": ["G01", "G02"], "R": ["R01"]}`.
        """
    def obs_types_by_system(self) -> dict[str, list[str]]:
        """Observation codes declared in the header, by constellation letter, in header order.

        A RINEX 2 file declares one list for all systems; it appears under "G", "R", "E" and "C".
        """
    def snr_availability(self) -> dict[str, bool]:
        """Whether each constellation letter of the header declares at least one "S" (C/N0) code."""
    def debug_info(self) -> dict[str, str]:
        """Diagnostic facts as text: "version" (two decimals), "num_epochs", "num_satellites", and per
        letter L "L_satellites", "L_sat_list", "L_obs_types_count", "L_obs_types", "L_snr_types"."""
    def snr_stats_by_satellite(self) -> dict[str, SnrStats]:
        """Signal-strength counts and mean per satellite identifier, over every "S" code.

        Satellites without any "S" observation are absent.
        """
    def __repr__(self) -> str:
        """Such as "RinexObsData(version=3.04, epochs=2880, satellites=31)"."""


@final
class NavigationData:
    """Broadcast ephemerides of one RINEX navigation file, per satellite.

    Made by `read_navigation` and `read_navigation_bytes`; calling the class raises `TypeError`.
    GPS, QZSS, Galileo and BeiDou records keep their orbits, GLONASS records their state vectors;
    SBAS and NavIC records are passed over. Immutable.
    """

    @property
    def gps_count(self) -> int:
        """Distinct GPS and QZSS satellites with at least one record, 0 or more."""
    @property
    def glonass_count(self) -> int:
        """Distinct GLONASS satellites with at least one record, 0 or more."""
    @property
    def galileo_count(self) -> int:
        """Distinct Galileo satellites with at least one record, 0 or more."""
    @property
    def beidou_count(self) -> int:
        """Distinct BeiDou satellites with at least one record, 0 or more."""
    @property
    def satellite_count(self) -> int:
        """Sum of the four counts above."""
    def has_data(self) -> bool:
        """True when any satellite has a record."""
    def __repr__(self) -> str:
        """Such as "NavigationData(GPS=31, GLONASS=0, Galileo=23, BeiDou=0)"."""


@final
class AnalysisConfig:
    """Settings of the analyses run by a `CN0Analyzer`. Immutable once built.

    The constructor scales the low and high anomaly thresholds by 1 − 0.5 × `anomaly_sensitivity`
    (0.75 by default, giving 2.25 and 4.5) and stores `interference_threshold_db` as the critical
    threshold; the attributes show the stored values.
    """

    def __new__(
        cls,
        min_elevation: float = 5.0,
        min_cn0: float = 0.0,
        max_cn0: float = 60.0,
        time_bin_seconds: int | None = None,
        time_bin: int | None = None,
        systems: Sequence[str] | None = None,
        anomaly_threshold_low: float = 3.0,
        anomaly_threshold_high: float = 6.0,
        anomaly_threshold_critical: float = 10.0,
        detect_anomalies: bool = True,
        anomaly_sensitivity: float = 0.5,
        interference_threshold_db: float = 6.0,
        verbose: bool = False,
        nav_file: str | None = None,
        spoofing_unexpected_threshold: float = 0.40,
        spoofing_min_unexpected_count: float = 8.0,
    ) -> Self:
        """Builds a configuration; every argument is optional.

    Args:
        min_elevation: Elevation mask in degrees; samples of lower satellites are left out. Without
            navigation data every satellite counts as 45° high.
        min_cn0: Lowest C/N0 taken, dB-Hz (inclusive).
        max_cn0: Highest C/N0 taken, dB-Hz (inclusive).
        time_bin_seconds: Stored time-bin width in seconds (0 to 2**32 − 1; default 60); the time
            series has one point per epoch whatever it is.
        time_bin: Taken as `time_bin_seconds` when that is not given.
        systems: Constellations to analyse, by first letter ("G", "R", "E", "C", "J", "S", "I";
            "GPS" also selects "G"); None means G, R, E and C. A bare `str` is refused.
        anomaly_threshold_low: Multiplier of a satellite's C/N0 spread (at least 5 dB) that a drop
            must exceed, besides 10 dB, to count.
        anomaly_threshold_high: Drop in dB from which an event is "high" (before scaling).
        anomaly_threshold_critical: Must convert to float; otherwise unused (see
            `interference_threshold_db`).
        detect_anomalies: Stored and shown only; anomaly detection always runs.
        anomaly_sensitivity: Scales the low and high thresholds, see above.
        interference_threshold_db: Drop in dB from which an event is "critical".
        verbose: Stored and shown only.
        nav_file: Navigation file read by `CN0Analyzer.analyze_file`.
        spoofing_unexpected_threshold: Spoofing test: share of unexpected satellites (0 to 1) that
            must be exceeded.
        spoofing_min_unexpected_count: Spoofing test: mean number of unexpected satellites per
            epoch that must be exceeded.

    Raises:
        TypeError: An argument of the wrong type (the message names it).
        OverflowError: `time_bin_seconds` or `time_bin` of 2**32 or more.
        """
    @property
    def systems(self) -> list[str] | None:
        """Constellation codes as given, or None for the default G, R, E, C."""
    @property
    def nav_file(self) -> str | None:
        """Navigation file of `CN0Analyzer.analyze_file`, or None."""
    @property
    def min_elevation(self) -> float:
        """Elevation mask, degrees."""
    @property
    def min_cn0(self) -> float:
        """Lowest C/N0 taken, dB-Hz."""
    @property
    def max_cn0(self) -> float:
        """Highest C/N0 taken, dB-Hz."""
    @property
    def anomaly_threshold_low(self) -> float:
        """Stored spread multiplier of the drop test (after sensitivity scaling; 2.25 by default)."""
    @property
    def anomaly_threshold_high(self) -> float:
        """Stored "high" threshold in dB (after sensitivity scaling; 4.5 by default)."""
    @property
    def anomaly_threshold_critical(self) -> float:
        """Stored "critical" threshold in dB: the `interference_threshold_db` given (6.0 by default)."""
    @property
    def anomaly_sensitivity(self) -> float:
        """Sensitivity as given (0.5 by default)."""
    @property
    def interference_threshold_db(self) -> float:
        """As given, dB."""
    @property
    def spoofing_unexpected_threshold(self) -> float:
        """Share of unexpected satellites of the spoofing test (0.4 by default)."""
    @property
    def spoofing_min_unexpected_count(self) -> float:
        """Least mean number of unexpected satellites of the spoofing test (8.0 by default)."""
    @property
    def time_bin_seconds(self) -> int:
        """Time-bin width, seconds (60 by default)."""
    @property
    def detect_anomalies(self) -> bool:
        """As given (True by default)."""
    @property
    def verbose(self) -> bool:
        """As given (False by default)."""


@final
class CN0Analyzer:
    """Runs analyses with one configuration.

    File style: `CN0Analyzer(config)`, then `analyze_file` or `analyze_with_nav`; the files are read
    on every call, without holding the interpreter lock, so one analyzer serves many threads.
    Object style: `CN0Analyzer.from_obs(obs)`, optionally `set_navigation(nav)`, then `analyze()`.
    """

    def __new__(cls, config: AnalysisConfig) -> Self:
        """An analyzer with a copy of `config`.

        Raises:
            TypeError: `config` is not an `AnalysisConfig`.
        """
    @staticmethod
    def from_obs(
        obs_data: RinexObsData,
        min_elevation: float = 5.0,
        time_bin_seconds: int = 60,
        systems: Sequence[str] | None = None,
    ) -> CN0Analyzer:
        """An analyzer holding a copy of parsed observations, for `analyze()`.

        Its thresholds are 3.0 (spread multiplier), 6.0 and 10.0 dB, unscaled (a default
        `AnalysisConfig` gives 2.25, 4.5 and 6.0).

        Args:
            obs_data: The observations.
            min_elevation: Elevation mask, degrees.
            time_bin_seconds: Non-negative; stored only.
            systems: Constellations by first letter; None means G, R, E, C.

        Raises:
            TypeError: An argument of the wrong type, or a negative `time_bin_seconds`.
        """
    def set_navigation(self, nav_data: NavigationData) -> None:
        """Stores a copy of broadcast ephemerides for `analyze()` (not for the file methods).

        Raises:
            RuntimeError: "Already borrowed" while an analysis on this analyzer runs in another thread.
        """
    def analyze(self) -> AnalysisResult:
        """Analyses the observations given to `from_obs`, with the navigation data of `set_navigation`.

        Raises:
            ValueError: "No observation data. Use analyze_file() or CN0Analyzer.from_obs()" for an
                analyzer made by the constructor.
        """
    def analyze_file(self, obs_path: str) -> AnalysisResult:
        """Reads and analyses an observation file, with the configuration's `nav_file` when set.

        Archives (gzip, Unix compress, compact RINEX) are recognised by content. The interpreter lock
        is released while the files are read and analysed.

        Raises:
            OSError: A file cannot be read: "No such file or directory (os error 2)".
            ValueError: A file is not readable RINEX (such as "No END OF HEADER found").
        """
    def analyze_with_nav(self, obs_path: str, nav_path: str) -> AnalysisResult:
        """Reads and analyses an observation file with the navigation file `nav_path`.

        The configuration's `nav_file` and the data of `set_navigation` are not used.

        Raises:
            OSError: A file cannot be read.
            ValueError: A file is not readable RINEX.
        """


@final
class QualityScore:
    """The notebook scoring of an analysis, computed afresh by `AnalysisResult.quality_score`.

    overall = 0.3 × cn0_quality + 0.25 × availability + 0.2 × continuity + 0.15 × stability
    + 0.1 × diversity. Calling the class raises `TypeError`.
    """

    @property
    def overall(self) -> float:
        """Weighted score, 0 to 100."""
    @property
    def cn0_quality(self) -> float:
        """(mean C/N0 − 30) / 15 × 100, clamped to 0..100: 30 dB-Hz gives 0, 45 dB-Hz and above 100."""
    @property
    def availability(self) -> float:
        """Satellites seen per satellites expected × 100, at most 100; 50 without expectations."""
    @property
    def continuity(self) -> float:
        """(1 − data gaps / (constellations × epochs)) × 100, 0 to 100."""
    @property
    def stability(self) -> float:
        """(10 − mean C/N0 spread in dB) × 12.5, clamped to 0..100: 2 dB gives 100, 10 dB gives 0."""
    @property
    def diversity(self) -> float:
        """25 per observed constellation, at most 100."""
    @property
    def post_processing_suitable(self) -> bool:
        """overall ≥ 65 and cn0_quality ≥ 60."""
    @property
    def rating(self) -> Literal["A - Excellent", "B - Good", "C - Fair", "D - Poor", "F - Very Poor"]:
        """Letter and word by overall: A from 90, B from 80, C from 70, D from 60, else F."""
    def __repr__(self) -> str:
        """Such as "QualityScore(overall=82, rating='B - Good')"."""


@final
class AnalysisResult:
    """The result of one analysis: statistics, series, anomalies, verdicts, visibility and scores.

    Made by `analyze_cn0` and the `CN0Analyzer` methods; calling the class raises `TypeError`.
    C/N0 values are in dB-Hz, angles in degrees, times are texts such as
    "2024-01-15T06:30:00.000Z" (the epoch time as written in the file). `to_json()` exports every
    field. Without navigation data the visibility accessors report 0, False, "None" and empty
    lists.
    """

    @property
    def filename(self) -> str:
        """Always the empty text."""
    @property
    def rinex_version(self) -> str:
        """Always "3.05", whatever the file's version."""
    @property
    def station_name(self) -> str | None:
        """Marker name of the header (the file name when the header has none); None when empty."""
    @property
    def receiver_type(self) -> str:
        """Receiver type from the header."""
    @property
    def antenna_type(self) -> str:
        """Antenna type from the header."""
    @property
    def start_time(self) -> str:
        """First epoch; empty when the file has none."""
    @property
    def end_time(self) -> str:
        """Last epoch; empty when the file has none."""
    @property
    def duration_hours(self) -> float:
        """Hours from the first to the last epoch."""
    @property
    def interval(self) -> float:
        """Observation interval from the header, seconds."""
    @property
    def position_lat(self) -> float:
        """Geodetic latitude of the header's approximate position, degrees; 0.0 without one."""
    @property
    def position_lon(self) -> float:
        """Geodetic longitude of the header's approximate position, degrees; 0.0 without one."""
    @property
    def total_observations(self) -> int:
        """C/N0 samples analysed (after the constellation, elevation and C/N0 filters)."""
    @property
    def total_satellites(self) -> int:
        """Distinct satellites in the file (unfiltered)."""
    @property
    def total_epochs(self) -> int:
        """Epochs in the file (unfiltered)."""
    @property
    def epoch_count(self) -> int:
        """The same value as `total_epochs`."""
    @property
    def constellations(self) -> list[str]:
        """Names of the constellations present in the file ("GPS", "GLONASS", "Galileo", "BeiDou",
        "QZSS", "SBAS", "IRNSS"), in no fixed order."""
    @property
    def mean_cn0(self) -> float:
        """Mean C/N0 of all samples, dB-Hz (0.0 without samples)."""
    @property
    def avg_cn0(self) -> float:
        """The same value as `mean_cn0`."""
    @property
    def min_cn0(self) -> float:
        """Lowest C/N0 sample, dB-Hz."""
    @property
    def max_cn0(self) -> float:
        """Highest C/N0 sample, dB-Hz."""
    @property
    def cn0_std_dev(self) -> float:
        """Population standard deviation of the per-epoch mean C/N0, dB-Hz; 0.0 for an empty series."""
    @property
    def anomaly_count(self) -> int:
        """Number of C/N0-drop anomaly events (at most one per epoch)."""
    @property
    def critical_count(self) -> int:
        """Number of "critical" anomaly events."""
    @property
    def jamming_detected(self) -> bool:
        """Critical events at more than 5 % of the epochs, and either one of them spans two or more
        constellations or the mean C/N0 is below 35 dB-Hz."""
    @property
    def spoofing_detected(self) -> bool:
        """Needs navigation data: unexpected / observed satellites per epoch above
        `spoofing_unexpected_threshold` (0.4), more than `spoofing_min_unexpected_count` (8)
        unexpected per epoch, and an unexpected-satellite run longer than 300 s or a share above 0.6."""
    @property
    def interference_detected(self) -> bool:
        """Anomaly events at more than 1 % of the epochs, and at least 3 of them."""
    @property
    def quality_score(self) -> QualityScore:
        """The notebook scoring (a new object on each access)."""
    @property
    def score(self) -> float:
        """`quality_score.overall`, 0 to 100."""
    @property
    def quality_grade(self) -> Literal["A", "B", "C", "D", "F", "N/A"]:
        """First letter of `quality_score.rating`; "N/A" when the analysis had no samples.

        The grade stored in the JSON export (`quality_score.grade`) is computed otherwise and may differ.
        """
    @property
    def summary(self) -> str:
        """The stored interpretation sentence, such as "Good GNSS signal quality", with a warning
        appended when visibility looks wrong; "No data" without samples."""
    @property
    def skyplot_coverage(self) -> float:
        """Per cent of the 648 sky cells of 10° azimuth × 5° elevation that hold samples (about 0.15
        without navigation data, when every sample sits in one cell)."""
    @property
    def skyplot_trace_count(self) -> int:
        """Number of satellite tracks in the skyplot data."""
    @property
    def has_visibility_prediction(self) -> bool:
        """True when the analysis had navigation data."""
    @property
    def visibility_prediction_source(self) -> str:
        """Such as "BRDC Navigation (41 satellites)"; "None" without navigation data; empty when the
        header has no approximate position."""
    @property
    def visibility_confirmation_rate(self) -> float:
        """Per cent of predicted satellites that were observed, mean over epochs, 0 to 100."""
    @property
    def visibility_mean_predicted(self) -> float:
        """Satellites predicted above the mask per epoch, mean."""
    @property
    def visibility_mean_observed(self) -> float:
        """Satellites with a C/N0 value per epoch, mean."""
    @property
    def visibility_mean_missing(self) -> float:
        """Predicted but not observed satellites per epoch, mean."""
    @property
    def visibility_mean_unexpected(self) -> float:
        """Observed but not predicted satellites per epoch, mean."""
    @property
    def visibility_anomaly_count(self) -> int:
        """Runs of epochs with many missing or unexpected satellites."""
    def to_json(self) -> str:
        """The whole result as compact JSON (NaN and infinities as null; map order unspecified)."""
    def to_json_pretty(self) -> str:
        """The whole result as JSON indented by two spaces."""
    def get_anomalies(self) -> list[AnomalyDict]:
        """The C/N0-drop anomaly events in time order."""
    def get_constellation_summary(self, name: str) -> ConstellationSummary | None:
        """Statistics of the constellation named exactly `name` ("GPS", "Galileo", ...), or None."""
    def get_systems(self) -> list[str]:
        """The same list as `constellations`."""
    def get_timeseries_data(self) -> TimeseriesDict:
        """The per-epoch series as float lists."""
    def get_timestamps(self) -> list[str]:
        """Time of each time-series point (one per epoch with samples), ascending."""
    def get_timeseries_cn0(self) -> list[float]:
        """Mean C/N0 of each time-series point, dB-Hz."""
    def get_mean_cn0_series(self) -> list[float]:
        """The same list as `get_timeseries_cn0`."""
    def get_satellite_count_series(self) -> list[int]:
        """Distinct satellites with samples at each time-series point."""
    def get_skyplot_data(self) -> list[SkyplotTraceDict]:
        """One sky track per satellite."""
    def get_satellite_ids(self) -> list[str]:
        """Satellites with samples, in no fixed order."""
    def get_anomaly_timestamps(self) -> list[str]:
        """Epoch of each anomaly event, in time order."""
    def get_anomaly_severities(self) -> list[Severity]:
        """Severity of each anomaly event."""
    def get_anomaly_cn0_drops(self) -> list[float]:
        """Largest drop of each anomaly event, dB."""
    def get_frequently_missing_satellites(self) -> list[str]:
        """Satellites predicted but missing at more than a quarter of the epochs (obstruction?)."""
    def get_frequently_unexpected_satellites(self) -> list[str]:
        """Satellites observed but not predicted at more than a quarter of the epochs (spoofing?)."""
    def get_visibility_anomaly_types(self) -> list[Literal["missing_satellites", "unexpected_satellites"]]:
        """Kind of each visibility anomaly run."""
    def get_visibility_anomaly_descriptions(self) -> list[str]:
        """Such as "7 satellites missing for 120s - possible jamming or obstruction"."""
    def visibility_debug(self) -> dict[str, dict[str, str]]:
        """Visibility figures as text, {} without navigation data.

        Per constellation name ("GPS", "GLONASS", "Galileo", "BeiDou"): "predicted", "observed",
        "confirmation_rate" (such as "88.9%"), "missing_count", "unexpected_count", "missing_sats",
        "unexpected_sats" (joined with ", "). Under "_overall": "source", "mean_predicted",
        "mean_observed", "mean_missing", "mean_unexpected", "confirmation_rate".
        """
    def __repr__(self) -> str:
        """Such as "AnalysisResult(observations=21563, satellites=20, epochs=360, mean_cn0=42.5, anomalies=0)"."""


def read_rinex_obs(path: str) -> RinexObsData:
    """Reads a RINEX observation file (2.x, 3.x, 4.x; plain, gzip, Unix compress or compact RINEX).

    Args:
        path: File path; its last component is the marker name when the header has none.

    Raises:
        OSError: The file cannot be read, such as "No such file or directory (os error 2)".
        ValueError: Not a RINEX observation file, such as "No END OF HEADER found", or a damaged
            archive ("gzip: truncated stream").
    """

def read_rinex_obs_bytes(data: bytes, filename: str) -> RinexObsData:
    """Reads a RINEX observation file from its bytes.

    Args:
        data: The file's bytes (plain or archived).
        filename: Marker name when the header has none.

    Raises:
        ValueError: Not a RINEX observation file, or a damaged archive.
    """

def parse_rinex(data: bytes, filename: str) -> RinexObsData:
    """The same as `read_rinex_obs_bytes`."""

def read_navigation(path: str) -> NavigationData:
    """Reads a RINEX navigation file (2.x, 3.x, 4.x; plain or archived).

    Raises:
        OSError: The file cannot be read.
        ValueError: Not a RINEX navigation file ("No END OF HEADER found"), or a damaged archive.
    """

def read_navigation_bytes(data: bytes) -> NavigationData:
    """Reads a RINEX navigation file from its bytes.

    Raises:
        ValueError: Not a RINEX navigation file, or a damaged archive.
    """

def analyze_cn0(
    obs_path: str,
    nav_path: str | None = None,
    min_elevation: float = 5.0,
    systems: Sequence[str] | None = None,
) -> AnalysisResult:
    """Reads and analyses a recording in one call, with the thresholds 3.0, 6.0 and 10.0 dB.

    Args:
        obs_path: Observation file.
        nav_path: Navigation file for satellite positions and the visibility check, or None.
        min_elevation: Elevation mask, degrees (without navigation data every satellite counts as
            45° high).
        systems: Constellations by first letter ("GPS" selects "G"); None means G, R, E and C.
            A bare `str` is refused.

    Raises:
        TypeError: An argument of the wrong type, checked before any file is read.
        OSError: "Cannot read obs file: ..." or "Cannot read nav file: ...".
        ValueError: A file is not readable RINEX.
    """

def version() -> str:
    """The module version, "0.4.2"."""

def download_tle() -> str:
    """Downloads the GNSS element-set catalogue from CelesTrak (three sources in turn, 10 s each).

    Runs `curl` (PowerShell on Windows); blocks the calling thread meanwhile.

    Raises:
        OSError: "Failed to download TLE from all sources".
    """

def parse_tle_content(content: str) -> int:
    """Number of GPS, Galileo and QZSS element sets in a three-line catalogue text, 0 or more."""
