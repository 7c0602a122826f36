// The memory budget of a recording: files refused before they are read, archives stopped as
// soon as their expansion passes the budget.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <variant>

#include "arrays/recording.hpp"
#include "rinex/file_io.hpp"
#include "test_archive_support.hpp"
#include "test_real_data.hpp"

namespace vardoln::arrays {
namespace {

TEST(MemoryBudget, FilesOverTheBoundAreRefusedUnread) {
    const auto path = std::filesystem::temp_directory_path() / "vardoln_budget_test.obs";
    std::ofstream(path, std::ios::binary) << std::string(5000, 'x');
    const auto exact = read_whole_file(path.string(), 5000);
    const auto over = read_whole_file(path.string(), 4999);
    EXPECT_EQ(budget_fit(path.string(), 5000), BudgetFit::within);
    EXPECT_EQ(budget_fit(path.string(), 4999), BudgetFit::file_over);
    std::filesystem::remove(path);
    ASSERT_TRUE(std::holds_alternative<std::string>(exact));
    EXPECT_EQ(std::get<std::string>(exact).size(), 5000u);
    ASSERT_TRUE(std::holds_alternative<FileError>(over));
    EXPECT_EQ(std::get<FileError>(over).code, EFBIG);
    EXPECT_EQ(budget_fit("/nonexistent/x.obs", 10), BudgetFit::within);  // the reader reports it
}

TEST(MemoryBudget, ArchivesAreJudgedByTheirExpansion) {
    // A compression bomb: a megabyte of blanks in about a kilobyte.
    const std::string bomb = archive_testing::gzip_member(std::string(1 << 20, ' '), 9);
    EXPECT_EQ(archive_budget_fit(bomb, 64 * 1024), BudgetFit::expansion_over);
    // The readers' own bound for its size (64 times) is below this budget: nothing to expand.
    EXPECT_EQ(archive_budget_fit(bomb, 64 * bomb.size()), BudgetFit::within);
    EXPECT_EQ(archive_budget_fit(bomb, bomb.size() - 1), BudgetFit::file_over);

    // A real compact RINEX file, and that file gzipped: over a budget below its text, within one above.
    const auto crinex = test::real_bytes("crinex/delf0010.21d");
    const auto text = test::real_text("crinex/delf0010.21d");
    if (!crinex || !text) GTEST_SKIP() << "delf0010.21d not present";
    for (const std::string& bytes : {*crinex, archive_testing::gzip_member(*crinex)}) {
        EXPECT_EQ(archive_budget_fit(bytes, text->size() - 1), BudgetFit::expansion_over);
        EXPECT_EQ(archive_budget_fit(bytes, text->size()), BudgetFit::within);
    }
    // A damaged archive is no budget matter: its reader words the fault.
    const std::string damaged = std::string("\x1f\x8b\x08\x00", 4) + std::string(200, '\xff');
    EXPECT_EQ(archive_budget_fit(damaged, 300), BudgetFit::within);
}

}  // namespace
}  // namespace vardoln::arrays
