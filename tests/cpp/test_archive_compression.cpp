// gzip and Unix compress layers: detection, members, real compress output, nesting, damage
// and the expansion cap.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <variant>

#include "archive/archive.hpp"
#include "rinex/obs_data.hpp"
#include "test_archive_support.hpp"
#include "test_real_data.hpp"

namespace vardoln {
namespace {

using archive_testing::gzip_member;
using archive_testing::read_file;
using archive_testing::unix_compress;

const std::string kFixtures = std::string(VARDOLN_TEST_DATA) + "/archive";

// The text behind the committed .Z fixtures: a repetitive stretch that fills the code table
// with long strings, then pseudo-random lines that make compress reset the table.
std::string sample_text(std::size_t lines) {
    std::string text;
    for (std::size_t i = 0; i < lines; ++i) text += "G01      45.250 7      38.000 5\n";
    std::uint32_t state = 12345;
    for (std::size_t i = 0; i < lines; ++i) {
        state = state * 1103515245u + 12345u;
        text += std::to_string(state >> 8) + " " + std::to_string((state >> 3) % 997) + "\n";
    }
    return text;
}

std::string expanded(ArchiveResult result) {
    if (auto* error = std::get_if<ArchiveError>(&result)) return "error: " + error->message;
    return std::get<std::string>(std::move(result));
}

std::string error_of(ArchiveResult result) {
    if (auto* error = std::get_if<ArchiveError>(&result)) return error->message;
    return "(no error)";
}

TEST(ArchiveCompression, PlainInputIsHandedBackWithoutCopy) {
    std::string plain = sample_text(20);
    const char* const storage = plain.data();
    ArchiveResult result = expand_archive(std::move(plain));
    ASSERT_TRUE(std::holds_alternative<std::string>(result));
    EXPECT_EQ(std::get<std::string>(result).data(), storage);
    EXPECT_EQ(expanded(expand_archive("")), "");
    EXPECT_EQ(expanded(expand_archive("\x1F")), "\x1F");
}

TEST(ArchiveCompression, GzipMembersAreConcatenated) {
    const std::string first = sample_text(50);
    const std::string second = "second member\n";
    EXPECT_EQ(expanded(expand_archive(gzip_member(first))), first);
    EXPECT_EQ(expanded(expand_archive(gzip_member(first) + gzip_member(second))), first + second);
    EXPECT_EQ(expanded(expand_archive(gzip_member(first, 0) + gzip_member("", 9))), first);
    // Padding after the last member is ignored, as gzip does.
    EXPECT_EQ(expanded(expand_archive(gzip_member(second) + std::string(512, '\0'))), second);
}

TEST(ArchiveCompression, RealCompressOutputWithTableResets) {
    for (const char* name : {"lzw_sample_b10.Z", "lzw_sample_b12.Z"}) {
        auto packed = read_file(kFixtures + "/" + name);
        ASSERT_TRUE(packed.has_value()) << name;
        EXPECT_EQ(expanded(expand_archive(*packed)), sample_text(1500)) << name;
    }
}

TEST(ArchiveCompression, SixteenBitCodesWithResets) {
    // Pseudo-random bytes fill the 16-bit table several times over.
    std::string noise(600000, '\0');
    std::uint32_t state = 7;
    for (char& c : noise) {
        state = state * 1664525u + 1013904223u;
        c = static_cast<char>(state >> 24);
    }
    for (int bits : {10, 13, 16}) {
        EXPECT_EQ(expanded(expand_unix_compress(unix_compress(noise, bits), 1u << 30)), noise) << bits;
    }
    const std::string text = sample_text(3000);
    EXPECT_EQ(expanded(expand_archive(unix_compress(text))), text);
}

TEST(ArchiveCompression, StackedLayers) {
    // .d.Z made by a real compress: CRINEX 1.0 inside.
    auto packed = read_file(kFixtures + "/AJAC3550.21D.Z");
    ASSERT_TRUE(packed.has_value());
    const std::string text = expanded(expand_archive(*packed));
    auto parsed = parse_observation_file(text, "AJAC3550.21O");
    ASSERT_TRUE(std::holds_alternative<RinexObsData>(parsed)) << text.substr(0, 200);
    EXPECT_EQ(std::get<RinexObsData>(parsed).epochs.size(), 2u);
    auto plain = test::real_bytes("obs2/AJAC3550.21O");
    if (plain) {
        EXPECT_EQ(archive_testing::first_difference(std::get<RinexObsData>(parsed),
                                                    std::get<RinexObsData>(parse_observation_file(*plain, "AJAC3550.21O"))),
                  "");
    }
    // gzip around compress around gzip: every layer comes off.
    const std::string inner = sample_text(100);
    EXPECT_EQ(expanded(expand_archive(gzip_member(unix_compress(gzip_member(inner))))), inner);
}

TEST(ArchiveCompression, NestingIsBounded) {
    std::string packed = "text\n";
    for (int layer = 0; layer < 8; ++layer) packed = gzip_member(packed);
    EXPECT_EQ(expanded(expand_archive(packed)), "text\n");
    EXPECT_EQ(error_of(expand_archive(gzip_member(packed))), "archive: more than 8 nested compression layers");
}

TEST(ArchiveCompression, DamagedStreamsNameTheLayer) {
    const std::string good = gzip_member(sample_text(50));
    std::string bad_block = good;
    bad_block[10] = static_cast<char>(bad_block[10] | 0x06);  // block type 3 is reserved
    std::string bad_check = good;
    bad_check[good.size() - 8] = static_cast<char>(bad_check[good.size() - 8] ^ 0x01);
    struct Case {
        std::string input;
        const char* message;
    };
    const Case cases[] = {
        {bad_block, "gzip: corrupt data (invalid block type)"},
        {bad_check, "gzip: corrupt data (incorrect data check)"},
        {good.substr(0, good.size() - 1), "gzip: truncated stream"},
        {std::string("\x1F\x8B", 2), "gzip: truncated stream"},
        {std::string("\x1F\x9D", 2), "compress: truncated header"},
        {std::string("\x1F\x9D\x91", 3), "compress: unsupported code width 17"},
        {std::string("\x1F\x9D\x88", 3), "compress: unsupported code width 8"},
        // First code 0x1FF: a literal is required first.
        {std::string("\x1F\x9D\x90\xFF\x01", 5), "compress: invalid code"},
        // 'a', then code 300 while the next free entry is 257.
        {std::string("\x1F\x9D\x90\x61\x58\x02", 6), "compress: invalid code"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(expand_archive(c.input)), c.message);
}

TEST(ArchiveCompression, EveryTruncationExpandsOrFails) {
    const std::string text = sample_text(40);
    const std::string gz = gzip_member(text);
    for (std::size_t size = 2; size < gz.size(); ++size) {
        EXPECT_EQ(error_of(inflate_gzip(std::string_view(gz).substr(0, size), 1u << 20)), "gzip: truncated stream")
            << size;
    }
    // compress has no end marker: a cut stream gives a prefix of the text.
    const std::string z = unix_compress(text);
    for (std::size_t size = 3; size < z.size(); ++size) {
        const std::string part = expanded(expand_unix_compress(std::string_view(z).substr(0, size), 1u << 20));
        EXPECT_EQ(text.compare(0, part.size(), part), 0) << size;
    }
}

TEST(ArchiveCompression, ExpansionCap) {
    const std::string zeros(1 << 20, '0');
    const std::string gz = gzip_member(zeros);
    const std::string z = unix_compress(zeros);
    const std::size_t cap = gz.size() * 64;
    EXPECT_EQ(error_of(expand_archive(gz)), "gzip: expands beyond the limit of " + std::to_string(cap) + " bytes");
    EXPECT_EQ(expanded(expand_archive(gz, ArchiveLimits{1u << 20, 1u << 30})), zeros);
    EXPECT_EQ(error_of(expand_archive(gz, ArchiveLimits{1u << 20, 1000})), "gzip: expands beyond the limit of 1000 bytes");
    EXPECT_EQ(error_of(expand_archive(z, ArchiveLimits{1, 1u << 30})),
              "compress: expands beyond the limit of " + std::to_string(z.size()) + " bytes");
    EXPECT_EQ(expanded(expand_archive(z, ArchiveLimits{1u << 20, 1u << 30})), zeros);
    // Exactly at the cap is still fine.
    EXPECT_EQ(expanded(inflate_gzip(gz, zeros.size())), zeros);
    EXPECT_EQ(expanded(expand_unix_compress(z, zeros.size())), zeros);
}

}  // namespace
}  // namespace vardoln
