#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace jet::testkit {

unsigned long ProcessId() {
#ifdef _WIN32
    return ::GetCurrentProcessId();
#else
    return static_cast<unsigned long>(::getpid());
#endif
}

Output Run(const std::string& command) {
    Output out;
#ifdef _WIN32
    FILE* pipe = ::_popen(command.c_str(), "rb");
#else
    FILE* pipe = ::popen(command.c_str(), "r");
#endif
    if (!pipe) return out;
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.text.append(buffer, n);
#ifdef _WIN32
    out.status = ::_pclose(pipe);
#else
    int status = ::pclose(pipe);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return out;
}

std::string Quote(const std::string& s) {
#ifdef _WIN32
    return "\"" + s + "\"";
#else
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
#endif
}

bool HaveCommand(const std::string& name) {
    return Run("command -v " + name + " >/dev/null 2>&1").status == 0;
}

int Spawn(const std::vector<std::string>& argv, std::string* out) {
#ifdef _WIN32
    (void)argv;
    (void)out;
    return -1;
#else
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (spawned != 0) {
        close(pipe_fds[0]);
        return -1;
    }
    char buffer[65536];
    ssize_t n;
    while ((n = read(pipe_fds[0], buffer, sizeof buffer)) > 0)
        if (out) out->append(buffer, static_cast<size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string JetutilPath() {
    return JETUTIL_PATH;
}

std::string JetutilCommand() {
    std::string path = JetutilPath();
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') {
        for (char& c : path)
            if (c == '/') c = '\\';
        path = "Z:" + path;
    }
#endif
    return path;
}

#ifdef _WIN32

struct Child::Handles {
    HANDLE process = nullptr;
    HANDLE in = nullptr;   // the child's stdin, our end
    HANDLE out = nullptr;  // the child's stdout, our end
    int signalled = 0;
    int status = -1;
};

namespace {

// The arguments quoted as CommandLineToArgvW splits them.
std::wstring CommandLine(const std::vector<std::string>& argv) {
    std::wstring line;
    for (const std::string& arg : argv) {
        const int n =
            ::MultiByteToWideChar(CP_UTF8, 0, arg.data(), static_cast<int>(arg.size()), nullptr, 0);
        std::wstring wide(static_cast<size_t>(n), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, arg.data(), static_cast<int>(arg.size()), wide.data(), n);
        if (!line.empty()) line += L' ';
        line += L'"';
        size_t backslashes = 0;
        for (wchar_t c : wide) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            line.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
            backslashes = 0;
            line += c;
        }
        line.append(2 * backslashes, L'\\');
        line += L'"';
    }
    return line;
}

}  // namespace

Child::Child(const std::vector<std::string>& argv) : h_(std::make_unique<Handles>()) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE in_read, in_write, out_read, out_write;
    if (!::CreatePipe(&in_read, &in_write, &inherit, 0) ||
        !::CreatePipe(&out_read, &out_write, &inherit, 0))
        throw std::runtime_error("pipe");
    // Only the child's ends are inherited.
    ::SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in_read;
    startup.hStdOutput = out_write;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    std::wstring line = CommandLine(argv);
    PROCESS_INFORMATION info{};
    const BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                          nullptr, &startup, &info);
    ::CloseHandle(in_read);
    ::CloseHandle(out_write);
    h_->in = in_write;
    h_->out = out_read;
    if (!started) {
        CloseStdin();
        ::CloseHandle(h_->out);
        throw std::runtime_error("spawn " + argv[0]);
    }
    ::CloseHandle(info.hThread);
    h_->process = info.hProcess;
}

Child::~Child() {
    if (h_->process != nullptr) {
        Signal(SIGKILL);
        Wait();
    }
    CloseStdin();
    ::CloseHandle(h_->out);
}

std::string Child::ReadLine() {
    std::string line;
    const ULONGLONG deadline = ::GetTickCount64() + 30000;
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(h_->out, nullptr, 0, nullptr, &available, nullptr)) return line;
        if (available == 0) {
            if (::GetTickCount64() >= deadline) return line;
            ::Sleep(5);
            continue;
        }
        char c;
        DWORD got = 0;
        if (!::ReadFile(h_->out, &c, 1, &got, nullptr) || got != 1) return line;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        line += c;
    }
}

void Child::CloseStdin() {
    if (h_->in != nullptr) ::CloseHandle(h_->in);
    h_->in = nullptr;
}

void Child::Signal(int signal) {
    if (h_->process == nullptr) return;
    if (::TerminateProcess(h_->process, 128 + static_cast<UINT>(signal))) h_->signalled = signal;
}

int Child::Wait() {
    if (h_->process == nullptr) return h_->status;
    ::WaitForSingleObject(h_->process, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(h_->process, &code);
    ::CloseHandle(h_->process);
    h_->process = nullptr;
    h_->status = h_->signalled != 0 ? -h_->signalled : static_cast<int>(code);
    return h_->status;
}

#else

struct Child::Handles {
    pid_t pid = -1;
    int in = -1;   // the child's stdin, our end
    int out = -1;  // the child's stdout, our end
    int status = -1;
};

Child::Child(const std::vector<std::string>& argv) : h_(std::make_unique<Handles>()) {
    int in[2], out[2];
    // Close-on-exec, so no other child inherits them; dup2 clears the flag on 0 and 1.
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawn(&h_->pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    h_->in = in[1];
    h_->out = out[0];
    if (rc != 0) {
        h_->pid = -1;
        CloseStdin();
        ::close(h_->out);
        throw std::runtime_error("spawn " + argv[0]);
    }
}

Child::~Child() {
    if (h_->pid > 0) {
        ::kill(h_->pid, SIGKILL);
        Wait();
    }
    CloseStdin();
    ::close(h_->out);
}

std::string Child::ReadLine() {
    std::string line;
    char c;
    for (;;) {
        struct pollfd fd {
            h_->out, POLLIN, 0
        };
        if (::poll(&fd, 1, 30000) <= 0) return line;
        if (::read(h_->out, &c, 1) != 1) return line;
        if (c == '\n') return line;
        line += c;
    }
}

void Child::CloseStdin() {
    if (h_->in >= 0) ::close(h_->in);
    h_->in = -1;
}

// Only a child still running is signalled: kill() with pid -1 would reach every process.
void Child::Signal(int signal) {
    if (h_->pid > 0) ::kill(h_->pid, signal);
}

int Child::Wait() {
    if (h_->pid <= 0) return h_->status;
    int status = 0;
    ::waitpid(h_->pid, &status, 0);
    h_->pid = -1;
    h_->status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return h_->status;
}

#endif

std::unique_ptr<Child> HoldWithJetutil(const std::string& path, bool exclusive) {
    std::vector<std::string> argv{JetutilPath(), "hold"};
    if (exclusive) argv.push_back("--exclusive");
    argv.push_back(path);
    auto child = std::make_unique<Child>(argv);
    const std::string line = child->ReadLine();
    EXPECT_EQ(line.rfind(exclusive ? "open exclusive" : "open shared slot ", 0), 0u) << line;
    return child;
}

}  // namespace jet::testkit
