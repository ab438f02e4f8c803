// jetutil: a command-line tool over the Jet engine, for scripts, support and benchmarks.
#include <algorithm>
#include <exception>
#include <iostream>

#include "jet/base/error.h"
#include "tools/jetutil/command.h"

namespace jetutil {

static std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

void Register(Command command) { Registry().push_back(std::move(command)); }

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

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
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
