// Compaction against a plain copy of the same file, side by side in one run: `cp`, then
// `jetutil compact`, each in its own process, so the wall time and the peak resident memory
// of each come from the kernel (wait4) and nothing of the bench itself is counted. The copy
// is also flushed (`sync FILE`) and timed apart, because compaction syncs its output before
// it renames it; both figures are shown.
//
// usage: compact_bench [--repeat N] JETUTIL SRC WORKDIR
//   WORKDIR gets cp.mdb and out.mdb, removed after each round. The best round counts.
//
// Goals: compaction at most 2x the time of cp; peak RSS at most 128 MB.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Measured {
    double seconds = 0;
    long peak_rss_kb = 0;
    int status = -1;
};

// Runs `argv` (PATH searched), waits for it and measures it.
Measured Spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    Measured m;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
        std::perror(args[0]);
        return m;
    }
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
    }
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.peak_rss_kb = usage.ru_maxrss;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return m;
}

long long FileSize(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 1;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--repeat" && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 3) {
        std::fprintf(stderr, "usage: compact_bench [--repeat N] JETUTIL SRC WORKDIR\n");
        return 2;
    }
    const std::string& jetutil = positional[0];
    const std::string& source = positional[1];
    const std::string copy = positional[2] + "/cp.mdb";
    const std::string out = positional[2] + "/out.mdb";
    const long long source_size = FileSize(source);
    if (source_size < 0) {
        std::perror(source.c_str());
        return 2;
    }

    Measured best_cp, best_sync, best_compact;
    best_cp.seconds = best_sync.seconds = best_compact.seconds = 1e300;
    long peak = 0;
    long long out_size = 0;
    for (int round = 1; round <= repeat; ++round) {
        std::remove(copy.c_str());
        std::remove(out.c_str());
        Measured cp = Spawn({"cp", source, copy});
        Measured sync = Spawn({"sync", copy});
        std::remove(copy.c_str());
        Measured compact = Spawn({jetutil, "compact", "--quiet", source, out});
        if (cp.status != 0 || sync.status != 0 || compact.status != 0) {
            std::fprintf(stderr, "round %d failed: cp %d, sync %d, compact %d\n", round, cp.status,
                         sync.status, compact.status);
            return 1;
        }
        out_size = FileSize(out);
        std::remove(out.c_str());
        std::printf("round %d: cp %.2f s (+ sync %.2f s), compact %.2f s, peak RSS %.1f MB\n",
                    round, cp.seconds, sync.seconds, compact.seconds,
                    static_cast<double>(compact.peak_rss_kb) / 1024.0);
        if (cp.seconds < best_cp.seconds) best_cp = cp;
        if (sync.seconds < best_sync.seconds) best_sync = sync;
        if (compact.seconds < best_compact.seconds) best_compact = compact;
        peak = std::max(peak, compact.peak_rss_kb);
    }

    const double mb = 1024.0 * 1024.0;
    const double ratio = best_compact.seconds / best_cp.seconds;
    const double ratio_synced = best_compact.seconds / (best_cp.seconds + best_sync.seconds);
    const double peak_mb = static_cast<double>(peak) / 1024.0;
    std::printf("%s: %.1f MB -> %.1f MB\n", source.c_str(), static_cast<double>(source_size) / mb,
                static_cast<double>(out_size) / mb);
    std::printf("cp %.2f s, cp + sync %.2f s, compact %.2f s\n", best_cp.seconds,
                best_cp.seconds + best_sync.seconds, best_compact.seconds);
    std::printf("compact / cp = %.2fx (goal <= 2x: %s); compact / (cp + sync) = %.2fx\n", ratio,
                ratio <= 2.0 ? "met" : "MISSED", ratio_synced);
    std::printf("peak RSS of compact: %.1f MB (goal <= 128 MB: %s)\n", peak_mb,
                peak_mb <= 128.0 ? "met" : "MISSED");
    return 0;
}
