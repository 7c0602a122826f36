"""The lowest layer of the tools: a recording and its navigation data as tables.

Observation arrays and satellite geometry (`observations`), C/N0 per signal, navigation coverage
and completeness (`signals`), predicted against observed satellites (`visibility`), what a file
is and the wording of a file in the wrong role (`roles`), and a recording loaded once with its
navigation files merged (`recording`). Nothing here judges a recording; the layers above do.
"""
