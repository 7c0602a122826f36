// Whole-file reading and the reader's view of a path's file name.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <variant>

#include <unistd.h>

#include "rinex/file_io.hpp"
#include "test_real_data.hpp"

namespace vardoln {
namespace {

TEST(FileName, LastComponentOrUnknown) {
    struct Case {
        const char* path;
        const char* name;
    };
    const Case cases[] = {
        {"site0010.24o", "site0010.24o"},
        {"/data/2024/site0010.24o", "site0010.24o"},
        {"C:\\data\\site0010.24o", "site0010.24o"},
        {"mixed/dirs\\and/name.obs", "name.obs"},
        {"a/./b.obs", "b.obs"},
        {"", "unknown.obs"},
        {"/", "unknown.obs"},
        {"dir/", "unknown.obs"},
        {"dir\\", "unknown.obs"},
        {".", "unknown.obs"},
        {"..", "unknown.obs"},
        {"dir/..", "unknown.obs"},
        {"dir/.", "unknown.obs"},
        {"dir/...", "..."},
        {".hidden", ".hidden"},
    };
    for (const Case& c : cases) EXPECT_EQ(file_name_of(c.path), c.name) << c.path;
}

TEST(ReadWholeFile, ReadsEveryByte) {
    const auto path = std::filesystem::temp_directory_path() / "vardoln_file_io_test.bin";
    std::string content(200000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 % 251);
    std::ofstream(path, std::ios::binary) << content;
    const auto read = read_whole_file(path.string());
    std::filesystem::remove(path);
    ASSERT_TRUE(std::holds_alternative<std::string>(read));
    EXPECT_EQ(std::get<std::string>(read), content);
}

TEST(ReadWholeFile, FailuresCarryTheSystemText) {
    struct Case {
        std::string path;
        int code;
        const char* suffix;
    };
    const Case cases[] = {
        {"/nonexistent/dir/file.obs", 2, " (os error 2)"},
        {std::filesystem::temp_directory_path().string(), 21, " (os error 21)"},
    };
    for (const Case& c : cases) {
        const auto read = read_whole_file(c.path);
        ASSERT_TRUE(std::holds_alternative<FileError>(read)) << c.path;
        const FileError& error = std::get<FileError>(read);
        EXPECT_EQ(error.code, c.code);
        EXPECT_TRUE(error.message.ends_with(c.suffix)) << error.message;
        EXPECT_GT(error.message.size(), std::string(c.suffix).size());
    }
}

TEST(ReadWholeFile, RefusesEmbeddedNul) {
    const auto read = read_whole_file(std::string("/tmp\0/x", 7));
    ASSERT_TRUE(std::holds_alternative<FileError>(read));
    EXPECT_EQ(std::get<FileError>(read).code, 0);
}

TEST(ReadWholeFile, ReadsRealRecordingWhole) {
    const auto path = test::real_file("obs3/z_tracking.rnx");
    if (!path) GTEST_SKIP() << "z_tracking.rnx not present";
    const auto read = read_whole_file(path->string());
    ASSERT_TRUE(std::holds_alternative<std::string>(read));
    EXPECT_EQ(std::get<std::string>(read).size(), std::filesystem::file_size(*path));
}

}  // namespace
}  // namespace vardoln

namespace vardoln {
namespace {

TEST(FileIo, DevicesAreRefusedInsteadOfReadForever) {
    for (const char* device : {"/dev/zero", "/dev/urandom", "/dev/null"}) {
        if (::access(device, R_OK) != 0) continue;
        const auto result = read_whole_file(device);
        ASSERT_TRUE(std::holds_alternative<FileError>(result)) << device;
        EXPECT_EQ(std::get<FileError>(result).message, "Invalid argument (os error 22)") << device;
    }
}

}  // namespace
}  // namespace vardoln
