#include "rinex/file_io.hpp"
#include "rinex/counters.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardoln {

namespace {

FileError system_error(int code) {
    // strerror is not thread-safe; strerror_r (GNU or XSI flavour) writes into our buffer or
    // returns a static text.
    char buffer[256] = {};
    const auto result = strerror_r(code, buffer, sizeof buffer);
    std::string text;
    if constexpr (std::is_same_v<decltype(result), const int>) {
        text = result == 0 ? buffer : "Unknown error";
    } else {
        text = result != nullptr ? result : buffer;
    }
    text.append(" (os error ").append(std::to_string(code)).append(")");
    return FileError{std::move(text), code};
}

// Closes the descriptor on every path out of read_whole_file.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

std::variant<std::string, FileError> read_whole_file(const std::string& path, std::size_t max_bytes) {
    // The system would see a path cut at its first NUL byte: refuse it instead of reading
    // some other file.
    if (path.find('\0') != std::string::npos) {
        return FileError{"file name contained an unexpected NUL byte", 0};
    }
    // Opening a FIFO for reading blocks until some process opens it for writing, which may
    // never happen: open without waiting, then read in blocking mode, where a FIFO without a
    // writer reads as empty and one with a writer reads until that writer closes it.
    Descriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) return system_error(errno);
    count(core_counters().files_read);

    std::string bytes;
    struct stat info {};
    const int flags = ::fcntl(file.fd, F_GETFL);
    if (flags < 0 || ::fcntl(file.fd, F_SETFL, flags & ~O_NONBLOCK) < 0) return system_error(errno);
    if (::fstat(file.fd, &info) != 0) return system_error(errno);
    // Devices never end (/dev/zero, /dev/urandom) or are not recordings at all: refuse them
    // rather than read until memory runs out.
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) || S_ISSOCK(info.st_mode)) return system_error(EINVAL);
    // The size only sizes the first buffer of a regular file; the loop reads to the end
    // whatever it finds (files may grow, /proc files report 0).
    std::size_t capacity = 1 << 16;
    if (S_ISREG(info.st_mode) && static_cast<std::uint64_t>(info.st_size) > max_bytes) return system_error(EFBIG);
    if (S_ISREG(info.st_mode) && info.st_size > 0) {
        capacity = static_cast<std::size_t>(info.st_size) + 1;  // +1 sees the end in one pass
    }
    bytes.resize(capacity);
    std::size_t used = 0;
    for (;;) {
        // Growth stops one byte past the bound: that byte is enough to refuse the file.
        if (used == bytes.size()) bytes.resize(std::min(bytes.size() * 2, std::max(max_bytes, max_bytes + 1)));
        const ssize_t count = ::read(file.fd, bytes.data() + used, bytes.size() - used);
        if (count > 0) {
            used += static_cast<std::size_t>(count);
            if (used > max_bytes) return system_error(EFBIG);
        } else if (count == 0) {
            break;
        } else if (errno != EINTR) {
            return system_error(errno);  // a directory gives EISDIR here
        }
    }
    bytes.resize(used);
    return bytes;
}

std::string file_name_of(std::string_view path) {
    const std::size_t separator = path.find_last_of("/\\");
    const std::string_view last = separator == std::string_view::npos ? path : path.substr(separator + 1);
    if (last.empty() || last == "." || last == "..") return "unknown.obs";
    return std::string(last);
}

void prefer_large_pages(void* data, std::size_t size) noexcept {
#ifdef MADV_HUGEPAGE
    // Only the 2 MiB-aligned part inside the block is advised, so that no neighbouring memory
    // changes its pages.
    constexpr std::uintptr_t kHugePage = std::uintptr_t{1} << 21;
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHugePage - 1);
    if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

}  // namespace vardoln
