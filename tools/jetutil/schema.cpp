// jetutil schema FILE [TABLE]: table definitions as read from the file.
#include <iostream>

#include "jet/read/table_reader.h"
#include "tools/jetutil/command.h"
#include "tools/jetutil/options.h"

namespace {

const char kUsage[] =
    "usage: jetutil schema [--system] [--password PW] FILE [TABLE]\n\n"
    "Prints the definition of every user table (or of TABLE): row count as stored, AutoNumber\n"
    "seed, definition pages, columns (number, type, length, fixed/variable, flags), indexes\n"
    "(the index structures with their columns, flags and root page, then the named indexes\n"
    "with their kind and foreign-key fields) and the long-value column maps.\n"
    "  --system    include system tables\n";

const char* TypeName(jet::ColumnType t) {
    switch (t) {
        case jet::ColumnType::kBoolean:
            return "Boolean";
        case jet::ColumnType::kByte:
            return "Byte";
        case jet::ColumnType::kInteger:
            return "Integer";
        case jet::ColumnType::kLong:
            return "Long";
        case jet::ColumnType::kCurrency:
            return "Currency";
        case jet::ColumnType::kSingle:
            return "Single";
        case jet::ColumnType::kDouble:
            return "Double";
        case jet::ColumnType::kDateTime:
            return "DateTime";
        case jet::ColumnType::kBinary:
            return "Binary";
        case jet::ColumnType::kText:
            return "Text";
        case jet::ColumnType::kOle:
            return "OLE";
        case jet::ColumnType::kMemo:
            return "Memo";
        case jet::ColumnType::kGuid:
            return "GUID";
        case jet::ColumnType::kNumeric:
            return "Numeric";
        case jet::ColumnType::kFixedBinary:
            return "FixedBinary";
        default:
            return "Unknown";
    }
}

std::string Pointer(uint32_t p) {
    return std::to_string(p >> 8) + ":" + std::to_string(p & 0xFF);
}

void PrintTable(const jet::TableDef& t, jet::Version version) {
    std::cout << "TABLE " << t.name << "\n"
              << "  definition pages:";
    for (uint32_t p : t.definition_pages) std::cout << " " << p;
    std::cout << " (" << t.definition_length << " bytes)\n"
              << "  type: " << (t.table_type == jet::kTableSystem ? "system" : "user")
              << ", rows (stored): " << t.row_count << ", autonumber seed: " << t.autonumber
              << "\n  columns: " << t.columns.size() << " (max " << t.max_cols << ", variable "
              << t.num_var_cols << "), owned map " << Pointer(t.owned_map) << ", free map "
              << Pointer(t.free_map) << "\n";
    for (const jet::ColumnDef& c : t.columns) {
        std::cout << "    #" << c.col_num << " " << c.name << ": " << TypeName(c.type);
        if (c.type == jet::ColumnType::kNumeric)
            std::cout << "(" << int{c.precision} << "," << int{c.scale} << ")";
        else if (c.length)
            std::cout << "(" << c.length << ")";
        std::cout << (c.fixed() ? " fixed@" + std::to_string(c.fixed_offset)
                                : " var#" + std::to_string(c.var_index));
        if (c.flags & jet::kColumnAutoNumber) std::cout << " autonumber";
        if (c.flags & jet::kColumnHyperlink) std::cout << " hyperlink";
        if (version == jet::Version::kJet4 && (c.ext_flags & jet::kColumnCompressedUnicode))
            std::cout << " compressed";
        std::cout << " flags=0x" << std::hex << int{c.flags} << std::dec << "\n";
    }
    for (size_t i = 0; i < t.real_indexes.size(); ++i) {
        const jet::RealIndexDef& r = t.real_indexes[i];
        std::cout << "  index structure " << i << ": columns";
        for (const jet::IndexColumn& ic : r.columns)
            std::cout << " #" << ic.col_num << (ic.ascending ? "" : " desc");
        std::cout << ", root " << r.root_page << ", map " << Pointer(r.usage_map);
        if (r.flags & jet::kIndexUnique) std::cout << ", unique";
        if (r.flags & jet::kIndexIgnoreNulls) std::cout << ", ignore nulls";
        if (r.flags & jet::kIndexRequired) std::cout << ", required";
        std::cout << ", entries (stored) " << r.entry_count << "\n";
    }
    for (const jet::LogicalIndexDef& l : t.indexes) {
        std::cout << "  index " << l.name << ": structure " << l.real_index;
        if (l.kind == jet::IndexKind::kPrimaryKey) std::cout << ", primary key";
        if (l.kind == jet::IndexKind::kForeignKey)
            std::cout << ", foreign key to table " << l.rel_table_page << " index " << l.rel_index
                      << (l.rel_table_type == 1 ? " (one side)" : " (many side)");
        std::cout << "\n";
    }
    for (const jet::LongValueColumnMaps& m : t.long_value_maps)
        std::cout << "  long values of #" << m.col_num << ": owned map " << Pointer(m.owned_map)
                  << ", free map " << Pointer(m.free_map) << "\n";
}

int Run(const std::vector<std::string>& args) {
    jetutil::Options opts(args, {"--system"});
    if (!opts.error().empty() || opts.positional().empty() || opts.positional().size() > 2) {
        std::cerr << kUsage;
        return 2;
    }
    auto db =
        jet::DatabaseView::Open(jet::Env::Default(), opts.positional()[0], opts.open_options());
    std::vector<std::string> names;
    if (opts.positional().size() == 2)
        names.push_back(opts.positional()[1]);
    else
        names = db->TableNames(opts.Has("--system"));
    for (const std::string& name : names) PrintTable(db->ReadTable(name), db->file().version());
    return 0;
}

const jetutil::Registration kSchema({"schema", "show table definitions", kUsage, Run});

}  // namespace
