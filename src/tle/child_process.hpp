// Running a helper program with captured output: the one place with platform calls.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vardoln {

struct ChildLimits {
    std::size_t max_output_bytes = 16u << 20;  // standard output and standard error, each
    int deadline_seconds = 60;                   // wall time before the child is killed
};

struct ChildRun {
    enum class Status {
        Exited,          // ran to its end; exit_code is valid
        NotStarted,      // not found on the search path, or could not be started
        OutputTooLarge,  // killed after writing more than the limit
        TimedOut,        // killed at the deadline
        Abnormal,        // ended by a signal, or could not be waited for
    };
    Status status = Status::NotStarted;
    int exit_code = -1;
    std::string output;  // standard output; standard error is read and discarded
};

// Starts `program`, found through the executable search path, with `arguments` and no shell;
// standard input is empty. Both output pipes are drained together so that a child filling
// one of them cannot stall, and the child is always waited for before returning.
ChildRun run_child_process(std::string_view program, const std::vector<std::string>& arguments,
                           const ChildLimits& limits = {});

}  // namespace vardoln
