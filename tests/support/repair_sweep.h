// The damage sweep: copies of real files, each damaged one way (damage.h), then repaired
// (repair.h), then judged:
//   - a repair that succeeds must leave a file our checker finds clean (strict), that mdbtools
//     reads (mdb-export of every table exits 0), and that holds every row of the original that
//     lived on undamaged pages, with identical values: its data page, an overflow row's target,
//     the pages of its long values and its table's definition pages all untouched;
//   - a repair that fails must raise a JetError and leave the file byte-identical.
// Rows of tables that hold object ids (MSysObjects, MSysACEs, the navigation-pane tables) are
// left out of the row comparison: a rebuild renumbers those ids by design.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/schema.h"
#include "jet/rebuild/repair.h"
#include "jet/testing/damage.h"
#include "tests/support/rows.h"  // RowImage

namespace jet::testkit {

// True for the names of system tables (MSys...): Jet's and Access's, not the user's.
bool IsSystemName(const std::string& table);

// True for the tables whose rows hold object ids (renumbered by every rebuild).
bool HoldsObjectIds(const std::string& table);

// The rows of an intact file, each with the pages it depends on.
struct SnapshotRow {
    std::string image;
    std::vector<uint32_t> pages;
};
struct SnapshotTable {
    std::string name;
    uint32_t id = 0;
    std::vector<uint32_t> definition_pages;
    std::vector<SnapshotRow> rows;
};
struct Snapshot {
    std::vector<SnapshotTable> tables;
    uint64_t rows = 0;
};
Snapshot TakeSnapshot(const std::string& path, const std::string& password = {});

// Puts `kind` of damage into `path` as `damage` says, then repairs the file with the same
// password; the repair's report, none when the damage could not be put in.
std::optional<RepairReport> DamageThenRepair(const std::string& path, DamageKind kind,
                                             const DamageOptions& damage);

struct Trial {
    std::string file;
    DamageKind kind = DamageKind::kZeroedPage;
    uint64_t seed = 0;
    uint32_t target = 0;
    bool applied = false;      // the damage could be put in
    bool repaired = false;     // RepairDatabase returned
    bool ok = false;           // the outcome is one of the two allowed ones
    std::string problem;       // why not, when !ok
    int error = 0;             // the Jet error of a failed repair
    uint64_t intact_rows = 0;  // rows of the original on undamaged pages
    uint64_t kept_rows = 0;    // of which present in the output with identical values
    // A user table (not MSys*) had a row or its definition on a damaged page.
    bool user_row_damaged = false;
    // User tables of the original that did not come back with every intact row.
    uint32_t user_tables_short = 0;
};

struct TrialOptions {
    bool mdbtools = true;  // run mdb-export on successful repairs
    std::string password;
};

// Copies `source` into `work_dir`, damages it (`target` as DamageOptions::page), repairs it,
// judges the outcome. `snapshot` is TakeSnapshot(source).
Trial RunTrial(const std::string& source, const Snapshot& snapshot, const std::string& work_dir,
               DamageKind kind, uint64_t seed, uint32_t target, const TrialOptions& options = {});

// Up to `count` targets spread evenly over the kind's targets in the file.
std::vector<uint32_t> SpreadTargets(const std::string& path, DamageKind kind, size_t count,
                                    const std::string& password = {});

struct SweepTotals {
    uint64_t trials = 0, not_applicable = 0, repaired = 0, clean_failures = 0, bad = 0;
    uint64_t intact_rows = 0, kept_rows = 0;
    // Trials whose damage hit no user row, and of those the ones repaired with every user
    // table kept whole.
    uint64_t no_user_row_hit = 0, every_user_table_kept = 0;
    void Add(const Trial& t);
    double share_kept() const {
        return intact_rows == 0 ? 1.0
                                : static_cast<double>(kept_rows) / static_cast<double>(intact_rows);
    }
};

}  // namespace jet::testkit
