"""The judging layer: one recording judged as every output shows it.

The analysis settings of every command (`settings`), which satellites and signals count and the
facts of a recording (`selection`), the assessment with its verdicts, events and health grade
(`assessment`), and the station quality control beside it (`quality_control`). Built on the
tables below; the render, batch and command layers read what it returns.
"""
