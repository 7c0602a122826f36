// Tallies of the costly steps of the core, so that tests can tell how often a command read a
// file, parsed one, computed satellite geometry or ran an analysis. Process-wide, atomic, never
// reset: a caller compares two snapshots.
#pragma once

#include <atomic>
#include <cstdint>

namespace vardoln {

struct CoreCounters {
    std::atomic<std::uint64_t> files_read{0};       // files opened by the core's whole-file reader
    std::atomic<std::uint64_t> parses{0};           // observation and navigation files parsed
    std::atomic<std::uint64_t> geometry_passes{0};  // satellite positions computed for a whole recording
    std::atomic<std::uint64_t> analyses{0};         // analysis runs
};

// The tallies of this copy of the core (each extension links its own).
CoreCounters& core_counters() noexcept;

inline void count(std::atomic<std::uint64_t>& counter) noexcept {
    counter.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace vardoln
