// Shared by the C++ benchmarks: whole-file reading and CPU-time measurement.
#pragma once

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>

namespace bench {

inline bool read_file(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// CPU time of this thread: on a shared machine the wall clock also counts the time other
// processes held the core, which says nothing about the code measured.
inline double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The fastest of several rounds: the figure least disturbed by the rest of the machine.
template <typename Work>
double best_seconds(int rounds, Work&& work) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const double start = thread_seconds();
        work();
        best = std::min(best, thread_seconds() - start);
    }
    return best;
}

}  // namespace bench
