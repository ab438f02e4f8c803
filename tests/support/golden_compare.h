// Comparing what the engine reads with golden dumps made by mdb-export
// (LC_ALL=C.UTF-8 mdb-export -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' -b hex FILE TABLE,
// lines byte-sorted, one "=== TABLE <name> ===" section per user table).
//
// Our rows are printed the way mdb-export prints them, after two normalisations of formatting:
//   - an empty Text/Memo/Binary/OLE value is an empty field (mdb-export prints empty like null);
//   - a date before 1899-12-30 or past the year 2700 prints as mdb-export prints it,
//     "1900-01-00 00:00:00" (it leaves such dates unconverted);
//   - a GUID is printed as mdb-export does, {8-4-4-16 hex digits}, and then hex-encoded as text
//     (with -b hex, mdb-export treats the GUID's text as binary).
// Remaining differences must be listed in tests/data/known_differences.tsv with the reason.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet::testkit {

// Table name -> the dump's lines of that table (header included), sorted.
std::map<std::string, std::vector<std::string>> ReadGoldenDump(const std::string& path);

// One field / one line as mdb-export prints it (after the normalisations above).
std::string MdbExportField(const ColumnDef& c, const Value& v);
// Lines of a table's export: header, then each row (a memo with line breaks spans lines).
std::vector<std::string> MdbExportLines(const TableDef& t, const std::vector<Row>& rows);

struct KnownDifference {
    std::string file, table, kind, line, reason;  // kind: golden | ours | strict-3343
    bool used = false;
};
// Reads the TSV (file, table, kind, line, reason; '#' comments; \t and \\ escaped in line).
std::vector<KnownDifference> ReadKnownDifferences(const std::string& path);

struct CompareStats {
    int files = 0;
    int tables = 0;
    long rows = 0;
    long lines = 0;
    int explained = 0;
};

// Reads every table of the golden dump from the database at `db_path` and compares. Adds a
// gtest failure for every difference not in `known` (matching entries are marked used).
// `password` is tried when the file asks for one.
void CompareWithGolden(const std::string& db_path, const std::string& golden_path,
                       const std::string& file_name, std::vector<KnownDifference>& known,
                       CompareStats& stats);

}  // namespace jet::testkit
