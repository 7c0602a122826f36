// Any bytes through the observation reader, then the record queries over what it built.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rinex/obs_data.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    auto parsed = vardoln::parse_observation_file(bytes, "fuzz.obs");
    if (auto* obs = std::get_if<vardoln::RinexObsData>(&parsed)) {
        (void)vardoln::unique_satellites(*obs);
        (void)vardoln::satellites_by_system(*obs);
        for (const auto& epoch : obs->epochs)
            for (const auto& satellite : obs->satellites_of(epoch))
                for (const auto& value : obs->values_of(satellite)) (void)obs->code_of(value);
    }
    return 0;
}
