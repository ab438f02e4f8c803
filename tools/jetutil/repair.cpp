// jetutil repair FILE: repairs a damaged database in place and says what was lost.
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "jet/base/error.h"
#include "jet/rebuild/repair.h"
#include "tools/jetutil/command.h"
#include "tools/jetutil/options.h"

namespace {

constexpr const char* kUsage =
    "usage: jetutil repair [--password PW] [--quiet] FILE\n\n"
    "Repairs a Jet 3 / Jet 4 database in place: reads everything that can still be read\n"
    "(tables through the catalog, or through the owner field of every page where the\n"
    "catalog or a usage map is broken), drops rows that cannot be decoded, cuts long values\n"
    "whose chains are broken, rebuilds every usage map, row count and index, clears the\n"
    "marks of users that never closed, verifies the result and only then replaces FILE.\n"
    "A sound FILE (the strict check finds nothing and every row reads as it stands) is\n"
    "left as it is. On failure FILE is left exactly as it was.\n\n"
    "Prints a summary: rows kept, rows dropped and values cut per table, tables lost;\n"
    "apart, rows on pages a table's page map leaves out (not part of the table: left\n"
    "out, no loss).\n\n"
    "  --quiet   no progress bar\n\n"
    "Exit status: 0 repaired without loss, 1 repaired with losses, 2 not repaired.\n";

int Run(const std::vector<std::string>& args) {
    jetutil::Options opts(args, {"--quiet"});
    if (!opts.error().empty() || opts.positional().size() != 1) {
        if (!opts.error().empty()) std::cerr << "jetutil repair: " << opts.error() << "\n";
        std::cerr << kUsage;
        return 2;
    }
    const std::string& path = opts.positional()[0];
    jet::RepairOptions options;
    options.password = opts.open_options().password;
    const bool bar = !opts.Has("--quiet") && isatty(STDERR_FILENO);
    int shown = -1;
    if (bar) {
        options.progress = [&shown](uint64_t done, uint64_t total) {
            const int percent =
                total == 0 ? 100 : static_cast<int>(std::min<uint64_t>(100, done * 100 / total));
            if (percent == shown) return;
            shown = percent;
            std::fprintf(stderr, "\rrepairing: %3d%%", percent);
            std::fflush(stderr);
        };
    }
    try {
        const jet::RepairReport report = jet::RepairDatabase(jet::Env::Default(), path, options);
        if (bar) std::fprintf(stderr, "\r                \r");
        std::cout << path << ": repaired in " << report.seconds << " s: " << report.Summary();
        return report.lossless() ? 0 : 1;
    } catch (const jet::JetError& e) {
        if (bar) std::fprintf(stderr, "\n");
        std::cerr << "jetutil repair: error " << e.number() << ": " << e.what() << "\n";
        return 2;
    }
}

const jetutil::Registration kRepair({"repair", "repair a damaged database in place", kUsage, Run});

}  // namespace
