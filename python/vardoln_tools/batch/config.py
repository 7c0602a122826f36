"""The analysis settings of a batch as plain values, for workers in other processes and for the
settings file beside an output."""

from __future__ import annotations

from collections.abc import Mapping
from typing import TYPE_CHECKING, Any

from ..judge import settings

if TYPE_CHECKING:
    import vardoln_cn0


def config_to_dict(config: vardoln_cn0.AnalysisConfig) -> dict[str, Any]:
    """The stored attributes of an AnalysisConfig (settings.config_fields), thresholds as stored."""
    from .. import _native

    record = _native.config_record(config)
    return {name: record[name] for name in settings.config_fields()}


def config_from_dict(fields: Mapping[str, Any]) -> vardoln_cn0.AnalysisConfig:
    """An AnalysisConfig storing exactly the values of config_to_dict (made natively: no threshold
    is scaled on the way in)."""
    from .. import _native

    return _native.analysis_config({name: fields[name] for name in settings.config_fields() if name in fields})
