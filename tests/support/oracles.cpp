#include "tests/support/oracles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/process.h"

namespace jet::testkit {

namespace fs = std::filesystem;

bool HaveMdbTools() {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const fs::path dir = dirs.substr(start, end - start);
        std::error_code ec;
        if (!dir.empty() && fs::exists(dir / "mdb-export", ec) &&
            fs::exists(dir / "mdb-tables", ec) && fs::exists(dir / "mdb-schema", ec))
            return true;
        start = end + 1;
    }
    return false;
}

std::string MdbExportDump(const std::string& path) {
    const std::string file = Quote(path);
    const Output tables = Run("LC_ALL=C.UTF-8 mdb-tables -1 " + file + " 2>/dev/null");
    if (tables.status != 0) return "<unreadable: mdb-tables " + std::to_string(tables.status) + ">";
    std::vector<std::string> names;
    for (const std::string& name : SplitLines(tables.text))
        if (!name.empty()) names.push_back(name);
    std::sort(names.begin(), names.end());

    std::string dump;
    for (const std::string& name : names) {
        const Output out =
            Run("LC_ALL=C.UTF-8 mdb-export -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' -b hex " +
                file + " " + Quote(name) + " 2>/dev/null");
        if (out.status != 0) return "<unreadable: mdb-export " + name + ">";
        std::vector<std::string> lines = SplitLines(out.text);
        std::sort(lines.begin(), lines.end());
        dump += "=== TABLE " + name + " ===\n";
        for (const std::string& line : lines) dump += line + "\n";
    }
    return dump;
}

std::string SortedSchema(const std::string& path) {
    std::vector<std::string> lines = SplitLines(Run("mdb-schema " + Quote(path) + " 2>&1").text);
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const std::string& l : lines) out += l + "\n";
    return out;
}

bool MdbToolsReadsEveryTable(const std::string& path, std::string& why) {
    std::string listing;
    if (Spawn({"timeout", "60", "mdb-tables", "-1", path}, &listing) != 0) {
        why = "mdb-tables failed";
        return false;
    }
    for (const std::string& table : SplitLines(listing)) {
        if (table.empty()) continue;
        if (Spawn({"timeout", "60", "mdb-export", path, table}, nullptr) != 0) {
            why = "mdb-export failed on table '" + table + "'";
            return false;
        }
    }
    return true;
}

std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ',') {
            row.push_back(field);
            field.clear();
            any = true;
        } else if (c == '\n') {
            row.push_back(field);
            rows.push_back(row);
            row.clear();
            field.clear();
            any = false;
        } else if (c != '\r') {
            field += c;
            any = true;
        }
    }
    if (any) {
        row.push_back(field);
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::vector<std::string>> ExportTable(const std::string& file,
                                                  const std::string& table) {
    const Output out = Run("LC_ALL=C.UTF-8 mdb-export -b hex " + Quote(file) + " " + Quote(table) +
                           " 2>/dev/null");
    EXPECT_EQ(out.status, 0) << "mdb-export failed on " << file;
    return ParseCsv(out.text);
}

std::vector<std::string> ExportColumn(const std::string& file, const std::string& table,
                                      const std::string& column) {
    auto rows = ExportTable(file, table);
    std::vector<std::string> values;
    if (rows.empty()) return values;
    size_t index = rows[0].size();
    for (size_t i = 0; i < rows[0].size(); ++i)
        if (rows[0][i] == column) index = i;
    EXPECT_LT(index, rows[0].size()) << "no column " << column << " in " << table;
    for (size_t r = 1; r < rows.size(); ++r)
        values.push_back(index < rows[r].size() ? rows[r][index] : "<missing>");
    return values;
}

std::string NodeOracleScript() {
    const std::string dir = TestDataDir().string() + "/../node";
    if (!fs::exists(dir + "/node_modules/mdb-reader")) return {};
    if (!HaveCommand("node")) return {};
    return dir + "/dump_table.mjs";
}

bool HaveNodeOracle() {
    return !NodeOracleScript().empty();
}

std::string NodeDump(const std::string& path, const std::string& password) {
    const std::string script =
        (fs::path(NodeOracleScript()).parent_path() / "dump_database.mjs").string();
    return Run("node " + Quote(script) + " " + Quote(path) +
               (password.empty() ? "" : " " + Quote(password)) + " 2>&1")
        .text;
}

}  // namespace jet::testkit
