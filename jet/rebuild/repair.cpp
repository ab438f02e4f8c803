#include "jet/rebuild/repair.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <new>
#include <sstream>
#include <system_error>

#include "jet/base/error.h"
#include "jet/format/mdb_file.h"
#include "jet/read/checker.h"
#include "jet/rebuild/rebuild.h"
#include "jet/rebuild/salvage_source.h"
#include "jet/rebuild/watched_env.h"

namespace jet {
namespace {

std::string Plural(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "table 'X': 2 rows dropped, 1 value cut, 1 page lost" for a table that lost something.
std::string LossLine(const std::string& name, uint64_t dropped, uint64_t cut, uint32_t pages,
                     bool recovered) {
    std::string line = "table '" + name + "':";
    std::string sep = " ";
    if (dropped > 0) line += sep + Plural(dropped, "row dropped", "rows dropped"), sep = ", ";
    if (cut > 0) line += sep + Plural(cut, "value cut", "values cut"), sep = ", ";
    if (pages > 0) line += sep + Plural(pages, "page lost", "pages lost"), sep = ", ";
    if (recovered) line += sep + "recovered without its catalog row";
    return line;
}

// The losses counted so far, for the text of an error that stopped the repair.
std::string LossesSoFar(const SalvageStats& stats) {
    std::ostringstream out;
    uint64_t dropped = 0, cut = 0;
    std::vector<std::string> lines;
    for (const SalvagedTable& t : stats.tables) {
        dropped += t.rows_dropped;
        cut += t.values_cut;
        if (t.rows_dropped > 0 || t.values_cut > 0 || t.pages_lost > 0)
            lines.push_back(LossLine(t.name, t.rows_dropped, t.values_cut, t.pages_lost, false));
    }
    out << "Salvaged so far: " << Plural(dropped, "row dropped", "rows dropped") << ", "
        << Plural(cut, "value cut", "values cut") << ", "
        << Plural(stats.lost_tables.size(), "table lost", "tables lost");
    for (const std::string& l : lines) out << "; " << l;
    for (const std::string& l : stats.lost_tables) out << "; lost: " << l;
    out << ".";
    return out.str();
}

// Failures that mean the content could not be written back as a sound database.
bool IsDamageError(int number) {
    return number == kUnrecognizedFormat || number == kCannotOpenDatabase ||
           number == kCouldNotRepair || number == kRecordTooLarge || number == kFieldTooSmall;
}

// The salvaging read over a watched file system: it takes whatever it cannot read for damage
// and works around it, so a read error of the file system would quietly drop the rows of the
// pages it hit. Once a table's rows are read (and so before the rebuilt copy replaces the
// file), a failure of the file system met on the way stops the repair as what it is.
class WatchedSource final : public DatabaseSource {
  public:
    WatchedSource(DatabaseSource& source, const WatchedEnv& watched)
        : source_(source), watched_(watched) {}
    const std::string& path() const override { return source_.path(); }
    const DatabaseHeader& header() const override { return source_.header(); }
    uint32_t page_count() const override { return source_.page_count(); }
    const std::vector<SourceTable>& tables() const override { return source_.tables(); }
    void ReadRows(size_t index, const RowVisitor& visit, const PagesDone& pages_done) override {
        source_.ReadRows(index, visit, pages_done);
        if (watched_.failure()) RaiseOsError(*watched_.failure(), path());
    }
    void Release() override { source_.Release(); }
    uint32_t visited_row() const override { return source_.visited_row(); }
    MdbFile* index_file() override { return source_.index_file(); }

  private:
    DatabaseSource& source_;
    const WatchedEnv& watched_;
};

// True when the salvaging read found nothing to mend in the file: opening it put nothing right
// and lost no table, and every table's rows came through as they stand (none dropped, cut,
// skipped as a stale copy, left out of a page map, read past a distrusted map, nor a table
// recovered or given a standard definition). Complete once every table's rows were read.
bool SalvagedAsItStands(const SalvageStats& stats) {
    if (!stats.fixes.empty() || !stats.lost_tables.empty()) return false;
    for (const SalvagedTable& t : stats.tables) {
        if (t.rows_dropped > 0 || t.duplicates_dropped > 0 || t.values_cut > 0 ||
            t.pages_lost > 0 || t.stale_copies_skipped > 0 || t.rows_unmapped > 0 ||
            t.pages_by_owner || t.recovered || t.standard_definition)
            return false;
    }
    return true;
}

// Reads every table's rows through the salvaging read, as a rebuild would, and hands them to
// no one; stops early once `stop` says so or the read has found something to mend.
bool ReadEveryTable(SalvageSource& source, const RepairOptions& options,
                    const std::function<bool()>& stop) {
    uint64_t total = 0, done = 0;
    for (const SourceTable& t : source.tables()) total += t.pages;
    for (size_t i = 0; i < source.tables().size(); ++i) {
        source.ReadRows(
            i, [](Row&) {},
            [&](uint32_t pages) {
                done += pages;
                if (options.progress) options.progress(done, total);
            });
        if (stop() || !SalvagedAsItStands(source.stats())) return false;
    }
    return SalvagedAsItStands(source.stats());
}

// Whether the file needs a rebuild at all. It does not when the strict checker finds nothing
// in it, not even a notice (so every structure a rebuild would recompute, the usage maps, row
// counts, free space, indexes and their keys, already stands as the writer would make it), and
// the salvaging read of every table hands over every row as it stands (SalvagedAsItStands).
// A rebuild would then only lay the same content out afresh, which is the compaction's work:
// the file is left as it is. Anything either of the two would change means a rebuild.
// The two are independent reads of a file no one else writes: where the file system allows,
// the check runs on a second thread over a second reader of the file, beside the salvaging
// read; elsewhere one after the other. A failure of the file system met on the way is raised
// as what it is.
bool NothingToMend(SalvageSource& source, const WatchedEnv& watched, const RepairOptions& options) {
    CheckOptions check;
    check.strict = true;
    check.max_findings = 1;
    if (!watched.AllowsThreads()) {
        const bool clean = CheckDatabase(source.file(), check).clean();
        if (watched.failure()) RaiseOsError(*watched.failure(), source.path());
        if (!clean || !SalvagedAsItStands(source.stats())) return false;
        const bool as_it_stands =
            ReadEveryTable(source, options, [&] { return watched.failure().has_value(); });
        if (watched.failure()) RaiseOsError(*watched.failure(), source.path());
        return as_it_stands;
    }
    const std::unique_ptr<MdbFile> second = source.file().SecondReader(options.read_ahead_pages);
    std::atomic<bool> found_something{false};
    const auto check_file = [&] {
        const bool c = CheckDatabase(*second, check).clean();
        if (!c) found_something = true;
        return c;
    };
    std::future<bool> clean;
    try {
        clean = std::async(std::launch::async, check_file);
    } catch (const std::system_error&) {
        clean = std::async(std::launch::deferred, check_file);  // no thread to be had
    }
    // The failure is looked at only once both readers are done: until then the other thread
    // may be recording it.
    const bool as_it_stands =
        SalvagedAsItStands(source.stats()) &&
        ReadEveryTable(source, options, [&] { return found_something.load(); });
    const bool checked_clean = clean.get();
    if (watched.failure()) RaiseOsError(*watched.failure(), source.path());
    return checked_clean && as_it_stands;
}

// Runs `f`, giving what it throws the number a repair reports: Jet errors as they are, a
// failure of the file system as its Jet error, exhausted memory 3035, anything else 3056
// (the detail kept).
template <typename F>
auto AsRepairError(const std::string& path, F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const JetError&) {
        throw;
    } catch (const OsError& e) {
        RaiseOsError(e, path);
    } catch (const std::bad_alloc&) {
        Raise(kSystemResourceExceeded);
    } catch (const std::exception& e) {
        RaiseWithDetail(kCouldNotRepair, {}, e.what());
    }
}

// The report of a file left as it is: every table with the rows the salvaging read found.
RepairReport UnchangedReport(SalvageSource& source) {
    const SalvageStats& stats = source.stats();
    RepairReport report;
    report.rebuilt = false;
    report.pages_before = report.pages_after = source.page_count();
    for (const SourceTable& t : source.tables()) {
        RepairedTable r;
        r.name = t.name;
        r.old_id = r.new_id = t.id;
        for (const SalvagedTable& s : stats.tables)
            if (s.id == t.id) r.rows = s.rows;
        report.rows += r.rows;
        report.tables.push_back(std::move(r));
    }
    return report;
}

}  // namespace

bool RepairReport::lossless() const {
    if (rows_dropped > 0 || values_cut > 0 || !lost_tables.empty() || header_rebuilt) return false;
    for (const RepairedTable& t : tables)
        if (t.pages_lost > 0 || t.recovered) return false;
    return true;
}

std::string RepairReport::Summary() const {
    std::ostringstream out;
    out << Plural(tables.size(), "table", "tables") << ", " << Plural(rows, "row", "rows")
        << " kept, " << Plural(rows_dropped, "row dropped", "rows dropped") << ", "
        << Plural(values_cut, "value cut", "values cut") << ", "
        << Plural(lost_tables.size(), "table lost", "tables lost") << "; " << pages_before
        << " pages before, " << pages_after << " after\n";
    for (const RepairedTable& t : tables)
        if (t.rows_dropped > 0 || t.values_cut > 0 || t.pages_lost > 0 || t.recovered)
            out << "  " << LossLine(t.name, t.rows_dropped, t.values_cut, t.pages_lost, t.recovered)
                << "\n";
    for (const std::string& l : lost_tables) out << "  table lost: " << l << "\n";
    for (const RepairedTable& t : tables)
        if (t.rows_unmapped > 0)
            out << "  table '" << t.name << "': " << Plural(t.rows_unmapped, "row", "rows")
                << " on pages outside its page map left out (not part of the table, no loss)\n";
    for (const std::string& f : fixes) out << "  fixed: " << f << "\n";
    if (sort_order_replaced != 0)
        out << "  sort order " << sort_order_replaced
            << " replaced by General: its keys could not be carried over; text indexes rebuilt\n";
    if (!rebuilt) out << "  nothing to mend: the file is left as it was\n";
    return out.str();
}

RepairReport RepairDatabase(Env* env, const std::string& path, const RepairOptions& options) {
    const auto start = std::chrono::steady_clock::now();
    const OpenOptions open = OpenOptionsFor(options);
    WatchedEnv watched(env);  // outlives the source, whose file it serves
    std::unique_ptr<SalvageSource> source = AsRepairError(path, [&] {
        std::unique_ptr<SalvageSource> opened = OpenSalvageSource(&watched, path, open);
        if (watched.failure()) RaiseOsError(*watched.failure(), path);
        return opened;
    });
    if (AsRepairError(path, [&] { return NothingToMend(*source, watched, options); })) {
        RepairReport report = UnchangedReport(*source);
        report.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return report;
    }

    RebuildOptions rebuild = RebuildOptionsFor(options);
    rebuild.replace_existing = true;
    rebuild.threads = watched.AllowsThreads();
    rebuild.general_when_not_carried = true;
    RebuildReport rebuilt;
    WatchedSource checked(*source, watched);
    try {
        RebuildDatabase(env, checked, path, rebuild, &rebuilt);
    } catch (const JetError& e) {
        const int number = IsDamageError(e.number()) ? kCouldNotRepair : e.number();
        throw JetError(number,
                       ErrorText(number, path) + " " +
                           (number == e.number() ? std::string() : std::string(e.what()) + " ") +
                           LossesSoFar(source->stats()));
    }

    const SalvageStats& stats = source->stats();
    std::map<uint32_t, const SalvagedTable*> by_id;
    for (const SalvagedTable& t : stats.tables) by_id[t.id] = &t;
    RepairReport report;
    report.pages_before = rebuilt.pages_before;
    report.pages_after = rebuilt.pages_after;
    report.rows = rebuilt.rows;
    for (const RebuiltTable& t : rebuilt.tables) {
        RepairedTable r;
        r.name = t.name;
        r.old_id = t.old_id;
        r.new_id = t.new_id;
        r.rows = t.rows;
        if (auto it = by_id.find(t.old_id); it != by_id.end()) {
            r.rows_dropped = it->second->rows_dropped;
            r.values_cut = it->second->values_cut;
            r.pages_lost = it->second->pages_lost;
            r.recovered = it->second->recovered;
            r.standard_definition = it->second->standard_definition;
            r.rows_unmapped = it->second->rows_unmapped;
        }
        report.rows_dropped += r.rows_dropped;
        report.values_cut += r.values_cut;
        report.rows_unmapped += r.rows_unmapped;
        report.tables.push_back(std::move(r));
    }
    report.lost_tables = stats.lost_tables;
    report.lost_table_names = stats.lost_table_names;
    report.fixes = stats.fixes;
    report.sort_order_replaced = rebuilt.sort_order_replaced;
    report.header_rebuilt = stats.header_rebuilt;
    report.header_password_given = stats.header_password_given;
    report.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return report;
}

}  // namespace jet
