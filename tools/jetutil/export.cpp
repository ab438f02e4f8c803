// jetutil export FILE TABLE: the rows of one table as CSV (RFC 4180) or JSON lines.
#include <cmath>
#include <iostream>

#include "jet/base/error.h"
#include "jet/read/table_reader.h"
#include "jet/read/value_text.h"
#include "tools/jetutil/command.h"
#include "tools/jetutil/options.h"

namespace {

const char kUsage[] =
    "usage: jetutil export [--json] [--no-header] [--salvage] [--date-format FMT] [--password PW]\n"
    "                      FILE TABLE\n"
    "\n"
    "Writes every live row of TABLE (named without regard to case) to standard output, in\n"
    "storage order, as UTF-8.\n"
    "\n"
    "CSV (default, RFC 4180): a header line with the column names, then one line per row;\n"
    "lines end in LF; a field is quoted with \" (doubled inside) when it is text, and names\n"
    "are quoted only when they hold a comma, quote or line break. Per type:\n"
    "  null            empty field\n"
    "  Boolean         1 or 0\n"
    "  Byte/Integer/Long  decimal\n"
    "  Currency        decimal with 4 decimals (12.3400)\n"
    "  Single, Double  printf %.8g and %.16g\n"
    "  Date/Time       \"YYYY-MM-DD HH:MM:SS\", quoted (--date-format: %Y %y %m %d %H %M %S)\n"
    "  Text, Memo      quoted\n"
    "  Binary, OLE     upper-case hex, quoted\n"
    "  GUID            \"{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}\"\n"
    "  Numeric         decimal with the column's scale\n"
    "\n"
    "--json: one JSON object per line, keys = column names in column order; null, true/false,\n"
    "numbers for the numeric types (Currency and Numeric as exact decimals), strings for the\n"
    "rest (dates, text, hex, GUID). Not finite Single/Double values are written as strings.\n"
    "  --no-header     omit the CSV header line\n"
    "  --salvage       skip what is damaged instead of stopping with error 3343: pages past\n"
    "                  the end of a truncated file, data pages and rows that do not parse;\n"
    "                  each skipped row is reported on standard error\n";

bool QuotedInCsv(jet::ColumnType t) {
    switch (t) {
        case jet::ColumnType::kDateTime:
        case jet::ColumnType::kText:
        case jet::ColumnType::kMemo:
        case jet::ColumnType::kBinary:
        case jet::ColumnType::kOle:
        case jet::ColumnType::kFixedBinary:
        case jet::ColumnType::kUnknown0D:
        case jet::ColumnType::kGuid:
            return true;
        default:
            return false;
    }
}

std::string CsvName(const std::string& name) {
    return name.find_first_of(",\"\r\n") == std::string::npos ? name : jet::CsvQuote(name);
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string JsonValue(const jet::ColumnDef& c, const jet::Value& v, const std::string& fmt) {
    if (jet::IsNull(v)) return "null";
    if (const bool* b = std::get_if<bool>(&v)) return *b ? "true" : "false";
    const std::string text = jet::FormatValue(c, v, fmt);
    switch (c.type) {
        case jet::ColumnType::kByte:
        case jet::ColumnType::kInteger:
        case jet::ColumnType::kLong:
        case jet::ColumnType::kCurrency:
        case jet::ColumnType::kNumeric:
            return text;
        case jet::ColumnType::kSingle:
        case jet::ColumnType::kDouble: {
            const double d = std::get<double>(v);
            return std::isfinite(d) ? text : JsonString(text);
        }
        default:
            return JsonString(text);
    }
}

int Run(const std::vector<std::string>& args) {
    jetutil::Options opts(args, {"--json", "--no-header", "--salvage"}, {"--date-format"});
    if (!opts.error().empty() || opts.positional().size() != 2) {
        if (!opts.error().empty()) std::cerr << "jetutil export: " << opts.error() << "\n";
        std::cerr << kUsage;
        return 2;
    }
    auto db =
        jet::DatabaseView::Open(jet::Env::Default(), opts.positional()[0], opts.open_options());
    const jet::TableDef table = db->ReadTable(opts.positional()[1]);
    const std::string fmt = opts.Value("--date-format", "%Y-%m-%d %H:%M:%S");
    const bool json = opts.Has("--json");
    // The scanner checks the table's page map before anything is written.
    const bool salvage = opts.Has("--salvage");
    jet::TableScanner scanner(db->file(), table, jet::ScanOptions{salvage, salvage});
    std::string line;
    if (!json && !opts.Has("--no-header")) {
        for (size_t i = 0; i < table.columns.size(); ++i)
            line += (i ? "," : "") + CsvName(table.columns[i].name);
        std::cout << line << "\n";
    }
    size_t skipped = 0;
    while (scanner.Next()) {
        jet::Row row;
        try {
            row = scanner.Decode();
        } catch (const jet::JetError& e) {
            if (!salvage) throw;
            ++skipped;
            std::cerr << "jetutil export: skipped the row at page " << scanner.location().page
                      << " row " << scanner.location().row << ": " << e.what() << "\n";
            continue;
        }
        line.clear();
        if (json) line += "{";
        for (size_t i = 0; i < table.columns.size(); ++i) {
            const jet::ColumnDef& c = table.columns[i];
            if (i) line += ",";
            if (json) {
                line += JsonString(c.name) + ":" + JsonValue(c, row[i], fmt);
            } else if (!jet::IsNull(row[i])) {
                const std::string text = jet::FormatValue(c, row[i], fmt);
                line += QuotedInCsv(c.type) ? jet::CsvQuote(text) : text;
            }
        }
        if (json) line += "}";
        std::cout << line << "\n";
    }
    std::cout.flush();
    const size_t lost =
        skipped + scanner.damaged_rows() + scanner.damaged_pages() + scanner.missing_pages().size();
    if (lost > 0)
        std::cerr << "jetutil export: salvaged; skipped " << skipped + scanner.damaged_rows()
                  << " damaged rows, " << scanner.damaged_pages() << " damaged pages, "
                  << scanner.missing_pages().size() << " pages past the end of the file\n";
    return 0;
}

const jetutil::Registration kExport({"export", "write a table's rows as CSV or JSON lines", kUsage,
                                     Run});

}  // namespace
