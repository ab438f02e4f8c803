#include "tests/support/repair_sweep.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "jet/base/error.h"
#include "jet/format/long_value.h"
#include "jet/format/row_codec.h"
#include "jet/format/tdef.h"
#include "jet/read/catalog.h"
#include "jet/read/checker.h"
#include "jet/read/table_reader.h"
#include "jet/rebuild/repair.h"
#include "tests/support/files.h"
#include "tests/support/oracles.h"

namespace jet::testkit {

namespace fs = std::filesystem;

bool IsSystemName(const std::string& table) {
    return table.size() >= 4 && NamesEqual(table.substr(0, 4), "MSys");
}

bool HoldsObjectIds(const std::string& table) {
    for (const char* name :
         {"MSysObjects", "MSysACEs", "MSysNavPaneObjectIDs", "MSysNavPaneGroupToObjects"})
        if (NamesEqual(table, name)) return true;
    return false;
}

Snapshot TakeSnapshot(const std::string& path, const std::string& password) {
    Snapshot snap;
    OpenOptions open;
    open.password = password;
    auto db = DatabaseView::Open(Env::Default(), path, open);
    MdbFile& file = db->file();
    for (const std::string& name : db->TableNames(true)) {
        if (HoldsObjectIds(name)) continue;
        SnapshotTable t;
        TableDef def;
        try {
            def = db->ReadTable(name);
        } catch (const JetError&) {
            continue;  // a table the strict read cannot take is nobody's baseline
        }
        t.name = name;
        t.id = def.tdef_page;
        t.definition_pages = def.definition_pages;
        try {
            TableScanner scan(file, def, ScanOptions{true});
            while (scan.Next()) {
                SnapshotRow r;
                r.pages.push_back(scan.location().page);
                r.pages.push_back(scan.data_location().page);
                const RowLayout layout = ParseRowLayout(scan.row_bytes(), file.version(), def);
                for (const ColumnDef& c : def.columns) {
                    if (!c.long_value()) continue;
                    const ColumnSlice s = LocateColumn(layout, scan.row_bytes(), c);
                    if (!s.present || !s.not_null) continue;
                    for (uint32_t p : LongValueRows(file, s.bytes)) r.pages.push_back(p >> 8);
                }
                r.image = RowImage(scan.Decode());
                t.rows.push_back(std::move(r));
            }
        } catch (const JetError&) {
            continue;  // unreadable for the strict reader: no baseline
        }
        snap.rows += t.rows.size();
        snap.tables.push_back(std::move(t));
    }
    return snap;
}

std::vector<uint32_t> SpreadTargets(const std::string& path, DamageKind kind, size_t count,
                                    const std::string& password) {
    const std::vector<uint32_t> all = DamageTargets(Env::Default(), path, kind, password);
    if (all.size() <= count) return all;
    std::vector<uint32_t> picked;
    for (size_t i = 0; i < count; ++i) picked.push_back(all[(i * all.size()) / count]);
    picked.erase(std::unique(picked.begin(), picked.end()), picked.end());
    return picked;
}

std::optional<RepairReport> DamageThenRepair(const std::string& path, DamageKind kind,
                                             const DamageOptions& damage) {
    if (!InjectDamage(Env::Default(), path, kind, damage).applied) return std::nullopt;
    RepairOptions repair;
    repair.password = damage.password;
    return RepairDatabase(Env::Default(), path, repair);
}

Trial RunTrial(const std::string& source, const Snapshot& snapshot, const std::string& work_dir,
               DamageKind kind, uint64_t seed, uint32_t target, const TrialOptions& options) {
    Trial t;
    t.file = fs::path(source).filename().string();
    t.kind = kind;
    t.seed = seed;
    t.target = target;
    const std::string path = (fs::path(work_dir) / t.file).string();
    std::error_code ec;
    fs::remove(path, ec);
    fs::copy_file(source, path);
    // The corpus is read-only; Windows would neither write nor delete such a copy.
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);

    DamageOptions damage;
    damage.seed = seed;
    damage.page = target;
    damage.password = options.password;
    const DamageResult d = InjectDamage(Env::Default(), path, kind, damage);
    t.applied = d.applied;
    if (!d.applied) {
        t.ok = true;
        return t;
    }
    const std::set<uint32_t> damaged(d.pages.begin(), d.pages.end());
    const Bytes before = ReadAll(path);

    RepairOptions repair;
    repair.password = options.password;
    RepairReport report;
    try {
        report = RepairDatabase(Env::Default(), path, repair);
        t.repaired = true;
    } catch (const JetError& e) {
        t.error = e.number();
        t.ok = ReadAll(path) == before;
        if (!t.ok)
            t.problem = "failed with " + std::to_string(e.number()) + " and changed the file";
        for (const auto& entry : fs::directory_iterator(work_dir))
            if (entry.path() != fs::path(path)) {
                t.ok = false;
                t.problem += " left " + entry.path().filename().string();
            }
        return t;
    } catch (const std::exception& e) {
        t.problem = std::string("not a JetError: ") + e.what();
        return t;
    }

    // The repaired file: checker-clean, readable by mdbtools, holding every intact row.
    CheckOptions strict;
    strict.strict = true;
    const CheckReport check = CheckFile(Env::Default(), path, strict, options.password);
    if (!check.clean()) {
        t.problem = "checker: " + FormatReport(check).substr(0, 600);
        return t;
    }
    std::string why;
    if (options.mdbtools && !MdbToolsReadsEveryTable(path, why)) {
        t.problem = why;
        return t;
    }
    std::map<uint32_t, std::string> new_name;  // old id -> table name after the repair
    for (const RepairedTable& r : report.tables) new_name[r.old_id] = r.name;
    OpenOptions open;
    open.password = options.password;
    auto db = DatabaseView::Open(Env::Default(), path, open);
    for (const SnapshotTable& table : snapshot.tables) {
        const bool user = !IsSystemName(table.name);
        bool definition_damaged = false;
        for (uint32_t p : table.definition_pages) definition_damaged |= damaged.count(p) > 0;
        std::multiset<std::string> intact;
        for (const SnapshotRow& r : table.rows) {
            bool hit = definition_damaged;
            for (uint32_t p : r.pages) hit |= damaged.count(p) > 0;
            if (!hit) intact.insert(r.image);
            if (hit && user) t.user_row_damaged = true;
        }
        if (definition_damaged && user) t.user_row_damaged = true;
        t.intact_rows += intact.size();
        const uint64_t kept_before = t.kept_rows;
        auto it = new_name.find(table.id);
        if (user && (it == new_name.end() && !definition_damaged)) ++t.user_tables_short;
        if (intact.empty()) continue;
        if (it == new_name.end()) continue;  // the table is gone: every intact row lost
        std::multiset<std::string> found;
        try {
            const TableDef def = db->ReadTable(it->second);
            for (const Row& row : db->ReadRows(def)) found.insert(RowImage(row));
        } catch (const JetError& e) {
            t.problem = "table '" + it->second + "' unreadable after repair: " + e.what();
            return t;
        }
        for (auto i = intact.begin(); i != intact.end();) {
            const auto range = intact.equal_range(*i);
            const size_t want = static_cast<size_t>(std::distance(range.first, range.second));
            t.kept_rows += std::min(want, found.count(*i));
            i = range.second;
        }
        if (user && t.kept_rows - kept_before < intact.size()) ++t.user_tables_short;
    }
    t.ok = true;
    return t;
}

void SweepTotals::Add(const Trial& t) {
    ++trials;
    if (!t.applied) {
        ++not_applicable;
        return;
    }
    if (!t.ok) ++bad;
    if (t.repaired) {
        ++repaired;
    } else if (t.ok) {
        ++clean_failures;
    }
    intact_rows += t.intact_rows;
    kept_rows += t.kept_rows;
    if (t.user_row_damaged) return;
    ++no_user_row_hit;
    if (t.repaired && t.ok && t.user_tables_short == 0) ++every_user_table_kept;
}

}  // namespace jet::testkit
