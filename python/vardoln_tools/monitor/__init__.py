"""Live monitoring of RTCM 3 streams: `Monitor` follows one or many sources at once, judges every
epoch as it arrives (alarms when a detector event starts and ends, outages by stream time) and
every window of the stream with the same analysis, events, verdicts and grade as `analyze`."""

from .live import Monitor, StreamSpec, gps_ms_text, read_sources_file

__all__ = ["Monitor", "StreamSpec", "gps_ms_text", "read_sources_file"]
