#include "rinex/counters.hpp"

namespace vardoln {

CoreCounters& core_counters() noexcept {
    static CoreCounters counters;
    return counters;
}

}  // namespace vardoln
