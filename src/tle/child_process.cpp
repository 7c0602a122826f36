#include "tle/child_process.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace vardoln {

namespace {

using Clock = std::chrono::steady_clock;

// The output kept so far plus what standard error has written; either may hit the limit.
struct Capture {
    std::string& output;
    std::size_t error_bytes = 0;
    std::size_t limit;

    // False once a stream has gone over the limit.
    bool take(bool is_output, const char* data, std::size_t size) {
        if (!is_output) {
            error_bytes += size;
            return error_bytes <= limit;
        }
        if (size > limit - output.size()) return false;
        output.append(data, size);
        return true;
    }
};

}  // namespace

#ifndef _WIN32

namespace {

class FileDescriptor {
public:
    FileDescriptor() = default;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const noexcept { return fd_; }
    void adopt(int fd) noexcept {
        reset();
        fd_ = fd;
    }
    void reset() noexcept {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    FileDescriptor read_end;
    FileDescriptor write_end;
};

// Close-on-exec on both ends: the child only gets the copies placed on its descriptors 1 and 2,
// so the pipe reports end of file as soon as the child (and nothing else) is done with it.
bool open_pipe(Pipe& pipe) noexcept {
    int fds[2];
#ifdef __linux__
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    pipe.read_end.adopt(fds[0]);
    pipe.write_end.adopt(fds[1]);
    return true;
#else
    if (::pipe(fds) != 0) return false;
    pipe.read_end.adopt(fds[0]);
    pipe.write_end.adopt(fds[1]);
    return ::fcntl(fds[0], F_SETFD, FD_CLOEXEC) == 0 && ::fcntl(fds[1], F_SETFD, FD_CLOEXEC) == 0;
#endif
}

// A started child that is killed (if still wanted dead) and reaped on every way out.
class ChildHandle {
public:
    explicit ChildHandle(pid_t pid) noexcept : pid_(pid) {}
    ChildHandle(const ChildHandle&) = delete;
    ChildHandle& operator=(const ChildHandle&) = delete;
    ~ChildHandle() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }

    void kill() noexcept {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
    }

    // The wait status, or nothing when the child cannot be waited for (SIGCHLD ignored).
    std::optional<int> wait() noexcept {
        int status = 0;
        pid_t result;
        do {
            result = ::waitpid(pid_, &status, 0);
        } while (result < 0 && errno == EINTR);
        pid_ = -1;
        if (result < 0) return std::nullopt;
        return status;
    }

private:
    pid_t pid_;
};

struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    bool actions_ready = false;
    bool attributes_ready = false;

    SpawnSetup() = default;
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
    ~SpawnSetup() {
        if (actions_ready) posix_spawn_file_actions_destroy(&actions);
        if (attributes_ready) posix_spawnattr_destroy(&attributes);
    }

    bool prepare(int output_fd, int error_fd) noexcept {
        actions_ready = posix_spawn_file_actions_init(&actions) == 0;
        attributes_ready = actions_ready && posix_spawnattr_init(&attributes) == 0;
        if (!attributes_ready) return false;
        // The host interpreter ignores SIGPIPE and may block signals; the child starts clean.
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigset_t empty;
        sigemptyset(&empty);
        return posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0) == 0 &&
               posix_spawn_file_actions_adddup2(&actions, output_fd, 1) == 0 &&
               posix_spawn_file_actions_adddup2(&actions, error_fd, 2) == 0 &&
               posix_spawnattr_setsigdefault(&attributes, &defaults) == 0 &&
               posix_spawnattr_setsigmask(&attributes, &empty) == 0 &&
               posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK) == 0;
    }
};

enum class DrainEnd { Finished, OverLimit, TimedOut, Failed };

// Reads both pipes until both report end of file, whichever of them the child writes first.
DrainEnd drain(FileDescriptor& output_fd, FileDescriptor& error_fd, Capture& capture, Clock::time_point deadline) {
    std::array<FileDescriptor*, 2> owners = {&output_fd, &error_fd};
    std::array<pollfd, 2> polled = {{{output_fd.get(), POLLIN, 0}, {error_fd.get(), POLLIN, 0}}};
    char buffer[64 * 1024];
    while (polled[0].fd >= 0 || polled[1].fd >= 0) {
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (remaining <= 0) return DrainEnd::TimedOut;
        const int ready = ::poll(polled.data(), polled.size(), static_cast<int>(std::min<long long>(remaining, 1000)));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return DrainEnd::Failed;
        }
        for (std::size_t i = 0; i < polled.size(); ++i) {
            // poll skips entries with a negative descriptor and clears their revents
            if (polled[i].revents == 0) continue;
            const ssize_t got = ::read(polled[i].fd, buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (got <= 0) {
                owners[i]->reset();
                polled[i].fd = -1;
                continue;
            }
            if (!capture.take(i == 0, buffer, static_cast<std::size_t>(got))) return DrainEnd::OverLimit;
        }
    }
    return DrainEnd::Finished;
}

}  // namespace

ChildRun run_child_process(std::string_view program, const std::vector<std::string>& arguments,
                           const ChildLimits& limits) {
    ChildRun run;
    Pipe output_pipe;
    Pipe error_pipe;
    SpawnSetup setup;
    if (!open_pipe(output_pipe) || !open_pipe(error_pipe) ||
        !setup.prepare(output_pipe.write_end.get(), error_pipe.write_end.get()))
        return run;

    // posix_spawnp wants mutable strings; these copies live until it returns.
    std::vector<std::string> words;
    words.reserve(arguments.size() + 1);
    words.emplace_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    if (::posix_spawnp(&pid, words.front().c_str(), &setup.actions, &setup.attributes, argv.data(), environ) != 0)
        return run;
    ChildHandle child(pid);
    // Only the child may hold the write ends, or the pipes never report end of file.
    output_pipe.write_end.reset();
    error_pipe.write_end.reset();

    Capture capture{run.output, 0, limits.max_output_bytes};
    const DrainEnd end = drain(output_pipe.read_end, error_pipe.read_end, capture,
                               Clock::now() + std::chrono::seconds(limits.deadline_seconds));
    if (end != DrainEnd::Finished) child.kill();
    output_pipe.read_end.reset();
    error_pipe.read_end.reset();
    const std::optional<int> status = child.wait();

    switch (end) {
        case DrainEnd::OverLimit: run.status = ChildRun::Status::OutputTooLarge; break;
        case DrainEnd::TimedOut: run.status = ChildRun::Status::TimedOut; break;
        case DrainEnd::Failed: run.status = ChildRun::Status::Abnormal; break;
        case DrainEnd::Finished:
            if (status && WIFEXITED(*status)) {
                run.status = ChildRun::Status::Exited;
                run.exit_code = WEXITSTATUS(*status);
            } else {
                run.status = ChildRun::Status::Abnormal;
            }
            break;
    }
    if (run.status != ChildRun::Status::Exited) run.output.clear();
    return run;
}

#else  // _WIN32

namespace {

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) noexcept : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }

    HANDLE get() const noexcept { return handle_; }
    HANDLE* out() noexcept { return &handle_; }
    void reset() noexcept {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

// The command-line quoting that the C runtime undoes when it splits arguments: backslashes
// are literal except before a double quote, where they and the quote are escaped.
void append_quoted_argument(std::string& line, std::string_view argument) {
    line += '"';
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') backslashes = backslashes * 2 + 1;
        line.append(backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

// Only the parent's read end stays out of the child.
bool open_pipe(Handle& read_end, Handle& write_end) noexcept {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!::CreatePipe(read_end.out(), write_end.out(), &inherit, 0)) return false;
    return ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0) != 0;
}

}  // namespace

ChildRun run_child_process(std::string_view program, const std::vector<std::string>& arguments,
                           const ChildLimits& limits) {
    ChildRun run;
    Handle output_read, output_write, error_read, error_write;
    if (!open_pipe(output_read, output_write) || !open_pipe(error_read, error_write)) return run;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle input(::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));

    std::string command_line;
    append_quoted_argument(command_line, program);
    for (const std::string& argument : arguments) {
        command_line += ' ';
        append_quoted_argument(command_line, argument);
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output_write.get();
    startup.hStdError = error_write.get();
    PROCESS_INFORMATION process{};
    // No application name: the first word is looked up on the search path, ".exe" appended.
    if (!::CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &process))
        return run;
    Handle process_handle(process.hProcess);
    Handle thread_handle(process.hThread);
    output_write.reset();
    error_write.reset();
    input.reset();

    // Anonymous pipes cannot be waited on together, so both are polled for available bytes and
    // the wait on the process serves as the pause between rounds.
    Capture capture{run.output, 0, limits.max_output_bytes};
    const auto deadline = Clock::now() + std::chrono::seconds(limits.deadline_seconds);
    std::array<Handle*, 2> pipes = {&output_read, &error_read};
    char buffer[64 * 1024];
    ChildRun::Status ended = ChildRun::Status::Exited;
    while (ended == ChildRun::Status::Exited && (output_read.get() != nullptr || error_read.get() != nullptr)) {
        if (Clock::now() >= deadline) {
            ended = ChildRun::Status::TimedOut;
            break;
        }
        bool read_any = false;
        for (std::size_t i = 0; i < pipes.size(); ++i) {
            Handle& pipe = *pipes[i];
            if (pipe.get() == nullptr) continue;
            DWORD available = 0;
            if (!::PeekNamedPipe(pipe.get(), nullptr, 0, nullptr, &available, nullptr)) {
                pipe.reset();  // broken: the child has closed its end
                continue;
            }
            if (available == 0) continue;
            DWORD got = 0;
            const DWORD wanted = available < sizeof buffer ? available : static_cast<DWORD>(sizeof buffer);
            if (!::ReadFile(pipe.get(), buffer, wanted, &got, nullptr)) {
                pipe.reset();
                continue;
            }
            read_any = true;
            if (!capture.take(i == 0, buffer, got)) {
                ended = ChildRun::Status::OutputTooLarge;
                break;
            }
        }
        if (!read_any && ended == ChildRun::Status::Exited) ::WaitForSingleObject(process_handle.get(), 10);
    }
    if (ended != ChildRun::Status::Exited) ::TerminateProcess(process_handle.get(), 1);
    output_read.reset();
    error_read.reset();
    ::WaitForSingleObject(process_handle.get(), INFINITE);

    DWORD exit_code = 0;
    if (ended == ChildRun::Status::Exited && !::GetExitCodeProcess(process_handle.get(), &exit_code))
        ended = ChildRun::Status::Abnormal;
    run.status = ended;
    if (ended == ChildRun::Status::Exited) {
        run.exit_code = static_cast<int>(exit_code);
    } else {
        run.output.clear();
    }
    return run;
}

#endif

}  // namespace vardoln
