"""The analysis settings of a batch as plain values, for workers in other processes and for the
settings file beside an output."""

from __future__ import annotations

from collections.abc import Mapping
from typing import TYPE_CHECKING, Any

from ..judge import settings

if TYPE_CHECKING:
    import vardoln_cn0


def config_to_dict(config: vardoln_cn0.AnalysisConfig) -> dict[str, Any]:
    """The stored attributes of an AnalysisConfig (settings.config_fields), thresholds already scaled."""
    fields = {name: getattr(config, name) for name in settings.config_fields()}
    if fields["systems"] is not None:
        fields["systems"] = list(fields["systems"])
    return fields


def config_from_dict(fields: Mapping[str, Any]) -> vardoln_cn0.AnalysisConfig:
    """An AnalysisConfig whose attributes equal the stored ones of config_to_dict.

    The constructor scales the low and high thresholds by 1 - 0.5 x sensitivity and stores
    interference_threshold_db as the critical threshold, so the stored values go back in unscaled form;
    when no given value scales exactly to the stored one, sensitivity 0 carries the thresholds over
    unchanged (the analysis settings stay equal; only the shown sensitivity differs)."""
    import vardoln_cn0

    keywords = {name: fields[name] for name in settings.config_fields()}
    low, high = keywords["anomaly_threshold_low"], keywords["anomaly_threshold_high"]
    sensitivity = keywords["anomaly_sensitivity"]
    factor = 1.0 - 0.5 * sensitivity
    given_low, given_high = (low / factor, high / factor) if factor != 0.0 else (low, high)
    if given_low * factor != low or given_high * factor != high:
        sensitivity, given_low, given_high = 0.0, low, high
    critical = keywords["anomaly_threshold_critical"]
    keywords.update(anomaly_threshold_low=given_low, anomaly_threshold_high=given_high,
                    anomaly_sensitivity=sensitivity, interference_threshold_db=critical)
    return vardoln_cn0.AnalysisConfig(**keywords)

