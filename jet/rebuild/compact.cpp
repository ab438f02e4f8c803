#include "jet/rebuild/compact.h"

#include <chrono>

#include "jet/base/error.h"
#include "jet/rebuild/database_source.h"
#include "jet/rebuild/rebuild.h"

namespace jet {

void CompactDatabase(Env* env, const std::string& source, const std::string& destination,
                     const CompactOptions& options, CompactReport* report) {
    const auto start = std::chrono::steady_clock::now();
    // DAO checks the destination before it opens the source.
    try {
        if (env->Stat(destination).exists) Raise(kDatabaseExists);
    } catch (const OsError& e) {
        RaiseOsError(e, destination);
    }
    std::unique_ptr<DatabaseSource> strict = OpenStrictSource(env, source, OpenOptionsFor(options));

    RebuildOptions rebuild = RebuildOptionsFor(options);
    rebuild.encoding = options.encoding;
    rebuild.threads = env->AllowsThreads();
    RebuildReport rebuilt;
    RebuildDatabase(env, *strict, destination, rebuild, &rebuilt);

    if (report == nullptr) return;
    *report = CompactReport{};
    report->page_size = PageSize(strict->version());
    report->pages_before = rebuilt.pages_before;
    report->pages_after = rebuilt.pages_after;
    report->rows = rebuilt.rows;
    report->encrypted = EncryptionKeyFor(strict->header(), options.encoding) != 0;
    for (const RebuiltTable& t : rebuilt.tables)
        report->tables.push_back({t.name, t.old_id, t.new_id, t.rows});
    report->seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace jet
