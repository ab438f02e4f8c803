// jetutil compact SRC DST: compacts a database into a new file, with a progress bar on a
// terminal and a summary at the end.
#include <unistd.h>

#include <cstdio>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "jet/rebuild/compact.h"
#include "tools/jetutil/command.h"
#include "tools/jetutil/options.h"

namespace {

constexpr const char* kUsage =
    "usage: jetutil compact [--password PW] [--decrypt|--encrypt] [--quiet] SRC DST\n\n"
    "Compacts the Jet 3 / Jet 4 database SRC into the new file DST, of the same version:\n"
    "every table, row, long value and index of SRC, without deleted rows and free pages, with\n"
    "every index rebuilt and row counts recounted. DST appears only once it has been verified\n"
    "(checker clean, every table's rows equal to the source's); SRC is never changed.\n\n"
    "DST keeps the page encoding of SRC: an encoded SRC (\"encrypted pages: yes\" in\n"
    "jetutil info) gives an encoded DST under the same key, a clear SRC a clear DST.\n\n"
    "Shows a progress bar on a terminal (percentage of pages), then pages before and after,\n"
    "rows, the page encoding of DST and time.\n\n"
    "  --decrypt   write DST with every page in clear\n"
    "  --encrypt   write DST with every page after the header encoded (RC4, as Jet encodes\n"
    "              a database); an encoded SRC keeps its key\n"
    "  --quiet     no progress bar\n\n"
    "Exit status: 0 compacted, 2 an error (its Jet number and text on stderr): 3204 DST\n"
    "exists, 3343 SRC is not a database or is damaged (repair it first), 61 disk full.\n";

// A one-line bar redrawn in place on stderr, only when the percentage changes.
class ProgressBar {
  public:
    void Show(uint64_t done, uint64_t total) {
        if (total == 0) return;
        const int percent = static_cast<int>(std::min<uint64_t>(100, done * 100 / total));
        if (percent == shown_) return;
        shown_ = percent;
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        std::cerr << "\r[" << std::string(static_cast<size_t>(filled), '#')
                  << std::string(static_cast<size_t>(kWidth - filled), ' ') << "] " << std::setw(3)
                  << percent << "%" << std::flush;
    }
    void Clear() {
        if (shown_ >= 0) std::cerr << "\r" << std::string(48, ' ') << "\r" << std::flush;
    }

  private:
    int shown_ = -1;
};

std::string Size(uint64_t pages, uint32_t page_size) {
    std::ostringstream out;
    out << pages << " pages (" << std::fixed << std::setprecision(1)
        << static_cast<double>(pages) * page_size / (1024.0 * 1024.0) << " MB)";
    return out.str();
}

int Run(const std::vector<std::string>& args) {
    jetutil::Options opts(args, {"--quiet", "--decrypt", "--encrypt"});
    const bool both = opts.Has("--decrypt") && opts.Has("--encrypt");
    if (!opts.error().empty() || both || opts.positional().size() != 2) {
        if (!opts.error().empty()) std::cerr << "jetutil compact: " << opts.error() << "\n";
        if (both) std::cerr << "jetutil compact: --decrypt and --encrypt exclude each other\n";
        std::cerr << kUsage;
        return 2;
    }
    const std::string& source = opts.positional()[0];
    const std::string& destination = opts.positional()[1];
    jet::CompactOptions options;
    options.password = opts.open_options().password;
    if (opts.Has("--decrypt")) options.encoding = jet::PageEncoding::kDecrypt;
    if (opts.Has("--encrypt")) options.encoding = jet::PageEncoding::kEncrypt;
    ProgressBar bar;
    if (!opts.Has("--quiet") && isatty(STDERR_FILENO)) {
        options.progress = [&bar](uint64_t done, uint64_t total) { bar.Show(done, total); };
    }
    jet::CompactReport report;
    try {
        jet::CompactDatabase(jet::Env::Default(), source, destination, options, &report);
    } catch (...) {
        bar.Clear();
        throw;
    }
    bar.Clear();
    std::cout << source << " -> " << destination << "\n"
              << "  pages before: " << Size(report.pages_before, report.page_size) << "\n"
              << "  pages after:  " << Size(report.pages_after, report.page_size) << "\n"
              << "  tables: " << report.tables.size() << ", rows: " << report.rows << "\n"
              << "  encrypted pages: " << (report.encrypted ? "yes" : "no") << "\n"
              << "  time: " << std::fixed << std::setprecision(2) << report.seconds << " s\n";
    return 0;
}

const jetutil::Registration kCompact({"compact", "compact a database into a new file", kUsage,
                                      Run});

}  // namespace
