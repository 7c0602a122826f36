#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "cn0/json_export.hpp"

namespace vardoln {
namespace {

std::string number_text(double value) {
    std::string out;
    append_json_number(out, value);
    return out;
}

struct NumberCase {
    double value;
    std::string_view text;
};

TEST(JsonNumber, LayoutTable) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const NumberCase cases[] = {
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {100.0, "100.0"},
        {35.0, "35.0"},
        {12.5, "12.5"},
        {45.25, "45.25"},
        {-123.456, "-123.456"},
        {1234567.0, "1234567.0"},
        {1e15, "1000000000000000.0"},
        {1.2345678901234567e15, "1234567890123456.8"},
        {1e16, "1e+16"},
        {0.00012, "0.00012"},
        {1e-5, "0.00001"},
        {-1.25e-5, "-0.0000125"},
        {1e-6, "1e-6"},
        {1.5e-7, "1.5e-7"},
        {-1.5e-7, "-1.5e-7"},
        {1e-7, "1e-7"},
        {2.5e20, "2.5e+20"},
        {1e21, "1e+21"},
        {0.1 + 0.2, "0.30000000000000004"},
        {5e-324, "5e-324"},
        {1.7976931348623157e308, "1.7976931348623157e+308"},
        {-1e100, "-1e+100"},
        {std::numeric_limits<double>::quiet_NaN(), "null"},
        {inf, "null"},
        {-inf, "null"},
    };
    for (const NumberCase& c : cases) EXPECT_EQ(number_text(c.value), c.text) << "value " << c.value;
}

// Decimal exponent of the first significant digit, taken from the shortest scientific form.
int decimal_exponent(double value) {
    char buffer[32];
    const char* end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
    const char* exponent_text = std::find(static_cast<const char*>(buffer), end, 'e') + 1;
    if (*exponent_text == '+') ++exponent_text;
    int exponent = 0;
    std::from_chars(exponent_text, end, exponent);
    return exponent;
}

void expect_round_trip(double value) {
    const std::string text = number_text(value);
    double back = 0.0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(ec, std::errc()) << text;
    ASSERT_EQ(ptr, text.data() + text.size()) << text;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(value)) << text;
    const int d = decimal_exponent(value);
    const bool positional = d >= -5 && d <= 15;
    ASSERT_EQ(text.find('e') == std::string::npos, positional) << text;
    if (positional) {
        ASSERT_NE(text.find('.'), std::string::npos) << text;
    }
}

TEST(JsonNumber, RandomBitPatternsRoundTrip) {
    std::mt19937_64 random(20240115);
    for (int i = 0; i < 200000; ++i) {
        const double value = std::bit_cast<double>(random());
        if (!std::isfinite(value)) continue;
        expect_round_trip(value);
    }
}

// Values read from RINEX are whole thousandths and take a path of their own; its digits must
// be the shortest that read back, as the general path gives them (positional shortest digits
// from the standard library, with ".0" after an integral value). Their neighbours one unit in
// the last place away are not thousandths and must come out as the general path writes them.
TEST(JsonNumber, ThousandthsTakeTheShortestDigits) {
    const auto shortest_positional = [](double value) {
        char buffer[64];
        const char* end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed).ptr;
        std::string text(static_cast<const char*>(buffer), end);
        if (text.find('.') == std::string::npos) text += ".0";
        return text;
    };
    std::mt19937_64 random(2880);
    std::uniform_real_distribution<double> magnitude(0.0, 12.0);
    std::vector<std::int64_t> thousandths = {1, 5, 10, 50, 100, 999, 1000, 1001, 45250, 999999999999, 999999999000};
    for (int i = 0; i < 300000; ++i) thousandths.push_back(static_cast<std::int64_t>(std::pow(10.0, magnitude(random))));
    for (const std::int64_t n : thousandths) {
        for (const std::int64_t signed_n : {n, -n}) {
            const double value = static_cast<double>(signed_n) / 1000.0;
            ASSERT_EQ(number_text(value), shortest_positional(value)) << signed_n;
            expect_round_trip(std::nextafter(value, 0.0));
            expect_round_trip(std::nextafter(value, 2e12));
        }
    }
}

// Bit patterns rarely land in the positional range; magnitudes spread over 1e-9..1e19 do.
TEST(JsonNumber, RandomMagnitudesRoundTrip) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> exponent(-9.0, 19.0);
    std::uniform_int_distribution<int> digits(0, 17);
    for (int i = 0; i < 200000; ++i) {
        double value = std::pow(10.0, exponent(random));
        // Also values with few significant digits, where zero padding matters.
        if (i % 2 == 0) {
            const double scale = std::pow(10.0, digits(random) - 9);
            value = std::round(value * scale) / scale;
        }
        if (i % 3 == 0) value = -value;
        if (!std::isfinite(value)) continue;
        expect_round_trip(value);
    }
}

// The JSON string that the export writes for a marker name.
std::string exported_marker(std::string_view marker) {
    AnalysisResult result;
    result.file_info.marker_name = std::string(marker);
    const std::string json = result_to_json(result, false);
    const std::string_view key = "\"marker_name\":";
    const std::size_t begin = json.find(key) + key.size();
    const std::size_t end = json.find(",\"receiver_type\"");
    return json.substr(begin, end - begin);
}

struct EscapeCase {
    std::string_view name;
    std::string_view text;
    std::string_view json;
};

TEST(JsonString, EscapeTable) {
    using namespace std::string_view_literals;
    const EscapeCase cases[] = {
        {"plain", "ONSA", R"("ONSA")"},
        {"empty", "", R"("")"},
        {"quote", "A\"B", R"("A\"B")"},
        {"backslash", "A\\B", R"("A\\B")"},
        {"letter escapes", "\b\t\n\f\r", R"("\b\t\n\f\r")"},
        {"nul", "A\0B"sv, R"("A\u0000B")"},
        {"other control bytes", "\x01\x0b\x1f", R"("\u0001\u000b\u001f")"},
        {"delete is not a control byte", "\x7f", "\"\x7f\""},
        {"slash copied", "a/b", R"("a/b")"},
        {"utf-8 copied", "Tromsø", "\"Tromsø\""},
        {"invalid utf-8 copied", "\xff\xfe", "\"\xff\xfe\""},
        {"escapes at both ends", "\"x\"", R"("\"x\"")"},
    };
    for (const EscapeCase& c : cases) EXPECT_EQ(exported_marker(c.text), c.json) << c.name;
}

TEST(JsonString, MapKeysAreEscaped) {
    AnalysisResult result;
    result.satellite_stats["G\"1"].satellite = "G\"1";
    const std::string json = result_to_json(result, false);
    EXPECT_NE(json.find(R"("satellite_stats":{"G\"1":{"satellite":"G\"1",)"), std::string::npos);
}

// One epoch of one satellite, filled the way an analysis would fill it.
AnalysisResult small_result() {
    const std::string epoch = "2024-01-15T06:30:00.000Z";
    AnalysisResult r;
    r.file_info = {"", "ONSA", "SEPT POLARX5", "LEIAR25.R3", epoch, epoch, 0.0, 30.0, 57.395, 11.925, 45.5};
    r.quality_score = {82.5, 100.0, 0.15432098765432098, 100.0, "B", "Good GNSS signal quality"};
    r.summary = {1, 1, 1, {"GPS"}, 46.5, 46.5, 46.5, 1, 0, 1, 0};
    r.constellation_stats["GPS"] = {"GPS", 1, 1, 46.5, 46.5, 46.5, 0.0, 12, 0.08333333333333333, 0, 0};
    r.satellite_stats["G05"] = {"G05", "GPS", 1, 46.5, 46.5, 46.5, 0.0, 45.0};
    r.timeseries.timestamps = {epoch};
    r.timeseries.mean_cn0 = {46.5};
    r.timeseries.satellite_count = {1};
    r.timeseries.satellite_timeseries["G05"] = {"G05", "GPS", "S1C", {{epoch, 46.5, 45.0, 0.0}}};
    r.timeseries.constellation_timeseries["GPS"] = {{epoch, 46.5, 45.0, 0.0}};
    r.skyplot.traces = {{"G05", "GPS", {{0.0, 45.0, 46.5, "G05"}}}};
    r.skyplot.heatmap_points = {{5.0, 47.5, 46.5, 1}};
    r.skyplot.coverage_percent = 0.15432098765432098;
    r.heatmap = {{5.0, 15.0}, {2.5}, {{46.5, 0.0}}, {{1, 0}}};
    r.anomalies = {{epoch, "high", "cn0_drop", "C/N0 drop", 12.0, {"G05", "G07"}, {"GPS"}}};
    return r;
}

TEST(JsonLayout, CompactSmallResult) {
    const std::string expected =
        R"({"file_info":{"filename":"","marker_name":"ONSA","receiver_type":"SEPT POLARX5",)"
        R"("antenna_type":"LEIAR25.R3","start_time":"2024-01-15T06:30:00.000Z",)"
        R"("end_time":"2024-01-15T06:30:00.000Z","duration_hours":0.0,"interval":30.0,)"
        R"("position_lat":57.395,"position_lon":11.925,"position_height":45.5},)"
        R"("quality_score":{"overall":82.5,"cn0_score":100.0,"coverage_score":0.15432098765432098,)"
        R"("consistency_score":100.0,"grade":"B","interpretation":"Good GNSS signal quality"},)"
        R"("summary":{"total_observations":1,"total_satellites":1,"total_epochs":1,)"
        R"("systems_observed":["GPS"],"mean_cn0":46.5,"min_cn0":46.5,"max_cn0":46.5,)"
        R"("anomaly_count":1,"critical_count":0,"high_count":1,"low_count":0},)"
        R"("constellation_stats":{"GPS":{"system":"GPS","satellite_count":1,"observation_count":1,)"
        R"("mean_cn0":46.5,"min_cn0":46.5,"max_cn0":46.5,"std_cn0":0.0,"satellites_expected":12,)"
        R"("availability_ratio":0.08333333333333333,"cycle_slips":0,"data_gaps":0}},)"
        R"("satellite_stats":{"G05":{"satellite":"G05","system":"GPS","observation_count":1,)"
        R"("mean_cn0":46.5,"min_cn0":46.5,"max_cn0":46.5,"std_cn0":0.0,"mean_elevation":45.0}},)"
        R"("timeseries":{"timestamps":["2024-01-15T06:30:00.000Z"],"mean_cn0":[46.5],"satellite_count":[1],)"
        R"("satellite_timeseries":{"G05":{"satellite":"G05","system":"GPS","signal":"S1C",)"
        R"("cn0_series":[{"timestamp":"2024-01-15T06:30:00.000Z","cn0":46.5,"elevation":45.0,"azimuth":0.0}]}},)"
        R"("constellation_timeseries":{"GPS":[{"timestamp":"2024-01-15T06:30:00.000Z","cn0":46.5,)"
        R"("elevation":45.0,"azimuth":0.0}]}},)"
        R"("skyplot":{"traces":[{"satellite":"G05","system":"GPS","points":[{"azimuth":0.0,"elevation":45.0,)"
        R"("cn0":46.5,"satellite":"G05"}]}],"heatmap_points":[{"azimuth_bin":5.0,"elevation_bin":47.5,)"
        R"("mean_cn0":46.5,"count":1}],"coverage_percent":0.15432098765432098},)"
        R"("heatmap":{"azimuth_bins":[5.0,15.0],"elevation_bins":[2.5],"cn0_matrix":[[46.5,0.0]],)"
        R"("count_matrix":[[1,0]]},)"
        R"("anomalies":[{"timestamp":"2024-01-15T06:30:00.000Z","severity":"high","event_type":"cn0_drop",)"
        R"("description":"C/N0 drop","cn0_drop":12.0,"affected_satellites":["G05","G07"],)"
        R"("affected_systems":["GPS"]}],)"
        R"("visibility":null,"spoofing_unexpected_threshold":0.4,"spoofing_min_unexpected_count":8.0})";
    EXPECT_EQ(result_to_json(small_result(), false), expected);
}

TEST(JsonLayout, PrettySmallResult) {
    const std::string expected = R"({
  "file_info": {
    "filename": "",
    "marker_name": "ONSA",
    "receiver_type": "SEPT POLARX5",
    "antenna_type": "LEIAR25.R3",
    "start_time": "2024-01-15T06:30:00.000Z",
    "end_time": "2024-01-15T06:30:00.000Z",
    "duration_hours": 0.0,
    "interval": 30.0,
    "position_lat": 57.395,
    "position_lon": 11.925,
    "position_height": 45.5
  },
  "quality_score": {
    "overall": 82.5,
    "cn0_score": 100.0,
    "coverage_score": 0.15432098765432098,
    "consistency_score": 100.0,
    "grade": "B",
    "interpretation": "Good GNSS signal quality"
  },
  "summary": {
    "total_observations": 1,
    "total_satellites": 1,
    "total_epochs": 1,
    "systems_observed": [
      "GPS"
    ],
    "mean_cn0": 46.5,
    "min_cn0": 46.5,
    "max_cn0": 46.5,
    "anomaly_count": 1,
    "critical_count": 0,
    "high_count": 1,
    "low_count": 0
  },
  "constellation_stats": {
    "GPS": {
      "system": "GPS",
      "satellite_count": 1,
      "observation_count": 1,
      "mean_cn0": 46.5,
      "min_cn0": 46.5,
      "max_cn0": 46.5,
      "std_cn0": 0.0,
      "satellites_expected": 12,
      "availability_ratio": 0.08333333333333333,
      "cycle_slips": 0,
      "data_gaps": 0
    }
  },
  "satellite_stats": {
    "G05": {
      "satellite": "G05",
      "system": "GPS",
      "observation_count": 1,
      "mean_cn0": 46.5,
      "min_cn0": 46.5,
      "max_cn0": 46.5,
      "std_cn0": 0.0,
      "mean_elevation": 45.0
    }
  },
  "timeseries": {
    "timestamps": [
      "2024-01-15T06:30:00.000Z"
    ],
    "mean_cn0": [
      46.5
    ],
    "satellite_count": [
      1
    ],
    "satellite_timeseries": {
      "G05": {
        "satellite": "G05",
        "system": "GPS",
        "signal": "S1C",
        "cn0_series": [
          {
            "timestamp": "2024-01-15T06:30:00.000Z",
            "cn0": 46.5,
            "elevation": 45.0,
            "azimuth": 0.0
          }
        ]
      }
    },
    "constellation_timeseries": {
      "GPS": [
        {
          "timestamp": "2024-01-15T06:30:00.000Z",
          "cn0": 46.5,
          "elevation": 45.0,
          "azimuth": 0.0
        }
      ]
    }
  },
  "skyplot": {
    "traces": [
      {
        "satellite": "G05",
        "system": "GPS",
        "points": [
          {
            "azimuth": 0.0,
            "elevation": 45.0,
            "cn0": 46.5,
            "satellite": "G05"
          }
        ]
      }
    ],
    "heatmap_points": [
      {
        "azimuth_bin": 5.0,
        "elevation_bin": 47.5,
        "mean_cn0": 46.5,
        "count": 1
      }
    ],
    "coverage_percent": 0.15432098765432098
  },
  "heatmap": {
    "azimuth_bins": [
      5.0,
      15.0
    ],
    "elevation_bins": [
      2.5
    ],
    "cn0_matrix": [
      [
        46.5,
        0.0
      ]
    ],
    "count_matrix": [
      [
        1,
        0
      ]
    ]
  },
  "anomalies": [
    {
      "timestamp": "2024-01-15T06:30:00.000Z",
      "severity": "high",
      "event_type": "cn0_drop",
      "description": "C/N0 drop",
      "cn0_drop": 12.0,
      "affected_satellites": [
        "G05",
        "G07"
      ],
      "affected_systems": [
        "GPS"
      ]
    }
  ],
  "visibility": null,
  "spoofing_unexpected_threshold": 0.4,
  "spoofing_min_unexpected_count": 8.0
})";
    EXPECT_EQ(result_to_json(small_result(), true), expected);
}

// A run without samples: every list and map empty, no visibility.
TEST(JsonLayout, EmptyContainers) {
    const AnalysisResult empty;
    const std::string compact = result_to_json(empty, false);
    const std::string_view compact_parts[] = {
        R"("systems_observed":[],)",
        R"("constellation_stats":{},"satellite_stats":{},)",
        R"("timeseries":{"timestamps":[],"mean_cn0":[],"satellite_count":[],"satellite_timeseries":{},)"
        R"("constellation_timeseries":{}},)",
        R"("skyplot":{"traces":[],"heatmap_points":[],"coverage_percent":0.0},)",
        R"("heatmap":{"azimuth_bins":[],"elevation_bins":[],"cn0_matrix":[],"count_matrix":[]},)",
        R"("anomalies":[],"visibility":null,)",
        R"("grade":"N/A","interpretation":"No data"},)",
    };
    for (std::string_view part : compact_parts) EXPECT_NE(compact.find(part), std::string::npos) << part;

    const std::string pretty = result_to_json(empty, true);
    const std::string_view pretty_parts[] = {
        "\n  \"constellation_stats\": {},\n  \"satellite_stats\": {},\n",
        "\n    \"timestamps\": [],\n",
        "\n    \"satellite_timeseries\": {},\n    \"constellation_timeseries\": {}\n  },\n",
        "\n  \"anomalies\": [],\n  \"visibility\": null,\n",
    };
    for (std::string_view part : pretty_parts) EXPECT_NE(pretty.find(part), std::string::npos) << part;
    EXPECT_TRUE(pretty.starts_with("{\n  \"file_info\": {\n    \"filename\": \"\",\n"));
    EXPECT_TRUE(pretty.ends_with("\n  \"spoofing_min_unexpected_count\": 8.0\n}"));
}

TEST(JsonLayout, VisibilityPresent) {
    AnalysisResult result;
    result.visibility.emplace();
    result.visibility->has_prediction = true;
    result.visibility->prediction_source = "BRDC Navigation (31 satellites)";
    result.visibility->confirmation_rate = 87.5;
    result.visibility->frequently_missing = {"G12"};
    result.visibility->by_system["GPS"] = {"GPS", 8, 7, 87.5, {"G12"}, {}};
    result.visibility->anomalies = {
        {"2024-01-15T06:30:00.000Z", "2024-01-15T06:40:00.000Z", 600.0, "missing_satellites", "low", {"G12"},
         {"GPS"}, "1 predicted satellite not observed"}};
    const std::string expected =
        R"j("visibility":{"has_prediction":true,"prediction_source":"BRDC Navigation (31 satellites)",)j"
        R"("confirmation_rate":87.5,"mean_predicted":0.0,"mean_observed":0.0,"mean_missing":0.0,)"
        R"("mean_unexpected":0.0,"frequently_missing":["G12"],"frequently_unexpected":[],)"
        R"("by_system":{"GPS":{"system":"GPS","predicted_satellites":8,"observed_satellites":7,)"
        R"("confirmation_rate":87.5,"missing_satellites":["G12"],"unexpected_satellites":[]}},)"
        R"("anomalies":[{"start_time":"2024-01-15T06:30:00.000Z","end_time":"2024-01-15T06:40:00.000Z",)"
        R"("duration_seconds":600.0,"anomaly_type":"missing_satellites","severity":"low",)"
        R"("affected_satellites":["G12"],"affected_systems":["GPS"],)"
        R"("description":"1 predicted satellite not observed"}]},"spoofing_unexpected_threshold")";
    EXPECT_NE(result_to_json(result, false).find(expected), std::string::npos);
}

TEST(JsonLayout, NonFiniteStatisticsAreNull) {
    AnalysisResult result;
    result.summary.mean_cn0 = std::numeric_limits<double>::quiet_NaN();
    result.timeseries.mean_cn0 = {std::numeric_limits<double>::infinity(), 35.0};
    result.summary.total_epochs = 35;
    const std::string json = result_to_json(result, false);
    EXPECT_NE(json.find(R"("total_epochs":35,)"), std::string::npos);
    EXPECT_NE(json.find(R"("mean_cn0":null,)"), std::string::npos);
    EXPECT_NE(json.find(R"("mean_cn0":[null,35.0],)"), std::string::npos);
}

}  // namespace
}  // namespace vardoln
