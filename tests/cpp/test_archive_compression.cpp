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

// A gzip member with optional header fields spliced in: a file name (FNAME) and a header
// CRC-16 (FHCRC), which zlib checks and libdeflate does not.
std::string gzip_with_header_fields(std::string_view text, bool header_crc) {
    std::string gz = gzip_member(text);
    std::string header = gz.substr(0, 10) + "SAMPLE.21O" + std::string(1, '\0');
    header[3] = static_cast<char>(header[3] | 0x08 | (header_crc ? 0x02 : 0));
    if (header_crc) {
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(header.data()), static_cast<uInt>(header.size()));
        header.push_back(static_cast<char>(crc & 0xFF));
        header.push_back(static_cast<char>((crc >> 8) & 0xFF));
    }
    return header + gz.substr(10);
}

// libdeflate must give exactly what zlib gives, text or error, on damaged input too: every
// byte of a three-member stream flipped three ways, every truncation, caps around the size.
TEST(ArchiveCompression, FastInflateAgreesWithZlibOnEveryDamage) {
    const std::string text = sample_text(6);
    const std::string good =
        gzip_member(text) + gzip_with_header_fields("second\n", false) + gzip_with_header_fields(text, true);
    const auto same = [](std::string_view input, std::size_t cap) {
        return expanded(inflate_gzip(input, cap)) == expanded(inflate_gzip_reference(input, cap));
    };
    const std::size_t size = text.size() * 2 + 7;
    EXPECT_EQ(expanded(inflate_gzip(good, 1u << 20)), text + "second\n" + text);
    for (std::size_t i = 0; i < good.size(); ++i) {
        for (const unsigned mask : {0x01u, 0x80u, 0xFFu}) {
            std::string bad = good;
            bad[i] = static_cast<char>(static_cast<unsigned char>(bad[i]) ^ mask);
            EXPECT_TRUE(same(bad, 1u << 20)) << "byte " << i << " mask " << mask;
        }
        EXPECT_TRUE(same(std::string_view(good).substr(0, i), 1u << 20)) << "cut at " << i;
    }
    for (std::size_t cap = size - 3; cap <= size + 3; ++cap) EXPECT_TRUE(same(good, cap)) << "cap " << cap;
    for (const std::size_t cap : {std::size_t{0}, std::size_t{1}, text.size()}) EXPECT_TRUE(same(good, cap));
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
