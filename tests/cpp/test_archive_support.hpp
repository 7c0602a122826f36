// Helpers for the archive tests and benchmark: whole files, in-memory gzip and Unix compress
// writers, and a record-by-record comparison of two observation files.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace vardoln::archive_testing
