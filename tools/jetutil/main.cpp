// jetutil: a command-line tool over the Jet engine, for scripts, support and benchmarks.
#include <algorithm>
#include <exception>
#include <iostream>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>
#endif

#include "jet/base/error.h"
#include "platform/heap.h"
#include "tools/jetutil/command.h"

namespace jetutil {

static std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

void Register(Command command) {
    Registry().push_back(std::move(command));
}

const std::vector<Command>& Commands() {
    auto& commands = Registry();
    std::sort(commands.begin(), commands.end(),
              [](const Command& a, const Command& b) { return a.name < b.name; });
    return commands;
}

bool WantsHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(),
                       [](const std::string& a) { return a == "--help" || a == "-h"; });
}

}  // namespace jetutil

namespace {

void PrintVerbs(std::ostream& out) {
    out << "usage: jetutil VERB [ARGS...]\n\n"
           "A tool over the Jet 3 / Jet 4 (.mdb) engine. Verbs:\n";
    for (const auto& c : jetutil::Commands()) out << "  " << c.name << "\t" << c.summary << "\n";
    out << "\n'jetutil VERB --help' describes one verb; --password PW opens a database that has\n"
           "a password. Exit status: 0 success, 2 error (with the Jet error number), 1 where a\n"
           "verb says so.\n";
}

// The arguments after the program's name, in UTF-8. Windows hands main() the ANSI code page's
// rendering of the command line, which loses every name outside it, so there the arguments are
// taken from the wide command line; and the standard streams are switched to binary, so every
// byte written is the byte the Linux build writes (no CR before each LF).
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
    (void)argc;
    (void)argv;
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int i = 1; wide != nullptr && i < count; ++i) {
        const int length = static_cast<int>(wcslen(wide[i]));
        const int n =
            ::WideCharToMultiByte(CP_UTF8, 0, wide[i], length, nullptr, 0, nullptr, nullptr);
        std::string arg(static_cast<size_t>(n > 0 ? n : 0), '\0');
        if (n > 0)
            ::WideCharToMultiByte(CP_UTF8, 0, wide[i], length, arg.data(), n, nullptr, nullptr);
        args.push_back(std::move(arg));
    }
    ::LocalFree(wide);
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    platform::ShareHeapArenas();  // as the program does
    std::vector<std::string> args = Arguments(argc, argv);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintVerbs(args.empty() ? std::cerr : std::cout);
        return args.empty() ? 2 : 0;
    }
    for (const auto& c : jetutil::Commands()) {
        if (c.name != args[0]) continue;
        std::vector<std::string> rest(args.begin() + 1, args.end());
        if (jetutil::WantsHelp(rest)) {
            std::cout << c.usage;
            return 0;
        }
        try {
            return c.run(rest);
        } catch (const jet::JetError& e) {
            std::cerr << "jetutil " << c.name << ": error " << e.number() << ": " << e.what()
                      << "\n";
            return 2;
        } catch (const std::exception& e) {
            std::cerr << "jetutil " << c.name << ": " << e.what() << "\n";
            return 2;
        }
    }
    std::cerr << "jetutil: unknown verb '" << args[0] << "'\n";
    PrintVerbs(std::cerr);
    return 2;
}
