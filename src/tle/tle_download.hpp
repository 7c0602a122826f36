// Fetching the GNSS element-set catalogue from CelesTrak through a command-line downloader.
#pragma once

#include "tle/child_process.hpp"

#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vardoln {

inline constexpr std::string_view kTleDownloadFailure = "Failed to download TLE from all sources";

// The sources in the order they are tried.
inline constexpr std::string_view kTleSources[] = {
    "https://celestrak.org/NORAD/elements/gp.php?GROUP=gnss&FORMAT=tle",
    "https://celestrak.org/NORAD/elements/gnss.txt",
    "https://celestrak.com/NORAD/elements/gnss.txt",
};

#ifdef _WIN32
inline constexpr std::string_view kTleDownloader = "powershell";
#else
inline constexpr std::string_view kTleDownloader = "curl";
#endif

struct TleDownloadError {
    std::string message;
};

// The catalogue text exactly as the downloader printed it, from the first source that gives
// one; the only error is kTleDownloadFailure. Blocks while each child process runs.
std::variant<std::string, TleDownloadError> download_tle_text();

// The same with the downloader program and the sources given, so that tests can stand in a
// fake downloader. The program receives the fixed arguments of downloader_arguments.
std::variant<std::string, TleDownloadError> download_tle_text_from(std::string_view program,
                                                                   std::span<const std::string_view> urls,
                                                                   const ChildLimits& limits = {});

// The downloader's arguments for one URL: a silent, HTTPS-only, 10-second request whose body
// goes to standard output and whose HTTP errors give a non-zero exit code.
std::vector<std::string> downloader_arguments(std::string_view url);

// Whether a finished download is a catalogue: exit code 0, valid UTF-8, and the starts of
// both element lines somewhere in the text.
bool is_catalogue_download(const ChildRun& run) noexcept;

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text) noexcept;

}  // namespace vardoln
