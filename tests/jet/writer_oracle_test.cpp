// Files written from scratch, read back by two independent readers, mdbtools (mdb-tables,
// mdb-export, mdb-schema) and the npm package mdb-reader (tests/node/dump_table.mjs), and
// verified by our checker in strict mode. Tests skip when a reader is not installed.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>

#include "jet/format/text_codec.h"
#include "jet/read/checker.h"
#include "jet/read/value_text.h"
#include "jet/testing/fixtures.h"
#include "jet/testing/sample.h"
#include "jet/write/new_database.h"
#include "tests/support/files.h"
#include "tests/support/oracles.h"
#include "tests/support/process.h"
#include "tests/support/samples.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

std::string Shortest(double d) {
    char buffer[64];
    auto r = std::to_chars(buffer, buffer + sizeof buffer, d);
    return std::string(buffer, r.ptr);
}

std::string Hex(const uint8_t* p, size_t n, bool upper) {
    static const char* lower_digits = "0123456789abcdef";
    static const char* upper_digits = "0123456789ABCDEF";
    const char* digits = upper ? upper_digits : lower_digits;
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

// Days since 1899-12-30 -> "YYYY-MM-DD HH:MM:SS" (what mdb-export -D prints) or ISO 8601 UTC
// with milliseconds (what mdb-reader's Date prints).
std::string FormatDate(double days, bool iso) {
    int64_t seconds = static_cast<int64_t>(std::llround(days * 86400.0));
    int64_t day = seconds / 86400 - 25569;  // days since 1970-01-01
    int64_t secs = seconds % 86400;
    // Civil date from days (Howard Hinnant's algorithm).
    int64_t z = day + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t d = doy - (153 * mp + 2) / 5 + 1;
    int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    char buffer[64];
    if (iso) {
        std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.000Z",
                      static_cast<long long>(y), static_cast<long long>(m),
                      static_cast<long long>(d), static_cast<long long>(secs / 3600),
                      static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    } else {
        std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                      static_cast<long long>(y), static_cast<long long>(m),
                      static_cast<long long>(d), static_cast<long long>(secs / 3600),
                      static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
    }
    return buffer;
}

std::string Currency(int64_t scaled) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s%lld.%04lld", scaled < 0 ? "-" : "",
                  static_cast<long long>(std::llabs(scaled) / 10000),
                  static_cast<long long>(std::llabs(scaled) % 10000));
    return buffer;
}

// Text with JSON quoting, as JSON.stringify writes it (our texts hold no control characters).
std::string JsonString(const std::u16string& s) {
    std::string out = "\"";
    for (char c : Utf16ToUtf8(s)) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// A GUID's 16 bytes in the order it is written out (the first three fields big-endian), as hex.
std::string GuidHex(const Guid& g, bool upper) {
    uint8_t be[16] = {g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6]};
    std::memcpy(be + 8, g.data() + 8, 8);
    return Hex(be, 16, upper);
}

// One value as mdb-reader's script prints it (column types of the sample).
std::string NodeField(ColumnType type, const Value& v) {
    if (IsNull(v)) return "null";
    switch (type) {
        case ColumnType::kBoolean:
            return std::get<bool>(v) ? "true" : "false";
        case ColumnType::kCurrency:
            return JsonString(Utf8ToUtf16(Currency(std::get<int64_t>(v))));
        case ColumnType::kDateTime:
            return FormatDate(std::get<double>(v), true);
        case ColumnType::kDouble:
            return Shortest(std::get<double>(v));
        case ColumnType::kText:
        case ColumnType::kMemo:
            return JsonString(std::get<std::u16string>(v));
        case ColumnType::kGuid: {
            const std::string h = GuidHex(std::get<Guid>(v), false);
            return JsonString(Utf8ToUtf16(h.substr(0, 8) + "-" + h.substr(8, 4) + "-" +
                                          h.substr(12, 4) + "-" + h.substr(16, 4) + "-" +
                                          h.substr(20)));
        }
        default:
            return std::to_string(std::get<int64_t>(v));
    }
}

// One value as mdb-export prints it with -D '%Y-%m-%d %H:%M:%S'.
std::string CsvField(ColumnType type, const Value& v) {
    if (IsNull(v)) return "";
    switch (type) {
        case ColumnType::kBoolean:
            return std::get<bool>(v) ? "1" : "0";
        case ColumnType::kCurrency:
            return Currency(std::get<int64_t>(v));
        case ColumnType::kDateTime:
            return "\"" + FormatDate(std::get<double>(v), false) + "\"";
        case ColumnType::kDouble:
            return Shortest(std::get<double>(v));
        case ColumnType::kText:
        case ColumnType::kMemo: {
            // mdb-export prints an empty text like a null one.
            const auto& text = std::get<std::u16string>(v);
            return text.empty() ? "" : CsvQuote(Utf16ToUtf8(text));
        }
        case ColumnType::kGuid: {
            const std::string h = GuidHex(std::get<Guid>(v), true);
            // mdbtools prints the last two groups joined.
            return "\"{" + h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" +
                   h.substr(16) + "}\"";
        }
        default:
            return std::to_string(std::get<int64_t>(v));
    }
}

std::vector<std::string> ExpectedLines(const TableDef& def, const std::vector<Row>& rows,
                                       bool node) {
    std::vector<std::string> lines;
    std::string header;
    for (size_t c = 0; c < def.columns.size(); ++c)
        header += (c ? (node ? "\t" : ",") : "") + def.columns[c].name;
    lines.push_back(header);
    for (const Row& row : rows) {
        std::string line;
        for (size_t c = 0; c < def.columns.size(); ++c) {
            if (c) line += node ? "\t" : ",";
            line += node ? NodeField(def.columns[c].type, row[c])
                         : CsvField(def.columns[c].type, row[c]);
        }
        lines.push_back(line);
    }
    return lines;
}

// The lines a reader prints for `command` (mdb-export's or mdb-reader's of one table).
std::vector<std::string> ReaderLines(const std::string& command, const std::string& what) {
    const testkit::Output out = testkit::Run(command);
    EXPECT_EQ(out.status, 0) << what;
    return testkit::SplitLines(out.text);
}

std::vector<std::string> MdbExport(const std::string& path, const std::string& table) {
    return ReaderLines("LC_ALL=C.UTF-8 mdb-export -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' " +
                           testkit::Quote(path) + " " + testkit::Quote(table),
                       "mdb-export " + path + " " + table);
}

// mdb-reader's lines of one table (tests/node/dump_table.mjs); the table names without one.
std::vector<std::string> NodeTable(const std::string& script, const std::string& path,
                                   const std::string& table) {
    return ReaderLines("node " + testkit::Quote(script) + " " + testkit::Quote(path) +
                           (table.empty() ? "" : " " + testkit::Quote(table)),
                       "mdb-reader " + path + " " + table);
}

// Compares line lists, reporting the first difference only (outputs are long).
void ExpectSameLines(const std::vector<std::string>& actual,
                     const std::vector<std::string>& expected, const std::string& what) {
    EXPECT_EQ(actual.size(), expected.size()) << what << ": line count";
    for (size_t i = 0; i < std::min(actual.size(), expected.size()); ++i) {
        if (actual[i] == expected[i]) continue;
        ADD_FAILURE() << what << ": first difference at line " << i
                      << "\n  actual:   " << actual[i].substr(0, 400)
                      << "\n  expected: " << expected[i].substr(0, 400);
        return;
    }
}

void ExpectCleanStrict(const std::string& path) {
    CheckOptions options;
    options.strict = true;
    CheckReport report = CheckFile(Env::Default(), path, options);
    EXPECT_TRUE(report.clean() && report.findings.empty()) << FormatReport(report);
}

struct TavoCase {
    Version version;
    TavoFlag flag;
};

std::vector<Row> TavoRows(TavoFlag flag) {
    std::vector<Row> rows;
    for (int i = 1; i <= kTavoRows; ++i) {
        const bool locked = i % 2 == 0;
        std::string name = "Tavo " + std::to_string(i);
        rows.push_back(
            {int64_t{i}, Utf8ToUtf16(name),
             flag == TavoFlag::kBoolean ? Value{locked} : Value{int64_t{locked ? -1 : 0}}});
    }
    return rows;
}

TableDef TavoDef(TavoFlag flag) {
    TableDef t;
    t.columns = {NewColumn("id", ColumnType::kLong), NewColumn("nome", ColumnType::kText, 50),
                 NewColumn("bloqueado", flag == TavoFlag::kBoolean ? ColumnType::kBoolean
                                                                   : ColumnType::kInteger)};
    return t;
}

TEST(WriterOracles, FixturesUnderCheckerMdbtoolsAndMdbReader) {
    testkit::TempDir dir;
    const bool mdbtools = testkit::HaveMdbTools();
    const std::string node = testkit::NodeOracleScript();
    for (Version v : testkit::kVersions) {
        CreateClientFixtures(Env::Default(), dir.str(), v);
        for (TavoFlag flag : {TavoFlag::kBoolean, TavoFlag::kInteger}) {
            const std::string path = dir / (flag == TavoFlag::kBoolean ? "tavo.mdb" : "tavo1.mdb");
            SCOPED_TRACE(testkit::VersionName(v) + " " + path);
            ExpectCleanStrict(path);
            const TableDef def = TavoDef(flag);
            const std::vector<Row> rows = TavoRows(flag);
            if (mdbtools) {
                EXPECT_EQ(testkit::Run("mdb-tables -1 " + testkit::Quote(path)).text, "tavo\n");
                EXPECT_EQ(testkit::Run("mdb-ver " + testkit::Quote(path)).text,
                          v == Version::kJet3 ? "JET3\n" : "JET4\n");
                // mdbtools prints Yes/No as 1/0 and Integer as it is.
                ExpectSameLines(MdbExport(path, "tavo"), ExpectedLines(def, rows, false),
                                "mdb-export tavo");
                const std::string schema =
                    testkit::Run("mdb-schema --indexes " + testkit::Quote(path) +
                                 " postgres 2>/dev/null")
                        .text;
                EXPECT_NE(schema.find(flag == TavoFlag::kBoolean ? "\"bloqueado\"\t\t\tBOOL"
                                                                 : "\"bloqueado\"\t\t\tINTEGER"),
                          std::string::npos)
                    << schema;
                EXPECT_NE(schema.find("PRIMARY KEY (\"id\")"), std::string::npos) << schema;
            }
            if (!node.empty()) {
                EXPECT_EQ(NodeTable(node, path, ""), std::vector<std::string>{"tavo"});
                ExpectSameLines(NodeTable(node, path, "tavo"), ExpectedLines(def, rows, true),
                                "mdb-reader tavo");
            }
        }
    }
    if (!mdbtools) GTEST_SKIP() << "mdbtools not installed";
    if (node.empty()) GTEST_SKIP() << "node or mdb-reader (tests/node) not installed";
}

TEST(WriterOracles, SampleDatabasesUnderCheckerMdbtoolsAndMdbReader) {
    testkit::TempDir dir;
    const bool mdbtools = testkit::HaveMdbTools();
    const std::string node = testkit::NodeOracleScript();
    testkit::ForEachSample(dir, 2500, [&](const SampleOptions& options, const std::string& path) {
        if (options.bloat) {
            CheckReport report = CheckFile(Env::Default(), path);
            EXPECT_TRUE(report.clean()) << FormatReport(report);
            EXPECT_GT(report.stats.free_pages, 0u);
            EXPECT_EQ(report.stats.leaked_pages, 0u);
        } else {
            ExpectCleanStrict(path);
        }
        std::vector<Row> pedidos, clientes;
        for (uint64_t i = 0; i < options.rows; ++i)
            pedidos.push_back(SamplePedidosRow(i, options.rows));
        for (uint64_t i = 0; i < SampleClientesRows(options.rows); ++i)
            clientes.push_back(SampleClientesRow(i));
        const TableDef pedidos_def = SamplePedidosDef(), clientes_def = SampleClientesDef();
        if (mdbtools) {
            ExpectSameLines(MdbExport(path, "pedidos"), ExpectedLines(pedidos_def, pedidos, false),
                            "mdb-export pedidos");
            ExpectSameLines(MdbExport(path, "clientes"),
                            ExpectedLines(clientes_def, clientes, false), "mdb-export clientes");
        }
        if (!node.empty()) {
            ExpectSameLines(NodeTable(node, path, "pedidos"),
                            ExpectedLines(pedidos_def, pedidos, true), "mdb-reader pedidos");
            ExpectSameLines(NodeTable(node, path, "clientes"),
                            ExpectedLines(clientes_def, clientes, true), "mdb-reader clientes");
        }
    });
    if (!mdbtools) GTEST_SKIP() << "mdbtools not installed";
    if (node.empty()) GTEST_SKIP() << "node or mdb-reader (tests/node) not installed";
}

}  // namespace
}  // namespace jet
