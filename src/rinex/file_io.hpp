// Whole-file reading by path and page hints for large blocks: the one place where the core
// meets the operating system.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <variant>

namespace vardoln {

struct FileError {
    std::string message;  // "<system description> (os error <code>)"
    int code = 0;         // errno; 0 when the failure has no system code
};

// The file's bytes, or the system's reason for not reading them. A file of more than
// `max_bytes` bytes fails with EFBIG: a regular file before anything is read, a pipe as soon as
// its bytes pass the bound.
std::variant<std::string, FileError> read_whole_file(const std::string& path,
                                                     std::size_t max_bytes = static_cast<std::size_t>(-1));

// A large block about to be written once from start to end (an inflated file, an export):
// where the system offers transparent huge pages, its pages are asked for in 2 MiB units, one
// fault each instead of one per 4 KiB page. Only a hint: nothing changes where there are none.
void prefer_large_pages(void* data, std::size_t size) noexcept;

// The name a reader sees for a path: its last component, "/" and "\" both separating
// components; "unknown.obs" when there is none ("dir/", "..", ".").
std::string file_name_of(std::string_view path);

}  // namespace vardoln
