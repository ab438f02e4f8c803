// jetutil's verbs. Each verb lives in its own file and registers itself with a static
// Registration object, so adding a verb touches no other file.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace jetutil {

struct Command {
    std::string name;
    std::string summary;  // one line for the verb list
    std::string usage;    // full --help text
    // Runs the verb with the arguments after its name; returns the exit code.
    std::function<int(const std::vector<std::string>&)> run;
};

void Register(Command command);
const std::vector<Command>& Commands();

struct Registration {
    explicit Registration(Command command) { Register(std::move(command)); }
};

// True when args hold --help or -h; the verb then prints its usage and exits 0.
bool WantsHelp(const std::vector<std::string>& args);

}  // namespace jetutil
