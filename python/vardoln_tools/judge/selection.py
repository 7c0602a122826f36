"""An analysis as the tools show it: only the constellations selected, and what the reader noticed.

The analysis takes its C/N0 samples from the selected constellations only, but its visibility check
(predicted against observed satellites) counts every constellation of the files: a recording
analysed without GLONASS would still show every GLONASS satellite as unexpected. `SelectedResult`
answers as the analysis's result does, except that its visibility figures and the spoofing verdict
are those of the selected constellations, computed by the analysis's own steps over them
(`visibility.visibility_summary`), and that its constellations are the selected ones. The stored
quality score and the JSON export stay the analysis's own (`module_result`).
"""

from __future__ import annotations

from collections.abc import Iterable, Mapping
from typing import TYPE_CHECKING, Any

from ..tables._common import SYSTEM_NAMES

if TYPE_CHECKING:
    import vardoln_cn0

    from ..tables.visibility import VisibilitySummary

# Constellation letters by the names the analysis gives them.
_LETTERS = {name: letter for letter, name in SYSTEM_NAMES.items()}


class SelectedResult:
    """The analysis result of a recording seen through a constellation selection (see the module)."""

    def __init__(self, result: vardoln_cn0.AnalysisResult, systems: Iterable[str],
                 visibility: VisibilitySummary | None) -> None:
        self.module_result = result
        self._letters = frozenset(systems)
        self._visibility = visibility

    def __getattr__(self, name: str) -> Any:
        # Only names this class does not answer itself come here; module_result is set first,
        # and a copy being built (which has none yet) must not look for it here again.
        if name == "module_result":
            raise AttributeError(name)
        return getattr(self.module_result, name)

    @property
    def constellations(self) -> list[str]:
        """The constellations of the record that were selected (or hold samples, which only a
        selected one can)."""
        kept = []
        for name in self.module_result.constellations:
            entry = self.module_result.get_constellation_summary(name)
            sampled = entry is not None and entry["observation_count"] != "0"
            if _LETTERS.get(name, name) in self._letters or sampled:
                kept.append(name)
        return kept

    @property
    def spoofing_detected(self) -> bool:
        return self.module_result.spoofing_detected if self._visibility is None else self._visibility.spoofing

    @property
    def visibility_confirmation_rate(self) -> float:
        v = self._visibility
        return self.module_result.visibility_confirmation_rate if v is None else v.confirmation_rate

    @property
    def visibility_mean_predicted(self) -> float:
        v = self._visibility
        return self.module_result.visibility_mean_predicted if v is None else v.mean_predicted

    @property
    def visibility_mean_observed(self) -> float:
        v = self._visibility
        return self.module_result.visibility_mean_observed if v is None else v.mean_observed

    @property
    def visibility_mean_missing(self) -> float:
        v = self._visibility
        return self.module_result.visibility_mean_missing if v is None else v.mean_missing

    @property
    def visibility_mean_unexpected(self) -> float:
        v = self._visibility
        return self.module_result.visibility_mean_unexpected if v is None else v.mean_unexpected

    @property
    def visibility_anomaly_count(self) -> int:
        v = self._visibility
        return self.module_result.visibility_anomaly_count if v is None else len(v.anomaly_types)

    def get_frequently_missing_satellites(self) -> list[str]:
        v = self._visibility
        return self.module_result.get_frequently_missing_satellites() if v is None else list(v.frequently_missing)

    def get_frequently_unexpected_satellites(self) -> list[str]:
        v = self._visibility
        return (self.module_result.get_frequently_unexpected_satellites() if v is None
                else list(v.frequently_unexpected))

    def get_visibility_anomaly_types(self) -> list[str]:
        v = self._visibility
        return list(self.module_result.get_visibility_anomaly_types()) if v is None else list(v.anomaly_types)

    def get_visibility_anomaly_descriptions(self) -> list[str]:
        v = self._visibility
        return self.module_result.get_visibility_anomaly_descriptions() if v is None else list(v.anomaly_descriptions)


def module_result(result: vardoln_cn0.AnalysisResult) -> vardoln_cn0.AnalysisResult:
    """The analysis's own result behind a result shown under a selection (the result itself
    otherwise): what its stored score was computed from."""
    shown: object = result
    return shown.module_result if isinstance(shown, SelectedResult) else result


def recording_facts(obs_path: str, known: Mapping[Any, Any] | None = None) -> Mapping[Any, Any]:
    """The facts every table carries in its attrs (`known`, when a table of the recording was
    already made), else read from the recording."""
    if known is not None:
        return known
    from .. import _native
    from ..tables._common import attrs

    return attrs(_native.facts(obs_path), obs_path, None)


def cut_epoch_warning(facts: Mapping[Any, Any]) -> str | None:
    """The warning of a recording whose file ends inside its last epoch, naming the last complete
    one; None for a whole file."""
    cut = facts.get("cut_epoch")
    if cut is None:
        return None
    last = facts.get("last_complete_epoch")
    before = f"the last complete epoch is {last}" if last is not None else "no epoch before it is complete"
    return f"the file ends inside the epoch {cut} (it holds less than that epoch announces); {before}"
