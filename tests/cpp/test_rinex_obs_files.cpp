// Every real observation file, read whole: the whole shared data set where present, else the
// bundled copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "rinex/obs_data.hpp"
#include "rinex/text.hpp"
#include "test_real_data.hpp"

namespace vardoln {
namespace {

namespace fs = std::filesystem;

// Plain observation files declare type "O" in column 20 of their first line; navigation files
// and compressed (CRINEX) files sit in the same folders.
bool is_observation_file(std::string_view bytes) {
    const std::string_view first = bytes.substr(0, bytes.find('\n'));
    return first.size() > 60 && first[20] == 'O' && first.find("RINEX VERSION", 60) != std::string::npos &&
           first.find("CRINEX") == std::string::npos;
}

// (name under the data folder, bytes) of every plain observation file.
std::vector<std::pair<std::string, std::string>> observation_files() {
    std::vector<std::pair<std::string, std::string>> files;
    for (const char* folder : {"obs2", "obs3", "edge"}) {
        for (const std::string& name : test::real_files_in(folder)) {
            auto bytes = test::real_bytes(name);
            if (bytes && is_observation_file(*bytes)) files.emplace_back(name, std::move(*bytes));
        }
    }
    return files;
}

RinexObsData parse_text(std::string_view bytes, const std::string& name) {
    auto result = parse_observation_file(bytes, fs::path(name).filename().string());
    if (auto* error = std::get_if<ParseError>(&result)) {
        ADD_FAILURE() << name << ": " << error->message;
        return {};
    }
    return std::get<RinexObsData>(std::move(result));
}

// Epoch lines of any kind, counted without the reader: ">" lines in RINEX 3, and in RINEX 2
// lines whose columns 26-31 hold a flag and a count. Stored epochs can only be fewer.
std::size_t raw_epoch_lines(std::string_view text, bool rinex3) {
    std::size_t count = 0;
    bool in_header = true;
    for (std::string_view line : split_lines(text)) {
        if (in_header) {
            in_header = line.find("END OF HEADER") == std::string_view::npos;
            continue;
        }
        // RINEX 2: blanks between the date fields, the seconds' point in column 18, a count
        // ending in column 31.
        const bool rinex2_epoch = line.size() >= 32 && line[0] == ' ' && line[3] == ' ' && line[6] == ' ' &&
                                  line[9] == ' ' && line[12] == ' ' && line[18] == '.' && line[31] >= '0' &&
                                  line[31] <= '9';
        if (rinex3 ? (!line.empty() && line.front() == '>') : rinex2_epoch)
            ++count;
    }
    return count;
}

// The structural promises of the record, for any input.
void check_invariants(const RinexObsData& data, const std::string& name) {
    std::vector<std::string> first_appearance;
    std::set<std::string> seen;
    for (const ObservationEpoch& epoch : data.epochs) {
        ASSERT_GT(epoch.satellite_count, 0u) << name;
        ASSERT_LE(std::size_t{epoch.first_satellite} + epoch.satellite_count, data.satellite_entries.size()) << name;
        std::set<std::uint32_t> satellites;
        for (const SatelliteObservations& entry : data.satellites_of(epoch)) {
            ASSERT_LT(entry.satellite, data.satellite_ids.size()) << name;
            ASSERT_TRUE(satellites.insert(entry.satellite).second) << name << ": satellite twice in an epoch";
            ASSERT_GT(entry.value_count, 0u) << name;
            ASSERT_LE(std::size_t{entry.first_value} + entry.value_count, data.values.size()) << name;
            const std::string& id = data.satellite_id(entry);
            if (seen.insert(id).second) first_appearance.push_back(id);
            const std::vector<std::string>* codes =
                data.obs_types_of(std::string(1, id.empty() ? 'G' : (data.version >= 3.0 ? id.front() : 'G')));
            ASSERT_NE(codes, nullptr) << name << ": " << id;
            std::set<std::uint32_t> code_set;
            for (const ObservationValue& value : data.values_of(entry)) {
                ASSERT_NE(value.value, 0.0) << name;
                ASSERT_TRUE(code_set.insert(value.code).second) << name << ": code twice for " << id;
                ASSERT_NE(std::find(codes->begin(), codes->end(), data.code_of(value)), codes->end()) << name;
            }
        }
    }
    EXPECT_EQ(data.satellite_ids, first_appearance) << name;
    EXPECT_EQ(unique_satellites(data), first_appearance) << name;
}

std::size_t signal_strength_values(const RinexObsData& data) {
    std::size_t count = 0;
    for (const ObservationValue& value : data.values) count += data.code_of(value).starts_with('S') ? 1 : 0;
    return count;
}

bool header_has_signal_strength(const RinexObsData& data) {
    for (const ObsTypeList& list : data.obs_types)
        for (const std::string& code : list.codes)
            if (code.starts_with('S')) return true;
    return false;
}

TEST(ObservationFiles, EveryFileParsesWithItsInvariants) {
    const auto files = observation_files();
    ASSERT_FALSE(files.empty()) << "no observation files under " << test::data_root();
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        const RinexObsData data = parse_text(bytes, name);
        check_invariants(data, name);
        EXPECT_LE(data.epochs.size(), raw_epoch_lines(bytes, data.version >= 3.0));
        if (!data.epochs.empty() && header_has_signal_strength(data)) {
            EXPECT_GT(signal_strength_values(data), 0u);
        }
        // No record may hold more values than its text has 16-column fields.
        EXPECT_LE(data.values.size() * 16, bytes.size());
    }
}

// Epochs with data per file, as counted independently for the data set's README (epochs
// with flag 0, 1 or 6), except where noted.
TEST(ObservationFiles, EpochCountsMatchTheIndependentCount) {
    const std::map<std::string, std::size_t> expected = {
        {"obs3/ESBC00DNK_R_20201770000_01D_30S_MO.rnx", 2880},
        {"obs3/NYA100NOR_S_20241240000_01D_30S_MO.rnx", 2880},
        {"obs3/CEDA00USA_R_20182100000_23H_15S_MO.rnx", 4675},
        {"obs3/ACOR00ESP_R_20213550000_01D_30S_MO.rnx", 25},
        {"obs3/ALAC00ESP_R_20220090000_01D_30S_MO.rnx", 3},
        {"obs3/pdel0010.21o", 67},
        {"obs3/z_tracking.rnx", 2},
        {"obs3/SEPT265G.21O", 360},
        {"obs3/SEPT078M.21O", 900},
        {"obs3/16dBatt_no_interference_coldstart.obs", 2072},
        {"obs3/reach-m2-01_raw_202306291111.23O", 610},
        {"obs3/sptu0150.16o", 5},
        {"obs3/nrmg0150.16o", 5},
        {"obs2/york0440.15o", 2880},  // 23 event records with flag 4 hold no values
        {"obs2/zegv0010.21o", 19},
        {"obs2/AJAC3550.21O", 2},
        {"obs2/delf0010.21o", 105},
        {"obs2/rovn0010.21o", 6},
        {"obs2/eijs0010.21o", 79},
        {"obs2/npaz3550.21o", 129},
        {"obs2/wsra0010.21o", 17},
        {"obs2/ac660270.18o", 23},
        {"obs2/ab430140.18o", 9},
        {"obs2/kerg1700.16o", 6},
        {"obs2/nklg170b00.16o", 5},
        {"obs2/arlm200a.15o", 120},
        {"obs2/arlm200b.15o", 120},
        {"edge/mixed211.05o", 7},
        {"edge/test_input_rinex2_obs_RinexContData.06o", 7},
        // The README counts 5: its first epoch carries the invalid flag 9, which the reader does
        // not interpret, so that epoch is read like any other.
        {"edge/test_input_rinex2_obs_BadEpochFlag.06o", 6},
        {"edge/test_input_rinex3_obs_InvalidTimeFormat.15o", 32},
        {"edge/UCAL00CAN_S_20161700100_15M_01S_MO", 5},
        {"edge/faa1170b00.16o", 5},
        {"edge/GEOP092I.24o", 599},
        {"edge/KMS300DNK_R_20221591000_01H_30S_MO.rnx", 19},
        {"edge/flrs0010.12o", 69},
        {"edge/3034265G.21O", 360},
        {"edge/SkydelRINEX_S_20230080959_04H_02Z_MO.rnx", 49},
        {"edge/Spirent_RINEX_MO.obs", 49},
        {"edge/INS_1581.19O", 1},
        {"edge/rinex_obs_mixed_types.20o", 5},
        {"edge/demo3.10o", 2},
        {"edge/blank3.10o", 0},
        {"edge/junk_time_obs3.10o", 2},
        {"edge/07590920.05o", 120},
    };
    std::size_t found = 0;
    for (const auto& [name, epochs] : expected) {
        const auto bytes = test::real_bytes(name);
        if (!bytes) continue;  // only part of the set is bundled
        ++found;
        EXPECT_EQ(parse_text(*bytes, name).epochs.size(), epochs) << name;
    }
    EXPECT_GT(found, 0u);
}

TEST(ObservationFiles, EsbcFullDayHeaderAndRecords) {
    // The compact original of the day; the archive tests prove it expands to the plain file.
    const auto text = test::real_text("crinex/ESBC00DNK_R_20201770000_01D_30S_MO.crx");
    if (!text) GTEST_SKIP() << "ESBC00DNK day file not present";
    const RinexObsData data = parse_text(*text, "ESBC00DNK_R_20201770000_01D_30S_MO.rnx");
    EXPECT_EQ(data.version, 3.05);
    EXPECT_EQ(data.marker_name, "ESBC00DNK");
    EXPECT_EQ(data.receiver_type, "SEPT POLARX5");
    EXPECT_EQ(data.antenna_type, "ASH701945E_M    SCIS");
    ASSERT_TRUE(data.approx_position.has_value());
    EXPECT_EQ((*data.approx_position)[0], 3582105.2910);
    EXPECT_EQ(data.glonass_slots.size(), 23u);
    ASSERT_NE(data.obs_types_of("R"), nullptr);
    EXPECT_EQ(data.obs_types_of("R")->size(), 20u);
    ASSERT_EQ(data.epochs.size(), 2880u);
    EXPECT_EQ(data.epochs.front().time, (EpochTime{2020, 6, 25, 0, 0, 0.0}));
    EXPECT_EQ(data.epochs.back().time, (EpochTime{2020, 6, 25, 23, 59, 30.0}));
    std::set<char> letters;
    for (const std::string& id : data.satellite_ids) letters.insert(id.front());
    EXPECT_EQ(letters, (std::set<char>{'C', 'E', 'G', 'J', 'R', 'S'}));
}

TEST(ObservationFiles, YorkRinex2WithEventRecords) {
    const auto bytes = test::real_bytes("obs2/york0440.15o");
    if (!bytes) GTEST_SKIP() << "york0440.15o not present";
    const RinexObsData data = parse_text(*bytes, "york0440.15o");
    EXPECT_EQ(data.version, 2.11);
    ASSERT_EQ(data.epochs.size(), 2880u);
    for (const ObservationEpoch& epoch : data.epochs) EXPECT_NE(epoch.flag, 4);
    std::vector<std::string> letters;
    for (const ObsTypeList& list : data.obs_types) letters.push_back(list.system);
    EXPECT_EQ(letters, (std::vector<std::string>{"G", "R", "E", "C"}));
    EXPECT_GT(signal_strength_values(data), 0u);
}

TEST(ObservationFiles, BadEpochFlagIsStoredAsWritten) {
    const auto bytes = test::real_bytes("edge/test_input_rinex2_obs_BadEpochFlag.06o");
    if (!bytes) GTEST_SKIP() << "test_input_rinex2_obs_BadEpochFlag.06o not present";
    const RinexObsData data = parse_text(*bytes, "test_input_rinex2_obs_BadEpochFlag.06o");
    ASSERT_FALSE(data.epochs.empty());
    EXPECT_EQ(data.epochs.front().flag, 9);
    // Its satellite list writes GPS numbers as "G 1": three characters, kept verbatim.
    EXPECT_EQ(data.satellite_ids.front(), "G 1");
}

}  // namespace
}  // namespace vardoln
