// Helpers shared by the database, update and lock-file tests: temporary folders, copies of
// corpus files, mdbtools as an outside reader, and child processes (jetutil hold).
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#ifndef SIGKILL
#define SIGKILL 9
#endif
#else
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace jettest {

namespace fs = std::filesystem;

inline unsigned long ProcessId() {
#ifdef _WIN32
    return ::GetCurrentProcessId();
#else
    return static_cast<unsigned long>(::getpid());
#endif
}

// A folder of its own for one test, removed afterwards.
class TempDir {
  public:
    TempDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        static int count = 0;  // several folders in one test stay apart
        path_ = fs::temp_directory_path() /
                ("jet_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
                 std::to_string(ProcessId()) + "_" + std::to_string(++count));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

inline std::string CorpusFile(const std::string& name) {
    return (fs::path(JET_CORPUS_DIR) / name).string();
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline bool HaveMdbTools() {
    return std::system("mdb-export --version >/dev/null 2>&1") == 0;
}

struct Output {
    int status = -1;
    std::string text;
};

// Runs a shell command and captures its standard output.
inline Output Run(const std::string& command) {
    Output out;
#ifdef _WIN32
    FILE* pipe = ::_popen(command.c_str(), "rb");
#else
    FILE* pipe = ::popen(command.c_str(), "r");
#endif
    if (!pipe) return out;
    char buffer[4096];
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

// A word of a command line for the shell Run uses (sh; cmd.exe on Windows, where a path holds
// no double quote).
inline std::string Quote(const std::string& s) {
#ifdef _WIN32
    return "\"" + s + "\"";
#else
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
#endif
}

// RFC 4180 records (quoted fields may hold commas, doubled quotes and line breaks).
inline std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
            any = true;
        } else if (c == '\n') {
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field.clear();
            any = false;
        } else if (c != '\r') {
            field += c;
            any = true;
        }
    }
    if (any) {
        row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}

// A table as mdb-export prints it: the header, then one record per row.
inline std::vector<std::vector<std::string>> ExportTable(const std::string& file,
                                                         const std::string& table) {
    Output out = Run("LC_ALL=C.UTF-8 mdb-export -b hex " + Quote(file) + " " + Quote(table) +
                     " 2>/dev/null");
    EXPECT_EQ(out.status, 0) << "mdb-export failed on " << file;
    return ParseCsv(out.text);
}

// The values of one column of a table as mdb-export prints them, one per row.
inline std::vector<std::string> ExportColumn(const std::string& file, const std::string& table,
                                             const std::string& column) {
    auto rows = ExportTable(file, table);
    std::vector<std::string> values;
    if (rows.empty()) return values;
    size_t index = rows[0].size();
    for (size_t i = 0; i < rows[0].size(); ++i)
        if (rows[0][i] == column) index = i;
    EXPECT_LT(index, rows[0].size()) << "no column " << column << " in " << table;
    for (size_t r = 1; r < rows.size(); ++r)
        values.push_back(index < rows[r].size() ? rows[r][index] : "<missing>");
    return values;
}

#ifdef _WIN32
// A child process with its stdin and stdout on pipes.
class Child {
  public:
    explicit Child(const std::vector<std::string>& argv) {
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
        const BOOL started = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0,
                                              nullptr, nullptr, &startup, &info);
        ::CloseHandle(in_read);
        ::CloseHandle(out_write);
        stdin_ = in_write;
        stdout_ = out_read;
        if (!started) throw std::runtime_error("spawn " + argv[0]);
        ::CloseHandle(info.hThread);
        process_ = info.hProcess;
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (process_ != nullptr) {
            Signal(SIGKILL);
            Wait();
        }
        CloseStdin();
        ::CloseHandle(stdout_);
    }

    // The next line of the child's output, without its newline (and a CR before it); what
    // came so far at end of output or when nothing comes for 30 seconds.
    std::string ReadLine() {
        std::string line;
        const ULONGLONG deadline = ::GetTickCount64() + 30000;
        for (;;) {
            DWORD available = 0;
            if (!::PeekNamedPipe(stdout_, nullptr, 0, nullptr, &available, nullptr)) return line;
            if (available == 0) {
                if (::GetTickCount64() >= deadline) return line;
                ::Sleep(5);
                continue;
            }
            char c;
            DWORD got = 0;
            if (!::ReadFile(stdout_, &c, 1, &got, nullptr) || got != 1) return line;
            if (c == '\n') {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            line += c;
        }
    }
    void CloseStdin() {
        if (stdin_ != nullptr) ::CloseHandle(stdin_);
        stdin_ = nullptr;
    }
    // Windows has no signals: any signal ends the child at once, as SIGKILL does.
    void Signal(int signal) {
        if (process_ == nullptr) return;
        if (::TerminateProcess(process_, 128 + static_cast<UINT>(signal))) signalled_ = signal;
    }
    // Waits for the child; its exit status, or -signal when Signal ended it.
    int Wait() {
        if (process_ == nullptr) return status_;
        ::WaitForSingleObject(process_, INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(process_, &code);
        ::CloseHandle(process_);
        process_ = nullptr;
        status_ = signalled_ != 0 ? -signalled_ : static_cast<int>(code);
        return status_;
    }

  private:
    // The arguments quoted as CommandLineToArgvW splits them.
    static std::wstring CommandLine(const std::vector<std::string>& argv) {
        std::wstring line;
        for (const std::string& arg : argv) {
            const int n = ::MultiByteToWideChar(CP_UTF8, 0, arg.data(),
                                                static_cast<int>(arg.size()), nullptr, 0);
            std::wstring wide(static_cast<size_t>(n), L'\0');
            ::MultiByteToWideChar(CP_UTF8, 0, arg.data(), static_cast<int>(arg.size()), wide.data(),
                                  n);
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

    HANDLE process_ = nullptr;
    HANDLE stdin_ = nullptr;
    HANDLE stdout_ = nullptr;
    int signalled_ = 0;
    int status_ = -1;
};
#else
// A child process with its stdin and stdout on pipes.
class Child {
  public:
    explicit Child(const std::vector<std::string>& argv) {
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
        int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
        if (rc != 0) {
            pid_ = -1;
            throw std::runtime_error("spawn " + argv[0]);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        if (stdin_ >= 0) ::close(stdin_);
        ::close(stdout_);
    }

    // The next line of the child's output, without its newline; what came so far at end of
    // output or when nothing comes for 30 seconds (a hung child fails the test, not the run).
    std::string ReadLine() {
        std::string line;
        char c;
        for (;;) {
            struct pollfd fd {
                stdout_, POLLIN, 0
            };
            if (::poll(&fd, 1, 30000) <= 0) return line;
            if (::read(stdout_, &c, 1) != 1) return line;
            if (c == '\n') return line;
            line += c;
        }
    }
    void CloseStdin() {
        if (stdin_ >= 0) ::close(stdin_);
        stdin_ = -1;
    }
    // Only a child still running is signalled: kill() with pid -1 would reach every process.
    void Signal(int signal) {
        if (pid_ > 0) ::kill(pid_, signal);
    }
    // Waits for the child; its exit status, or -signal when a signal ended it.
    int Wait() {
        if (pid_ <= 0) return status_;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        return status_;
    }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    int status_ = -1;
};

#endif

}  // namespace jettest
