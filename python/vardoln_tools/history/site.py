"""The network dashboard of a station history: each station's trends turned into the views the
dashboard draws, and the site written, redrawing only the stations whose history changed."""

from __future__ import annotations

import math
import os

from ..render import dashboard
from .store import Store
from .trends import MIN_BAND_DAYS, StationTrends, date_of, describe_metric, metric_order, station_trends


def station_view(store: Store, trends: StationTrends) -> dashboard.StationView:
    series = []
    for entry in trends.series:
        _, unit, higher = describe_metric(entry.metric)
        # A band of fewer days than the flag needs is not drawn nor used to colour: too rough.
        rough = [days < MIN_BAND_DAYS for days in entry.band_days]
        series.append(dashboard.Series(
            metric=entry.metric, label=entry.label, unit=unit, days=entry.days, values=entry.values,
            band_mean=tuple(math.nan if no else mean for no, mean in zip(rough, entry.band_mean)),
            band_sigma=tuple(math.nan if no else sigma for no, sigma in zip(rough, entry.band_sigma)),
            flagged=entry.flagged,
            change_points=tuple(dashboard.ChangeMark(point.day, point.confidence, point.mean_before,
                                                     point.mean_after, point.causes)
                                for point in entry.change_points),
            higher_is_better=higher))
    reports = tuple((date_of(day), path) for day, path in store.query(
        "SELECT day, report FROM recordings WHERE station = ? AND report IS NOT NULL ORDER BY start_ns",
        (trends.station,)))
    return dashboard.StationView(
        station=trends.station, identifier=trends.identifier, marker_name=trends.marker_name,
        last_day=trends.last_day, series=tuple(series),
        equipment_changes=tuple((change.day, change.text) for change in trends.changes),
        event_days=trends.event_days, reports=reports,
        # Every write to a station raises its revision: the page is redrawn exactly when its
        # history changed.
        fingerprint=f"revision {trends.revision}")


def write_site(store: Store, out_dir: str | os.PathLike[str], title: str = "Station network") -> dashboard.DashboardResult:
    """The dashboard of every station of the store, written into out_dir (see render.dashboard)."""
    views = [station_view(store, station_trends(store, station)) for station in store.stations()]
    return dashboard.write_dashboard(views, out_dir, title=title, column_key=metric_order)
