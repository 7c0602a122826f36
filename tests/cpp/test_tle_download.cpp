#include "tle/tle_download.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <variant>
#include <vector>

#ifndef _WIN32
#include <stdlib.h>
#endif
#include <string>

namespace vardoln {
namespace {

TEST(Utf8, StrictValidation) {
    struct Case {
        std::string_view what;
        std::string_view bytes;
        bool valid;
    };
    const Case cases[] = {
        {"empty", "", true},
        {"ASCII", "1 24876U", true},
        {"two bytes", "\xC3\xA9", true},
        {"three bytes", "\xE2\x82\xAC", true},
        {"four bytes", "\xF0\x9D\x84\x9E", true},
        {"last before surrogates", "\xED\x9F\xBF", true},
        {"first after surrogates", "\xEE\x80\x80", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", true},
        {"NUL", std::string_view("a\0b", 3), true},
        {"overlong NUL", "\xC0\x80", false},
        {"overlong two bytes", "\xC1\xBF", false},
        {"overlong three bytes", "\xE0\x9F\xBF", false},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", false},
        {"first surrogate", "\xED\xA0\x80", false},
        {"last surrogate", "\xED\xBF\xBF", false},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", false},
        {"F5 lead", "\xF5\x80\x80\x80", false},
        {"FF", "\xFF", false},
        {"lone continuation", "a\x80", false},
        {"truncated two bytes", "\xC3", false},
        {"truncated three bytes", "\xE2\x82", false},
        {"truncated four bytes", "\xF0\x9D\x84", false},
        {"bad continuation", "\xE2\x28\xA1", false},
        {"Latin-1 text", "GPS \xE9", false},
    };
    for (const Case& test : cases) EXPECT_EQ(is_valid_utf8(test.bytes), test.valid) << test.what;
}

TEST(CatalogueDownload, AcceptanceTest) {
    struct Case {
        std::string_view what;
        ChildRun run;
        bool accepted;
    };
    using Status = ChildRun::Status;
    const Case cases[] = {
        {"catalogue", {Status::Exited, 0, "GPS (PRN 1)\n1 2\n2 3\n"}, true},
        {"only the starts are looked for", {Status::Exited, 0, "x1 2 "}, true},
        {"empty success", {Status::Exited, 0, ""}, false},
        {"error page", {Status::Exited, 0, "<html>404 Not Found</html>"}, false},
        {"line 2 missing", {Status::Exited, 0, "1 25544U"}, false},
        {"non-zero exit", {Status::Exited, 22, "1 x\n2 y\n"}, false},
        {"invalid UTF-8", {Status::Exited, 0, "\xE9\n1 x\n2 y\n"}, false},
        {"not started", {Status::NotStarted, -1, ""}, false},
        {"killed", {Status::OutputTooLarge, -1, ""}, false},
    };
    for (const Case& test : cases) EXPECT_EQ(is_catalogue_download(test.run), test.accepted) << test.what;
}

TEST(CatalogueDownload, SourcesInOrder) {
    ASSERT_EQ(std::size(kTleSources), 3u);
    EXPECT_EQ(kTleSources[0], "https://celestrak.org/NORAD/elements/gp.php?GROUP=gnss&FORMAT=tle");
    EXPECT_EQ(kTleSources[1], "https://celestrak.org/NORAD/elements/gnss.txt");
    EXPECT_EQ(kTleSources[2], "https://celestrak.com/NORAD/elements/gnss.txt");
}

#ifndef _WIN32

constexpr std::string_view kCatalogue = "GPS BIIR-2  (PRN 13)\\n1 24876U\\n2 24876\\n";

// A stand-in downloader: its behaviour is chosen by the last path segment of the URL, which
// curl receives as its last argument.
constexpr std::string_view kFakeDownloader = R"(#!/bin/sh
for argument; do url=$argument; done
case "$url" in
  */catalogue*) printf "$CATALOGUE%s" "$url" ;;
  */error-page) printf '<html><body>Service unavailable</body></html>' ;;
  */failing) printf "$CATALOGUE"; exit 22 ;;
  */latin1) printf 'GPS \351\n1 x\n2 y\n' ;;
  */huge) head -c 20971520 /dev/zero ;;
  */endless) yes 'GPS (PRN 1)' ;;
  */chatty*) head -c 8388608 /dev/zero >&2; printf "$CATALOGUE%s" "$url" ;;
  */arguments) printf '%s\n' "$@"; printf '1 2 ' ;;
  *) exit 6 ;;
esac
)";

class FakeDownloader : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "vardoln-tle-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
        program_ = (directory_ / "downloader").string();
        std::string script(kFakeDownloader);
        script.insert(script.find('\n') + 1, "CATALOGUE='" + std::string(kCatalogue) + "'\n");
        std::ofstream(program_) << script;
        std::filesystem::permissions(program_, std::filesystem::perms::owner_all);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }

    std::string download(std::initializer_list<std::string_view> urls, const ChildLimits& limits = {}) {
        const std::vector<std::string_view> list(urls);
        auto result = download_tle_text_from(program_, list, limits);
        if (const auto* error = std::get_if<TleDownloadError>(&result)) return "error: " + error->message;
        return std::get<std::string>(std::move(result));
    }

    std::filesystem::path directory_;
    std::string program_;
};

const std::string kExpectedFrom = "GPS BIIR-2  (PRN 13)\n1 24876U\n2 24876\nhttps://t.test/";
const std::string kFailure = "error: " + std::string(kTleDownloadFailure);

TEST_F(FakeDownloader, FirstAcceptableSourceWins) {
    struct Case {
        std::string_view what;
        std::vector<std::string_view> urls;
        std::string expected;
    };
    const Case cases[] = {
        {"first source", {"https://t.test/catalogue-1", "https://t.test/catalogue-2"}, kExpectedFrom + "catalogue-1"},
        {"error page skipped", {"https://t.test/error-page", "https://t.test/catalogue-2"}, kExpectedFrom + "catalogue-2"},
        {"non-zero exit skipped", {"https://t.test/failing", "https://t.test/catalogue-2"}, kExpectedFrom + "catalogue-2"},
        {"invalid UTF-8 skipped", {"https://t.test/latin1", "https://t.test/catalogue-2"}, kExpectedFrom + "catalogue-2"},
        {"third source",
         {"https://t.test/failing", "https://t.test/error-page", "https://t.test/catalogue-3"},
         kExpectedFrom + "catalogue-3"},
        {"all failing", {"https://t.test/failing", "https://t.test/error-page", "https://t.test/latin1"}, kFailure},
        {"no sources", {}, kFailure},
    };
    for (const Case& test : cases) {
        auto result = download_tle_text_from(program_, test.urls);
        const auto* text = std::get_if<std::string>(&result);
        const std::string got = text ? *text : "error: " + std::get<TleDownloadError>(result).message;
        EXPECT_EQ(got, test.expected) << test.what;
    }
}

TEST_F(FakeDownloader, OversizedOutputIsRefused) {
    // 20 MiB is over the 16 MiB cap: the child is killed and the next source answers.
    EXPECT_EQ(download({"https://t.test/huge", "https://t.test/catalogue-2"}), kExpectedFrom + "catalogue-2");
    // A child that never stops writing is killed at the cap as well.
    EXPECT_EQ(download({"https://t.test/endless"}, ChildLimits{1 << 20, 60}), kFailure);
}

TEST_F(FakeDownloader, ChattyStandardErrorDoesNotStall) {
    EXPECT_EQ(download({"https://t.test/chatty-catalogue"}), kExpectedFrom + "chatty-catalogue");
}

TEST_F(FakeDownloader, UrlArrivesAsOneArgumentWithoutShell) {
    const std::string url = "https://t.test/q?GROUP=gnss&FORMAT=tle;$(exit 1) 'x'/arguments";
    const std::string output = download({url});
    EXPECT_NE(output.find("\n" + url + "\n"), std::string::npos) << output;
    for (std::string_view flag : {"--fail\n", "--proto\n=https\n", "--max-time\n10\n"})
        EXPECT_NE(output.find(flag), std::string::npos) << flag;
}

// Zero where the system does not list a process's descriptors.
std::size_t open_descriptor_count() {
    std::error_code error;
    std::size_t count = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end; it.increment(error))
        ++count;
    return count;
}

TEST(ChildProcess, MissingProgram) {
    for (std::string_view program : {"vardoln-no-such-downloader", "/nonexistent/vardoln/curl"}) {
        const ChildRun run = run_child_process(program, {"--version"});
        EXPECT_EQ(run.status, ChildRun::Status::NotStarted) << program;
        const std::string_view urls[] = {"https://t.test/a", "https://t.test/b", "https://t.test/c"};
        const auto result = download_tle_text_from(program, urls);
        ASSERT_TRUE(std::holds_alternative<TleDownloadError>(result)) << program;
        EXPECT_EQ(std::get<TleDownloadError>(result).message, kTleDownloadFailure);
    }
}

TEST(ChildProcess, ExitCodeAndOutput) {
    struct Case {
        std::string_view script;
        ChildRun::Status status;
        int exit_code;
        std::string_view output;
    };
    const Case cases[] = {
        {"printf 'a b\\n'", ChildRun::Status::Exited, 0, "a b\n"},
        {"printf 'partial'; exit 3", ChildRun::Status::Exited, 3, "partial"},
        {"echo noise >&2", ChildRun::Status::Exited, 0, ""},
        {"read line && echo got", ChildRun::Status::Exited, 1, ""},  // standard input is empty
        {"kill -9 $$", ChildRun::Status::Abnormal, -1, ""},
    };
    const std::size_t open_before = open_descriptor_count();
    for (const Case& test : cases) {
        const ChildRun run = run_child_process("sh", {"-c", std::string(test.script)});
        EXPECT_EQ(run.status, test.status) << test.script;
        EXPECT_EQ(run.exit_code, test.exit_code) << test.script;
        EXPECT_EQ(run.output, test.output) << test.script;
    }
    EXPECT_EQ(open_descriptor_count(), open_before) << "pipes left open";
}

TEST(ChildProcess, DeadlineKillsAStuckChild) {
    const ChildRun run = run_child_process("sleep", {"30"}, ChildLimits{1 << 20, 1});
    EXPECT_EQ(run.status, ChildRun::Status::TimedOut);
}

#endif

}  // namespace
}  // namespace vardoln
