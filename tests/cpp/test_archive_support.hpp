// Helpers for the archive tests and benchmark: whole files, in-memory gzip and Unix compress
// writers, and a record-by-record comparison of two observation files.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "archive/archive.hpp"
#include "archive/readers.hpp"
#include "rinex/obs_data.hpp"

namespace vardoln::archive_testing {

inline std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One gzip member of `text` (zlib's deflate with the gzip wrapper).
inline std::string gzip_member(std::string_view text, int level = 6) {
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Unix compress output in block mode: LZW with growing code width, the width change and
// table reset aligned to groups of eight codes as the historical program writes them. The
// table is reset whenever it is full, which the format allows at any time.
inline std::string unix_compress(std::string_view text, int max_bits = 16) {
    std::string out{"\x1F\x9D", 2};
    out.push_back(static_cast<char>(0x80 | max_bits));
    std::uint64_t bit_buffer = 0;
    int bit_count = 0;
    int bits = 9;
    std::uint64_t codes_in_segment = 0;
    const auto flush_bits = [&] {
        while (bit_count >= 8) {
            out.push_back(static_cast<char>(bit_buffer & 0xFF));
            bit_buffer >>= 8;
            bit_count -= 8;
        }
    };
    const auto put = [&](std::uint32_t code) {
        bit_buffer |= std::uint64_t{code} << bit_count;
        bit_count += bits;
        ++codes_in_segment;
        flush_bits();
    };
    // Pads the current group of eight codes with zero bits.
    const auto align = [&] {
        while (codes_in_segment % 8 != 0) put(0);
        codes_in_segment = 0;
    };
    std::vector<std::int32_t> table(std::size_t{1} << (max_bits + 8), -1);  // (prefix, byte) -> code
    std::uint32_t free_entry = 257;
    std::uint32_t width_limit = 511;
    const std::uint32_t table_end = 1u << max_bits;
    if (text.empty()) return out;
    std::uint32_t current = static_cast<unsigned char>(text[0]);
    for (std::size_t i = 1; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t key = (std::size_t{current} << 8) | byte;
        if (table[key] >= 0) {
            current = static_cast<std::uint32_t>(table[key]);
            continue;
        }
        put(current);
        // The reader adds each entry one code later than the writer, so the width follows
        // the count of entries before this code's own.
        if (free_entry > width_limit && bits < max_bits) {
            align();
            ++bits;
            width_limit = bits == max_bits ? table_end : (1u << bits) - 1;
        }
        if (free_entry < table_end) {
            table[key] = static_cast<std::int32_t>(free_entry++);
        } else {
            put(256);
            align();
            std::fill(table.begin(), table.end(), -1);
            free_entry = 257;
            bits = 9;
            width_limit = 511;
        }
        current = byte;
    }
    put(current);
    if (bit_count > 0) out.push_back(static_cast<char>(bit_buffer & 0xFF));
    return out;
}

// The first difference between two records, or empty when they hold the same header values
// and the same epochs, satellites, codes, values and indicators. `epoch_limit` compares only
// the first epochs of each.
inline std::string first_difference(const RinexObsData& a, const RinexObsData& b,
                                    std::size_t epoch_limit = static_cast<std::size_t>(-1)) {
    std::ostringstream why;
    if (a.version != b.version) return "version";
    if (a.marker_name != b.marker_name) return "marker name";
    if (a.receiver_type != b.receiver_type || a.antenna_type != b.antenna_type) return "receiver or antenna";
    if (a.approx_position != b.approx_position || a.interval != b.interval) return "position or interval";
    if (a.glonass_slots != b.glonass_slots) return "glonass slots";
    if (a.obs_types.size() != b.obs_types.size()) return "obs type lists";
    for (std::size_t i = 0; i < a.obs_types.size(); ++i) {
        if (a.obs_types[i].system != b.obs_types[i].system || a.obs_types[i].codes != b.obs_types[i].codes) {
            return "obs types of " + a.obs_types[i].system;
        }
    }
    const std::size_t epochs = std::min({a.epochs.size(), b.epochs.size(), epoch_limit});
    if (epoch_limit == static_cast<std::size_t>(-1) && a.epochs.size() != b.epochs.size()) {
        why << "epoch count " << a.epochs.size() << " vs " << b.epochs.size();
        return why.str();
    }
    if (epochs < epoch_limit && epoch_limit != static_cast<std::size_t>(-1)) return "fewer epochs than asked";
    for (std::size_t e = 0; e < epochs; ++e) {
        const ObservationEpoch& ea = a.epochs[e];
        const ObservationEpoch& eb = b.epochs[e];
        why << "epoch " << e << ": ";
        if (ea.time.year != eb.time.year || ea.time.month != eb.time.month || ea.time.day != eb.time.day ||
            ea.time.hour != eb.time.hour || ea.time.minute != eb.time.minute || ea.time.second != eb.time.second) {
            return why.str() + "time";
        }
        if (ea.flag != eb.flag) return why.str() + "flag";
        const auto sa = a.satellites_of(ea);
        const auto sb = b.satellites_of(eb);
        if (sa.size() != sb.size()) return why.str() + "satellite count";
        for (std::size_t s = 0; s < sa.size(); ++s) {
            if (a.satellite_id(sa[s]) != b.satellite_id(sb[s])) return why.str() + "satellite " + a.satellite_id(sa[s]);
            const auto va = a.values_of(sa[s]);
            const auto vb = b.values_of(sb[s]);
            const std::string where = why.str() + a.satellite_id(sa[s]) + " ";
            if (va.size() != vb.size()) return where + "value count";
            for (std::size_t v = 0; v < va.size(); ++v) {
                if (a.code_of(va[v]) != b.code_of(vb[v])) return where + "code " + a.code_of(va[v]);
                const bool same_value =
                    va[v].value == vb[v].value || (std::isnan(va[v].value) && std::isnan(vb[v].value));
                if (!same_value || va[v].lli != vb[v].lli || va[v].ssi != vb[v].ssi) {
                    return where + a.code_of(va[v]) + " value or indicators";
                }
            }
        }
        why.str("");
    }
    return {};
}

// The first difference between two records held exactly alike: every header field, the
// satellite and code tables in order, and the flat epoch, entry and value vectors bit for bit.
// Empty when there is none.
inline std::string exact_difference(const RinexObsData& a, const RinexObsData& b) {
    const auto same_bits = [](double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    if (!same_bits(a.version, b.version) || !same_bits(a.interval, b.interval)) return "version or interval";
    if (a.marker_name != b.marker_name || a.receiver_type != b.receiver_type || a.antenna_type != b.antenna_type) {
        return "marker, receiver or antenna";
    }
    if (a.approx_position.has_value() != b.approx_position.has_value()) return "position";
    if (a.approx_position) {
        for (std::size_t i = 0; i < 3; ++i) {
            if (!same_bits((*a.approx_position)[i], (*b.approx_position)[i])) return "position";
        }
    }
    if (a.obs_types.size() != b.obs_types.size()) return "obs type lists";
    for (std::size_t i = 0; i < a.obs_types.size(); ++i) {
        if (a.obs_types[i].system != b.obs_types[i].system || a.obs_types[i].codes != b.obs_types[i].codes) {
            return "obs types " + std::to_string(i);
        }
    }
    if (a.glonass_slots != b.glonass_slots) return "glonass slots";
    const auto same_time = [&](const EpochTime& x, const EpochTime& y) {
        return x.year == y.year && x.month == y.month && x.day == y.day && x.hour == y.hour && x.minute == y.minute &&
               same_bits(x.second, y.second);
    };
    if (a.cut_epoch.has_value() != b.cut_epoch.has_value()) return "cut epoch";
    if (a.cut_epoch) {
        const std::optional<EpochTime>& x = a.cut_epoch->last_complete;
        const std::optional<EpochTime>& y = b.cut_epoch->last_complete;
        if (!same_time(a.cut_epoch->time, b.cut_epoch->time) || x.has_value() != y.has_value() ||
            (x && !same_time(*x, *y))) {
            return "cut epoch";
        }
    }
    if (a.satellite_ids != b.satellite_ids) return "satellite table";
    if (a.codes != b.codes) return "code table";
    if (a.epochs.size() != b.epochs.size()) {
        return "epoch count " + std::to_string(a.epochs.size()) + " vs " + std::to_string(b.epochs.size());
    }
    for (std::size_t e = 0; e < a.epochs.size(); ++e) {
        const ObservationEpoch& x = a.epochs[e];
        const ObservationEpoch& y = b.epochs[e];
        if (x.time.year != y.time.year || x.time.month != y.time.month || x.time.day != y.time.day ||
            x.time.hour != y.time.hour || x.time.minute != y.time.minute || !same_bits(x.time.second, y.time.second) ||
            x.flag != y.flag || x.first_satellite != y.first_satellite || x.satellite_count != y.satellite_count) {
            return "epoch " + std::to_string(e);
        }
    }
    if (a.satellite_entries.size() != b.satellite_entries.size()) return "satellite entry count";
    for (std::size_t i = 0; i < a.satellite_entries.size(); ++i) {
        const SatelliteObservations& x = a.satellite_entries[i];
        const SatelliteObservations& y = b.satellite_entries[i];
        if (x.satellite != y.satellite || x.first_value != y.first_value || x.value_count != y.value_count) {
            return "satellite entry " + std::to_string(i);
        }
    }
    if (a.values.size() != b.values.size()) {
        return "value count " + std::to_string(a.values.size()) + " vs " + std::to_string(b.values.size());
    }
    for (std::size_t i = 0; i < a.values.size(); ++i) {
        const ObservationValue& x = a.values[i];
        const ObservationValue& y = b.values[i];
        if (!same_bits(x.value, y.value) || x.lli != y.lli || x.ssi != y.ssi || x.code != y.code) {
            return "value " + std::to_string(i);
        }
    }
    return {};
}

// Compact RINEX through both paths: decoded straight into a record, and expanded to text that
// the reader parses. Empty when they agree: the direct path covers the input and gives the
// very record of the text path, or leaves it to the text path. `covered` tells which.
inline std::string direct_path_difference(std::string_view compact, std::size_t cap, bool& covered) {
    std::optional<RinexObsData> direct = read_crinex_observations(compact, cap, "compact.crx");
    covered = direct.has_value();
    if (!direct) return {};
    ArchiveResult text = expand_crinex(compact, cap);
    if (auto* error = std::get_if<ArchiveError>(&text)) return "text path fails: " + error->message;
    auto parsed = parse_observation_file(std::get<std::string>(text), "compact.crx");
    if (auto* error = std::get_if<ParseError>(&parsed)) return "text path fails: " + error->message;
    return exact_difference(*direct, std::get<RinexObsData>(parsed));
}

}  // namespace vardoln::archive_testing
