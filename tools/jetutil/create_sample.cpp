// jetutil create-sample: writes a large synthetic database for benchmarks.
#include <chrono>
#include <iostream>

#include "jet/base/env.h"
#include "jet/testing/sample.h"
#include "tools/jetutil/command.h"

namespace {

const char kUsage[] =
    "usage: jetutil create-sample [--jet3|--jet4] --rows N [--bloat] OUT.mdb\n\n"
    "Writes a synthetic database: table pedidos with N rows (text, memo, numbers, dates,\n"
    "GUIDs, three indexes) and table clientes with N/10 + 1 rows. --bloat adds deleted rows\n"
    "and free pages, as a database used for long without compaction has. The same options\n"
    "always give the same file. Jet 4 unless --jet3. An existing OUT.mdb is replaced.\n\n"
    "  --rows N    orders to write (required)\n"
    "  --bloat     leave deleted rows and free pages behind (a file worth compacting)\n";

int Run(const std::vector<std::string>& args) {
    jet::SampleOptions options;
    std::string out;
    bool have_rows = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--jet3") {
            options.version = jet::Version::kJet3;
        } else if (a == "--jet4") {
            options.version = jet::Version::kJet4;
        } else if (a == "--bloat") {
            options.bloat = true;
        } else if (a == "--rows" && i + 1 < args.size()) {
            try {
                size_t used = 0;
                options.rows = std::stoull(args[++i], &used);
                have_rows = used == args[i].size();
            } catch (const std::exception&) {
                have_rows = false;
            }
            if (!have_rows) {
                std::cerr << "jetutil create-sample: --rows needs a number\n";
                return 2;
            }
        } else if (out.empty() && !a.empty() && a[0] != '-') {
            out = a;
        } else {
            std::cerr << "jetutil create-sample: unexpected argument '" << a << "'\n" << kUsage;
            return 2;
        }
    }
    if (out.empty() || !have_rows) {
        std::cerr << kUsage;
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    jet::CreateSample(jet::Env::Default(), out, options);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto size = jet::Env::Default()->Stat(out).size;
    std::cout << out << ": " << size << " bytes, " << options.rows << " rows"
              << (options.bloat ? " (bloated)" : "") << ", " << seconds << " s\n";
    return 0;
}

const jetutil::Registration kRegistration({
    "create-sample",
    "write a synthetic database (demos, benchmarks)",
    kUsage,
    Run,
});

}  // namespace
