#include "tle/tle_download.hpp"

namespace vardoln {

bool is_valid_utf8(std::string_view text) noexcept {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // The second byte's range carries the rules against overlong forms (E0, F0), surrogates
        // (ED) and code points beyond U+10FFFF (F4); C0, C1 and F5..FF never lead.
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (size - i < length) return false;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k)
            if (bytes[i + k] < 0x80 || bytes[i + k] > 0xBF) return false;
        i += length;
    }
    return true;
}

#ifdef _WIN32

// PowerShell prints the response body of a web request with a 10-second time-out.
std::vector<std::string> downloader_arguments(std::string_view url) {
    std::string command = "(Invoke-WebRequest -Uri '";
    command += url;
    command += "' -TimeoutSec 10).Content";
    return {"-Command", std::move(command)};
}

#else

std::vector<std::string> downloader_arguments(std::string_view url) {
    return {
        "-q",  // first, so that no user configuration file changes the request
        "--fail",
        "--silent",
        "--proto", "=https",
        // The hosts answer old paths with redirects, which PowerShell follows as well.
        "--location",
        "--proto-redir", "=https",
        "--max-redirs", "5",
        "--max-time", "10",
        std::string(url),
    };
}

#endif

bool is_catalogue_download(const ChildRun& run) noexcept {
    const std::string_view text = run.output;
    return run.status == ChildRun::Status::Exited && run.exit_code == 0 && is_valid_utf8(text) &&
           text.find("1 ") != std::string_view::npos && text.find("2 ") != std::string_view::npos;
}

std::variant<std::string, TleDownloadError> download_tle_text_from(std::string_view program,
                                                                   std::span<const std::string_view> urls,
                                                                   const ChildLimits& limits) {
    // Why an attempt failed is of no use to the caller: the next source is simply tried.
    for (std::string_view url : urls) {
        ChildRun run = run_child_process(program, downloader_arguments(url), limits);
        if (is_catalogue_download(run)) return std::move(run.output);
    }
    return TleDownloadError{std::string(kTleDownloadFailure)};
}

std::variant<std::string, TleDownloadError> download_tle_text() {
    return download_tle_text_from(kTleDownloader, kTleSources);
}

}  // namespace vardoln
