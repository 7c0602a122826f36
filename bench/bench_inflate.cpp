// Which inflate library the gzip layer should use: zlib, libdeflate and (when installed) ISA-L
// on the same gzip files, a day of RINEX 3 text and its compact RINEX form, each output checked
// against the original bytes. Figures are MB/s of output (thread CPU time, best of the rounds)
// and the ratio to zlib in the same run; the last line times the gzip layer as the readers use it.
//
//   bench/run, or: build/bench/bench/bench_inflate [rounds]
#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <variant>

#if VARDOLN_BENCH_LIBDEFLATE
#include <libdeflate.h>
#endif
#if VARDOLN_BENCH_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include "../tests/cpp/test_archive_support.hpp"
#include "archive/archive.hpp"
#include "bench_support.hpp"

namespace {

using bench::best_seconds;

// Each library inflates one gzip member into a buffer of the known size; true when the output
// fills it exactly.
bool zlib_inflate(const std::string& gz, std::string& out) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
    stream.avail_in = static_cast<uInt>(gz.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&stream, Z_FINISH);
    const bool ok = status == Z_STREAM_END && stream.total_out == out.size();
    inflateEnd(&stream);
    return ok;
}

#if VARDOLN_BENCH_LIBDEFLATE
bool libdeflate_inflate(const std::string& gz, std::string& out) {
    const std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> decompressor(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    std::size_t written = 0;
    return decompressor && libdeflate_gzip_decompress(decompressor.get(), gz.data(), gz.size(), out.data(),
                                                      out.size(), &written) == LIBDEFLATE_SUCCESS &&
           written == out.size();
}
#endif

#if VARDOLN_BENCH_ISAL
bool isal_inflate_gzip(const std::string& gz, std::string& out) {
    const auto state = std::make_unique<inflate_state>();
    isal_inflate_init(state.get());
    state->crc_flag = ISAL_GZIP;
    state->next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(gz.data()));
    state->avail_in = static_cast<std::uint32_t>(gz.size());
    state->next_out = reinterpret_cast<std::uint8_t*>(out.data());
    state->avail_out = static_cast<std::uint32_t>(out.size());
    return isal_inflate(state.get()) == ISAL_DECOMP_OK && state->block_state == ISAL_BLOCK_FINISH &&
           state->total_out == out.size();
}
#endif

struct Library {
    const char* name;
    bool (*run)(const std::string&, std::string&);
};

constexpr Library kLibraries[] = {
    {"zlib", zlib_inflate},
#if VARDOLN_BENCH_LIBDEFLATE
    {"libdeflate", libdeflate_inflate},
#endif
#if VARDOLN_BENCH_ISAL
    {"ISA-L", isal_inflate_gzip},
#endif
};

bool measure(const char* label, const std::string& original, int rounds) {
    const std::string gz = vardoln::archive_testing::gzip_member(original);
    std::printf("%s: %.1f MB, gzip -6 %.1f MB\n", label, static_cast<double>(original.size()) / 1e6,
                static_cast<double>(gz.size()) / 1e6);
    const double megabytes = static_cast<double>(original.size()) / 1e6;
    bool ok = true;
    double zlib_seconds = 0.0;
    for (const Library& library : kLibraries) {
        std::string out(original.size(), '\0');
        bool right = true;
        const double seconds = best_seconds(rounds, [&] { right = library.run(gz, out) && out == original; });
        if (zlib_seconds == 0.0) zlib_seconds = seconds;
        std::printf("  %-12s %8.1f MB/s  %5.2fx zlib%s\n", library.name, megabytes / seconds, zlib_seconds / seconds,
                    right ? "" : "  WRONG OUTPUT");
        ok &= right;
    }
    vardoln::ArchiveResult result;
    const double seconds = best_seconds(rounds, [&] { result = vardoln::inflate_gzip(gz, std::size_t{1} << 34); });
    const auto* text = std::get_if<std::string>(&result);
    const bool right = text != nullptr && *text == original;
    std::printf("  %-12s %8.1f MB/s  %5.2fx zlib%s\n", "gzip layer", megabytes / seconds, zlib_seconds / seconds,
                right ? "" : "  WRONG OUTPUT");
    return ok && right;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string data = VARDOLN_SHARED_DATA;
    const auto plain = vardoln::archive_testing::read_file(data + "/obs3/ESBC00DNK_R_20201770000_01D_30S_MO.rnx");
    const auto compact = vardoln::archive_testing::read_file(data + "/crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx");
    if (!plain || !compact) {
        std::printf("shared data not present\n");
        return 0;
    }
#if !VARDOLN_BENCH_ISAL
    std::printf("(ISA-L not installed: libisal-dev adds it to the comparison)\n");
#endif
    bool ok = measure("ESBC00DNK day, RINEX 3 text (.rnx.gz)", *plain, rounds);
    ok &= measure("ESBC00DNK day, compact RINEX (.crx.gz)", *compact, rounds);
    std::printf("%s\n", ok ? "all outputs checked" : "CHECK FAILED");
    return ok ? 0 : 1;
}
