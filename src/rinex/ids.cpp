#include "rinex/ids.hpp"

#include "rinex/numbers.hpp"

namespace vardoln {

std::optional<GnssSystem> system_from_letter(char letter) noexcept {
    switch (letter) {
        case 'G': return GnssSystem::Gps;
        case 'R': return GnssSystem::Glonass;
        case 'E': return GnssSystem::Galileo;
        case 'J': return GnssSystem::Qzss;
        case 'C': return GnssSystem::Beidou;
        case 'I': return GnssSystem::Irnss;
        case 'S': return GnssSystem::Sbas;
        default: return std::nullopt;
    }
}

std::string_view system_display_name(GnssSystem system) noexcept {
    switch (system) {
        case GnssSystem::Gps: return "GPS";
        case GnssSystem::Glonass: return "GLONASS";
        case GnssSystem::Galileo: return "Galileo";
        case GnssSystem::Beidou: return "BeiDou";
        case GnssSystem::Qzss: return "QZSS";
        case GnssSystem::Irnss: return "IRNSS";
        case GnssSystem::Sbas: return "SBAS";
    }
    return "";
}

std::string rinex2_satellite_id(std::string_view field) {
    if (field.size() == 3) return std::string(field);
    return satellite_key('G', read_u32(field).value_or(0));
}

std::string satellite_key(char letter, unsigned number) {
    std::string key(1, letter);
    if (number < 10) key += '0';
    key += std::to_string(number);
    return key;
}

}  // namespace vardoln
