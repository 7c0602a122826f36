"""Where live data come from: RTCM 3 streams from an NTRIP caster (`ntrip`), a TCP server, a file
replayed, or standard input, named by one address text each (`parse_source`). Bytes only: nothing
here decodes a stream; the layers above do.
"""
