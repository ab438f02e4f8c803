// Reads every row of every user table of the given files (by default the largest files of the
// shared corpus) and reports the time per file, to compare with mdb-export on the same tables
// (bench/read_vs_mdbexport.sh runs both side by side).
//
// usage: read_bench [--repeat N] [FILE...]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/base/error.h"
#include "jet/read/table_reader.h"

namespace {

std::vector<std::string> LargestCorpusFiles(size_t count) {
    std::vector<std::pair<uintmax_t, std::string>> files;
    const std::filesystem::path corpus = JET_CORPUS_DIR;
    if (!std::filesystem::is_directory(corpus)) return {};
    for (const auto& e : std::filesystem::directory_iterator(corpus))
        if (e.path().extension() == ".mdb") files.emplace_back(e.file_size(), e.path().string());
    std::sort(files.rbegin(), files.rend());
    std::vector<std::string> out;
    for (size_t i = 0; i < files.size() && i < count; ++i) out.push_back(files[i].second);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 5;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else
            files.push_back(a);
    }
    if (files.empty()) files = LargestCorpusFiles(6);
    if (files.empty()) {
        std::fprintf(stderr, "usage: read_bench [--repeat N] FILE...\n");
        return 2;
    }
    std::printf("%-45s %8s %7s %9s %10s\n", "file", "tables", "rows", "ms/read", "MB/s");
    for (const std::string& path : files) {
        double best = 1e300;
        long rows = 0;
        size_t tables = 0;
        for (int r = 0; r < repeat; ++r) {
            const auto start = std::chrono::steady_clock::now();
            rows = 0;
            try {
                auto db = jet::DatabaseView::Open(jet::Env::Default(), path);
                const auto names = db->TableNames();
                tables = names.size();
                for (const std::string& name : names) {
                    const jet::TableDef t = db->ReadTable(name);
                    jet::ForEachRow(
                        db->file(), t, [&](const jet::RowLocation&, const jet::Row&) { ++rows; },
                        jet::ScanOptions{true});
                }
            } catch (const jet::JetError& e) {
                std::fprintf(stderr, "%s: %s\n", path.c_str(), e.what());
                break;
            }
            const std::chrono::duration<double, std::milli> ms =
                std::chrono::steady_clock::now() - start;
            best = std::min(best, ms.count());
        }
        const double mb = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
        std::printf("%-45s %8zu %7ld %9.2f %10.1f\n",
                    std::filesystem::path(path).filename().string().c_str(), tables, rows, best,
                    mb / (best / 1000.0));
    }
    return 0;
}
