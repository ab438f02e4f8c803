// jetutil copy FROM TO: copies a file as the program makes its backups, so that the benchmarks
// can time that copy on its own.
#include <iostream>

#include "platform/file_system.h"
#include "tools/jetutil/command.h"

namespace {

const char kUsage[] =
    "usage: jetutil copy FROM TO\n\n"
    "Copies FROM to TO as the maintenance run makes its backups: the cheapest way the file\n"
    "system offers, under a hidden name beside TO, synced, then renamed to TO (replacing it).\n";

int Run(const std::vector<std::string>& args) {
    if (args.size() != 2) {
        std::cerr << kUsage;
        return 2;
    }
    platform::FileSystem files(jet::Env::Default(), platform::PathStyle::Native());
    files.Copy(args[0], args[1]);
    return 0;
}

const jetutil::Registration kRegistration({
    "copy",
    "copy a file as the run makes its backups (benchmarks)",
    kUsage,
    Run,
});

}  // namespace
