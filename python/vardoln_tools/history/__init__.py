"""The station history: every recording and live window kept in an SQLite store, station-days
rolled up from them, trends against each station's own past, and the network dashboard."""

from .identity import Identity, station_identity
from .store import Store, StoreError, open_store

__all__ = ["Identity", "Store", "StoreError", "open_store", "station_identity"]
