// Real compressed recordings against their plain twins, compared record by record.
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "archive/archive.hpp"
#include "archive/readers.hpp"
#include "rinex/obs_data.hpp"
#include "test_archive_support.hpp"
#include "test_real_data.hpp"

namespace vardoln {
namespace {

using archive_testing::first_difference;

struct Twin {
    const char* compact;  // under the shared data folder
    const char* plain;
    std::size_t epochs;   // 0: compare every epoch of both
};

// Both files parsed under the plain twin's name, so that a missing marker name reads alike.
RinexObsData parse_named(std::string_view text, const std::string& plain_path) {
    auto parsed = parse_observation_file(text, plain_path.substr(plain_path.rfind('/') + 1));
    EXPECT_TRUE(std::holds_alternative<RinexObsData>(parsed));
    return std::holds_alternative<RinexObsData>(parsed) ? std::get<RinexObsData>(std::move(parsed)) : RinexObsData{};
}

void expect_twins(const Twin& twin, std::string (*wrap)(std::string_view) = nullptr) {
    SCOPED_TRACE(twin.compact);
    auto compact = test::real_bytes(twin.compact);
    auto plain = test::real_bytes(twin.plain);
    if (!compact || !plain) GTEST_SKIP() << twin.compact << " or " << twin.plain << " not present";
    std::string input = wrap != nullptr ? wrap(*compact) : std::move(*compact);
    ArchiveResult expanded = expand_archive(std::move(input));
    if (auto* error = std::get_if<ArchiveError>(&expanded)) FAIL() << error->message;
    const RinexObsData from_archive = parse_named(std::get<std::string>(expanded), twin.plain);
    const RinexObsData from_plain = parse_named(*plain, twin.plain);
    EXPECT_FALSE(from_plain.epochs.empty());
    const std::size_t limit = twin.epochs == 0 ? static_cast<std::size_t>(-1) : twin.epochs;
    EXPECT_EQ(first_difference(from_archive, from_plain, limit), "");
}

const Twin kSmallTwins[] = {
    {"crinex/ACOR00ESP_R_20213550000_01D_30S_MO.crx", "obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx", 0},
    {"crinex/KMS300DNK_R_20221591000_01H_30S_MO.crx", "edge/KMS300DNK_R_20221591000_01H_30S_MO.rnx", 0},
    {"crinex/pdel0010.21d", "obs3/pdel0010.21o", 0},
    {"crinex/AJAC3550.21D", "obs2/AJAC3550.21O", 0},
    {"crinex/delf0010.21d", "obs2/delf0010.21o", 0},
    {"crinex/eijs0010.21d", "obs2/eijs0010.21o", 0},
    {"crinex/zegv0010.21d", "obs2/zegv0010.21o", 0},
    {"crinex/york0440.15d", "obs2/york0440.15o", 0},  // 23 event records
    // A copy of the first 13 epochs of ACOR under another name.
    {"edge/KUNZ00CZE.crx", "obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx", 13},
};

TEST(ArchiveFiles, CompactRinexExpandsLikeItsPlainTwin) {
    for (const Twin& twin : kSmallTwins) expect_twins(twin);
}

std::string gzip_whole(std::string_view text) { return archive_testing::gzip_member(text); }
std::string compress_whole(std::string_view text) { return archive_testing::unix_compress(text); }

TEST(ArchiveFiles, StackedLayersExpandLikeThePlainTwin) {
    expect_twins(kSmallTwins[0], gzip_whole);      // .crx.gz
    expect_twins(kSmallTwins[6], compress_whole);  // .d.Z
    expect_twins({"obs2/zegv0010.21o", "obs2/zegv0010.21o", 0}, gzip_whole);
}

// The day-long files take a few seconds together. Where the plain twin is present (it is not
// bundled, and CEBR has none) the records are compared, else the day's shape is checked.
TEST(ArchiveFiles, FullDayCompactRinex) {
    struct Day {
        Twin twin;
        std::uint32_t most_satellites;  // in one epoch, from the data set's README
    };
    const Day days[] = {
        {{"crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx", "obs3/ESBC00DNK_R_20201770000_01D_30S_MO.rnx", 0}, 54},
        {{"crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx", "obs3/NYA100NOR_S_20241240000_01D_30S_MO.rnx", 0}, 40},
        {{"crinex/CEBR00ESP_R_20182000000_01D_30S_MO.crx", "obs3/CEBR00ESP_R_20182000000_01D_30S_MO.rnx", 0}, 41},
    };
    std::size_t found = 0;
    for (const Day& day : days) {
        SCOPED_TRACE(day.twin.compact);
        if (test::real_file(day.twin.plain)) {
            expect_twins(day.twin);
            ++found;
            continue;
        }
        auto compact = test::real_bytes(day.twin.compact);
        if (!compact) continue;
        ++found;
        ArchiveResult expanded = expand_archive(std::move(*compact));
        ASSERT_TRUE(std::holds_alternative<std::string>(expanded)) << std::get<ArchiveError>(expanded).message;
        const RinexObsData data = parse_named(std::get<std::string>(expanded), day.twin.plain);
        EXPECT_EQ(data.epochs.size(), 2880u);
        std::uint32_t most = 0;
        for (const ObservationEpoch& epoch : data.epochs) most = std::max(most, epoch.satellite_count);
        EXPECT_EQ(most, day.most_satellites);
    }
    EXPECT_GT(found, 0u);
}

// Every compact file of the shared data and its gzip twin, read as recordings are read: the
// direct path must cover each one and give the text path's record exactly.
TEST(ArchiveFiles, DirectPathGivesTheTextPathRecordOnEveryCompactFile) {
    const char* const files[] = {
        "crinex/ACOR00ESP_R_20213550000_01D_30S_MO.crx", "crinex/AJAC3550.21D",
        "crinex/CEBR00ESP_R_20182000000_01D_30S_MO.crx", "crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx",
        "crinex/KMS300DNK_R_20221591000_01H_30S_MO.crx", "crinex/NYA100NOR_S_20241240000_01D_30S_MO.crx",
        "crinex/delf0010.21d", "crinex/eijs0010.21d", "crinex/pdel0010.21d", "crinex/york0440.15d",
        "crinex/zegv0010.21d", "edge/KUNZ00CZE.crx",
    };
    std::size_t found = 0;
    for (const char* name : files) {
        SCOPED_TRACE(name);
        auto compact = test::real_bytes(name);
        if (!compact) continue;
        ++found;
        const std::size_t cap = archive_output_cap(compact->size(), ArchiveLimits{});
        bool covered = false;
        EXPECT_EQ(archive_testing::direct_path_difference(*compact, cap, covered), "");
        EXPECT_TRUE(covered);

        // The gzip twin through the reader entry, against the text path on the plain bytes.
        auto text = expand_crinex(*compact, cap);
        ASSERT_TRUE(std::holds_alternative<std::string>(text));
        auto expected = parse_observation_file(std::get<std::string>(text), "twin.crx");
        auto twin = read_observation_bytes(archive_testing::gzip_member(*compact), "twin.crx");
        ASSERT_TRUE(std::holds_alternative<RinexObsData>(twin));
        EXPECT_EQ(archive_testing::exact_difference(std::get<RinexObsData>(twin), std::get<RinexObsData>(expected)), "");
    }
    EXPECT_GT(found, 0u);
}

}  // namespace
}  // namespace vardoln
