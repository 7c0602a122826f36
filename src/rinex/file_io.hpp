// Whole-file reading by path, the one place where the readers meet the file system.
#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace vardoln {

struct FileError {
    std::string message;  // "<system description> (os error <code>)"
    int code = 0;         // errno; 0 when the failure has no system code
};

// The file's bytes, or the system's reason for not reading them.
std::variant<std::string, FileError> read_whole_file(const std::string& path);

// The name a reader sees for a path: its last component, "/" and "\" both separating
// components; "unknown.obs" when there is none ("dir/", "..", ".").
std::string file_name_of(std::string_view path);

}  // namespace vardoln
