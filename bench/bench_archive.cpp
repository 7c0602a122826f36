// Archive layers: MB/s of output for CRINEX expansion, gzip inflation and Unix compress
// decoding of a day of 30 s observations, each checked against the plain text, with the
// observation reader on the same text as the baseline of this run.
#include <chrono>
#include <cstdio>
#include <string>
#include <variant>

#include "../tests/cpp/test_archive_support.hpp"
#include "archive/archive.hpp"
#include "rinex/obs_data.hpp"

namespace {

using namespace vardoln;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 3;

double megabytes(std::size_t bytes) { return static_cast<double>(bytes) / 1e6; }

// Best of a few rounds, in seconds.
template <typename Run>
double best_seconds(Run&& run) {
    double best = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

bool report(const char* name, const ArchiveResult& result, const std::string& expected, double seconds,
            double baseline_seconds) {
    if (const auto* error = std::get_if<ArchiveError>(&result)) {
        std::printf("%-22s FAILED: %s\n", name, error->message.c_str());
        return false;
    }
    const std::string& text = std::get<std::string>(result);
    const bool same = expected.empty() || text == expected;
    std::printf("%-22s %8.1f MB out  %7.1f MB/s  %5.2fx reader time%s\n", name, megabytes(text.size()),
                megabytes(text.size()) / seconds, seconds / baseline_seconds, same ? "" : "  MISMATCH");
    return same;
}

}  // namespace

int main() {
    const std::string data = VARDOLN_SHARED_DATA;
    const auto compact = archive_testing::read_file(data + "/crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx");
    const auto plain = archive_testing::read_file(data + "/obs3/ESBC00DNK_R_20201770000_01D_30S_MO.rnx");
    if (!compact || !plain) {
        std::printf("shared data not present\n");
        return 0;
    }
    const std::size_t cap = std::size_t{1} << 34;

    std::size_t epochs = 0;
    const double reader = best_seconds([&] {
        auto parsed = parse_observation_file(*plain, "ESBC00DNK_R_20201770000_01D_30S_MO.rnx");
        epochs = std::get<RinexObsData>(parsed).epochs.size();
    });
    std::printf("%-22s %8.1f MB in   %7.1f MB/s  (baseline, %zu epochs)\n", "observation reader", megabytes(plain->size()),
                megabytes(plain->size()) / reader, epochs);

    bool ok = true;
    ArchiveResult result;
    double seconds = best_seconds([&] { result = expand_crinex(*compact, cap); });
    // The plain twin differs in number style only, so the check is on the parsed epochs.
    ok &= report("CRINEX expansion", result, "", seconds, reader);
    if (const auto* text = std::get_if<std::string>(&result)) {
        auto parsed = parse_observation_file(*text, "ESBC00DNK_R_20201770000_01D_30S_MO.rnx");
        ok &= std::get<RinexObsData>(parsed).epochs.size() == epochs;
    }

    const std::string gz = archive_testing::gzip_member(*plain);
    seconds = best_seconds([&] { result = inflate_gzip(gz, cap); });
    ok &= report("gzip inflation", result, *plain, seconds, reader);

    const std::string z = archive_testing::unix_compress(*plain);
    seconds = best_seconds([&] { result = expand_unix_compress(z, cap); });
    ok &= report("compress (LZW)", result, *plain, seconds, reader);

    std::printf("%s\n", ok ? "all outputs checked" : "CHECK FAILED");
    return ok ? 0 : 1;
}
