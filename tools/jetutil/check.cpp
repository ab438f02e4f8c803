// jetutil check FILE: verifies every structure of a database and reports what is damaged.
#include <iostream>

#include "jet/read/checker.h"
#include "tools/jetutil/command.h"
#include "tools/jetutil/options.h"

namespace {

constexpr const char* kUsage =
    "usage: jetutil check [--password PW] [--strict] [--no-keys] [--max N] FILE\n\n"
    "Verifies a Jet 3 / Jet 4 database: page types and owners, the global and per-table\n"
    "usage maps, data pages and their row tables, every row and long value, and every index\n"
    "(tree shape, order, one entry per live row, and each stored key equal to the key\n"
    "computed from the row).\n\n"
    "Prints a summary and one line per finding. Errors are damage; notices are irregularities\n"
    "Access itself leaves in healthy files (stale row counts, leaked pages).\n\n"
    "  --strict    count notices as errors (for files this program wrote)\n"
    "  --no-keys   do not compare index keys with the rows\n"
    "  --max N     show at most N findings (default 1000)\n\n"
    "Exit status: 0 clean, 1 damage found, 2 the file could not be checked.\n";

int Run(const std::vector<std::string>& args) {
    jetutil::Options opts(args, {"--strict", "--no-keys"}, {"--max"});
    if (!opts.error().empty() || opts.positional().size() != 1) {
        if (!opts.error().empty()) std::cerr << "jetutil check: " << opts.error() << "\n";
        std::cerr << kUsage;
        return 2;
    }
    jet::CheckOptions options;
    options.strict = opts.Has("--strict");
    options.compare_keys = !opts.Has("--no-keys");
    const std::string max = opts.Value("--max");
    if (!max.empty()) {
        try {
            options.max_findings = std::stoul(max);
        } catch (const std::exception&) {
            std::cerr << "jetutil check: --max needs a number\n";
            return 2;
        }
    }
    const std::string& path = opts.positional()[0];
    const jet::CheckReport report =
        jet::CheckFile(jet::Env::Default(), path, options, opts.open_options().password);
    std::cout << path << ": " << jet::FormatReport(report);
    return report.clean() ? 0 : 1;
}

const jetutil::Registration kCheck({"check", "verify every structure of a database", kUsage, Run});

}  // namespace
