#include "tests/support/golden_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "jet/base/error.h"
#include "jet/format/text_codec.h"
#include "jet/read/table_reader.h"
#include "jet/read/value_text.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"

namespace jet::testkit {
namespace {

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            ++i;
            out += s[i] == 't' ? '\t' : s[i] == 'r' ? '\r' : s[i];
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '\t' || c == '\r') {
            out += '\\';
            out += c == '\t' ? 't' : c == '\r' ? 'r' : c;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::map<std::string, std::vector<std::string>> ReadGoldenDump(const std::string& path) {
    std::map<std::string, std::vector<std::string>> tables;
    std::vector<std::string>* current = nullptr;
    for (const std::string& line : SplitLines(ReadString(path))) {
        if (line.rfind("=== TABLE ", 0) == 0 && line.size() >= 14 &&
            line.compare(line.size() - 4, 4, " ===") == 0) {
            current = &tables[line.substr(10, line.size() - 14)];
            continue;
        }
        if (current) current->push_back(line);
    }
    for (auto& [name, lines] : tables) std::sort(lines.begin(), lines.end());
    return tables;
}

std::string MdbExportField(const ColumnDef& c, const Value& v) {
    if (IsNull(v)) return {};
    switch (c.type) {
        case ColumnType::kText:
        case ColumnType::kMemo: {
            const std::string text = FormatValue(c, v);
            return text.empty() ? std::string() : CsvQuote(text);
        }
        case ColumnType::kDateTime: {
            // mdb-export leaves its date fields zero for serials below 0 (before 1899-12-30) or
            // above 1e6 (about 2700), which prints as the impossible day below.
            const double serial = std::get<double>(v);
            if (serial < 0.0 || serial > 1e6) return CsvQuote("1900-01-00 00:00:00");
            return CsvQuote(FormatValue(c, v));
        }
        case ColumnType::kGuid: {
            std::string text = FormatGuid(std::get<Guid>(v));
            text.erase(24, 1);  // mdb-export's form: {8-4-4-16}
            return CsvQuote(
                HexUpper(ByteSpan(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
        }
        case ColumnType::kBoolean:
        case ColumnType::kByte:
        case ColumnType::kInteger:
        case ColumnType::kLong:
        case ColumnType::kCurrency:
        case ColumnType::kSingle:
        case ColumnType::kDouble:
        case ColumnType::kNumeric:
            return FormatValue(c, v);
        default: {
            const std::string hex = FormatValue(c, v);
            return hex.empty() ? std::string() : CsvQuote(hex);
        }
    }
}

std::vector<std::string> MdbExportLines(const TableDef& t, const std::vector<Row>& rows) {
    std::string text;
    for (size_t i = 0; i < t.columns.size(); ++i) text += (i ? "," : "") + t.columns[i].name;
    text += "\n";
    for (const Row& row : rows) {
        for (size_t i = 0; i < t.columns.size(); ++i)
            text += (i ? "," : "") + MdbExportField(t.columns[i], row[i]);
        text += "\n";
    }
    return SplitLines(text);
}

std::vector<KnownDifference> ReadKnownDifferences(const std::string& path) {
    std::vector<KnownDifference> out;
    for (const std::string& line : SplitLines(ReadString(path))) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        size_t start = 0;
        for (;;) {
            const size_t tab = line.find('\t', start);
            f.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        if (f.size() != 5) {
            ADD_FAILURE() << "known differences: malformed line: " << line;
            continue;
        }
        out.push_back({f[0], f[1], f[2], Unescape(f[3]), f[4]});
    }
    return out;
}

namespace {

KnownDifference* FindKnown(std::vector<KnownDifference>& known, const std::string& file,
                           const std::string& table, const std::string& kind,
                           const std::string& line) {
    for (KnownDifference& k : known)
        if (!k.used && k.file == file && k.table == table && k.kind == kind && k.line == line)
            return &k;
    return nullptr;
}

std::unique_ptr<DatabaseView> OpenWithPassword(const std::string& path) {
    try {
        return DatabaseView::Open(Env::Default(), path);
    } catch (const JetError& e) {
        if (e.number() != kNotValidPassword) throw;
    }
    OpenOptions options;
    options.password = CorpusPassword(path);
    return DatabaseView::Open(Env::Default(), path, options);
}

}  // namespace

void CompareWithGolden(const std::string& db_path, const std::string& golden_path,
                       const std::string& file_name, std::vector<KnownDifference>& known,
                       CompareStats& stats) {
    SCOPED_TRACE(file_name);
    const auto golden = ReadGoldenDump(golden_path);
    std::unique_ptr<DatabaseView> db;
    try {
        db = OpenWithPassword(db_path);
    } catch (const JetError& e) {
        ADD_FAILURE() << "cannot open: " << e.what();
        return;
    }
    ++stats.files;
    // The tables of the dump are exactly our user tables.
    std::vector<std::string> ours = db->TableNames();
    std::sort(ours.begin(), ours.end());
    std::vector<std::string> theirs;
    for (const auto& [name, lines] : golden) theirs.push_back(name);
    EXPECT_EQ(ours, theirs);

    for (const auto& [name, golden_lines] : golden) {
        SCOPED_TRACE(name);
        std::vector<Row> rows;
        TableDef table;
        try {
            table = db->ReadTable(name);
            try {
                rows = db->ReadRows(table);
            } catch (const JetError& e) {
                KnownDifference* k = FindKnown(known, file_name, name, "strict-3343", "");
                if (e.number() != kUnrecognizedFormat || k == nullptr) throw;
                k->used = true;
                ++stats.explained;
                rows = db->ReadRows(table, ScanOptions{true});
            }
        } catch (const JetError& e) {
            ADD_FAILURE() << "cannot read table: " << e.what();
            continue;
        }
        ++stats.tables;
        stats.rows += static_cast<long>(rows.size());
        std::vector<std::string> lines = MdbExportLines(table, rows);
        std::sort(lines.begin(), lines.end());
        stats.lines += static_cast<long>(golden_lines.size());
        std::vector<std::string> only_ours, only_golden;
        std::set_difference(lines.begin(), lines.end(), golden_lines.begin(), golden_lines.end(),
                            std::back_inserter(only_ours));
        std::set_difference(golden_lines.begin(), golden_lines.end(), lines.begin(), lines.end(),
                            std::back_inserter(only_golden));
        for (const auto& [kind, list] :
             {std::pair{"ours", &only_ours}, std::pair{"golden", &only_golden}}) {
            for (const std::string& line : *list) {
                KnownDifference* k = FindKnown(known, file_name, name, kind, line);
                if (k) {
                    k->used = true;
                    ++stats.explained;
                } else {
                    ADD_FAILURE() << "unexplained line only in " << kind << ": "
                                  << line.substr(0, 300);
                    // For maintainers: JET_WRITE_DIFFS=FILE appends the line in the format of
                    // known_differences.tsv, to be checked and given a reason.
                    if (const char* out = std::getenv("JET_WRITE_DIFFS")) {
                        std::ofstream(out, std::ios::app)
                            << file_name << '\t' << name << '\t' << kind << '\t' << Escape(line)
                            << "\tTODO\n";
                    }
                }
            }
        }
    }
}

}  // namespace jet::testkit
