// Real recordings for the tests, found by their path under the shared data folder: in
// $VARDOLN_TEST_DATA, then ../shared/data (passed over when VARDOLN_NO_SHARED_DATA is set, to
// test as a clone without it would), then the copies bundled in tests/data/real, plain or
// gzip-compressed with ".gz" added.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "archive/archive.hpp"

namespace vardoln::test {

namespace real_data_detail {

inline std::optional<std::string> read_whole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The bundled copies are single gzip members written by scripts/bundle_real_data.py.
inline std::optional<std::string> gunzip(const std::string& packed) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return std::nullopt;
    std::string text;
    char chunk[1 << 16];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        text.append(chunk, sizeof chunk - stream.avail_out);
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) return std::nullopt;
    return text;
}

}  // namespace real_data_detail

inline const std::filesystem::path kBundledData = std::filesystem::path(VARDOLN_TEST_DATA) / "real";

// The directories that may hold the whole set of recordings, in the order searched.
inline std::vector<std::filesystem::path> full_data_directories() {
    std::vector<std::filesystem::path> directories;
    if (const char* chosen = std::getenv("VARDOLN_TEST_DATA"); chosen != nullptr && *chosen != '\0')
        directories.emplace_back(chosen);
    if (const char* hidden = std::getenv("VARDOLN_NO_SHARED_DATA"); hidden == nullptr || *hidden == '\0')
        directories.emplace_back(VARDOLN_SHARED_DATA);
    return directories;
}

// The whole set, for tests that walk every file of a folder; the bundled copies when it is absent.
inline std::filesystem::path data_root() {
    for (const auto& directory : full_data_directories())
        if (std::filesystem::is_directory(directory)) return directory;
    return kBundledData;
}

// Where the named recording is, or nothing: a bundled ".gz" copy is returned under that name.
inline std::optional<std::filesystem::path> real_file(std::string_view relative) {
    for (const auto& directory : full_data_directories())
        if (std::filesystem::is_regular_file(directory / relative)) return directory / relative;
    for (const std::string suffix : {"", ".gz"}) {
        const auto bundled = kBundledData / (std::string(relative) + suffix);
        if (std::filesystem::is_regular_file(bundled)) return bundled;
    }
    return std::nullopt;
}

// The named recording's bytes as the shared data folder holds them (a bundled ".gz" copy is
// inflated), or nothing when it is nowhere.
inline std::optional<std::string> real_bytes(std::string_view relative) {
    const auto path = real_file(relative);
    if (!path) return std::nullopt;
    auto bytes = real_data_detail::read_whole(*path);
    if (bytes && path->extension() == ".gz" && !std::string_view(relative).ends_with(".gz"))
        return real_data_detail::gunzip(*bytes);
    return bytes;
}

// The named recording as plain RINEX text, compact RINEX and compression removed.
inline std::optional<std::string> real_text(std::string_view relative) {
    auto bytes = real_bytes(relative);
    if (!bytes) return std::nullopt;
    auto expanded = expand_archive(std::move(*bytes));
    if (auto* text = std::get_if<std::string>(&expanded)) return std::move(*text);
    return std::nullopt;
}

// The recordings of one folder (such as "obs3") of data_root(), by their path under the shared
// data folder, sorted; ".gz" of bundled copies removed.
inline std::vector<std::string> real_files_in(std::string_view folder) {
    std::vector<std::string> names;
    const auto directory = data_root() / folder;
    if (!std::filesystem::is_directory(directory)) return names;
    const bool bundled = data_root() == kBundledData;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (!entry.is_regular_file()) continue;
        std::string name = entry.path().filename().string();
        if (bundled && name.ends_with(".gz")) name.resize(name.size() - 3);
        names.push_back(std::string(folder) + "/" + name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace vardoln::test
