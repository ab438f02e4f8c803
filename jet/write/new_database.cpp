#include "jet/write/new_database.h"

#include <stdexcept>

#include "jet/base/error.h"
#include "jet/keys/index_key.h"
#include "jet/read/catalog.h"
#include "jet/write/system_tables.h"
#include "jet/write/tdef_writer.h"
#include "jet/write/writer.h"

namespace jet {

ColumnDef NewColumn(const std::string& name, ColumnType type, uint16_t chars, bool auto_number) {
    ColumnDef c;
    c.name = name;
    c.type = type;
    c.flags = kColumnNullable;
    if (auto_number) c.flags |= kColumnAutoNumber;
    if (type == ColumnType::kText) {
        c.length = chars;  // doubled for Jet 4 by CreateDatabase
        c.ext_flags = kColumnCompressedUnicode;
    } else if (type == ColumnType::kMemo) {
        c.ext_flags = kColumnCompressedUnicode;
    } else if (type == ColumnType::kBinary) {
        c.length = chars;
    }
    return c;
}

void AddIndex(TableDef& table, const std::string& name, const std::vector<std::string>& columns,
              IndexKind kind, bool unique) {
    RealIndexDef r;
    for (const auto& column : columns) {
        bool found = false;
        for (size_t i = 0; i < table.columns.size(); ++i) {
            if (!NamesEqual(table.columns[i].name, column)) continue;
            r.columns.push_back({static_cast<uint16_t>(i), true});
            found = true;
        }
        if (!found) throw std::invalid_argument("index on an unknown column: " + column);
    }
    if (kind == IndexKind::kPrimaryKey) {
        r.flags = kIndexUnique | kIndexRequired;
    } else if (unique) {
        r.flags = kIndexUnique;
    }
    LogicalIndexDef l;
    l.name = name;
    l.number = static_cast<uint32_t>(table.indexes.size());
    l.real_index = static_cast<uint32_t>(table.real_indexes.size());
    l.kind = kind;
    table.real_indexes.push_back(std::move(r));
    table.indexes.push_back(std::move(l));
}

namespace {

// The keys NewDatabase::foreign_key makes for the indexes whose sort order we have no tables
// for.
class ForeignKeys {
  public:
    ForeignKeys(Version v, const TableDef& def, std::function<void(Bytes&)> make)
        : make_(std::move(make)) {
        for (const RealIndexDef& r : def.real_indexes) {
            auto e = std::make_unique<IndexKeyEncoder>(v, def, r);
            given_.push_back(make_ && !e->knows_sort_order());
            encoders_.push_back(std::move(e));
        }
        keys_.resize(encoders_.size());
        spans_.resize(encoders_.size());
    }
    const std::vector<bool>& given() const { return given_; }
    const std::vector<std::optional<ByteSpan>>& KeysOf(const Row& row) {
        for (size_t k = 0; k < encoders_.size(); ++k) {
            spans_[k].reset();
            if (!given_[k] || !encoders_[k]->Includes(row)) continue;
            keys_[k] = encoders_[k]->Encode(row);
            make_(keys_[k]);
            spans_[k] = ByteSpan(keys_[k]);
        }
        return spans_;
    }

  private:
    std::function<void(Bytes&)> make_;
    std::vector<std::unique_ptr<IndexKeyEncoder>> encoders_;
    std::vector<bool> given_;
    std::vector<Bytes> keys_;
    std::vector<std::optional<ByteSpan>> spans_;
};

}  // namespace

void CreateDatabase(Env* env, const std::string& path, const NewDatabase& plan) {
    const Version v = plan.version;
    WriterOptions options;
    options.version = v;
    options.replace_existing = plan.replace_existing;
    options.sort_memory = plan.sort_memory;
    if (plan.sort_order != kGeneralSortOrder) {
        options.header = NewDatabaseHeader(v);
        options.header.sort_order = plan.sort_order;
    }
    options.header.encryption_key = plan.encryption_key;
    DatabaseWriter writer(env, path, options);

    const uint32_t objects = writer.AddTable(SystemTableDef(SystemTable::kObjects, v));
    const uint32_t aces = writer.AddTable(SystemTableDef(SystemTable::kAces, v));
    writer.AddTable(SystemTableDef(SystemTable::kQueries, v));
    writer.AddTable(SystemTableDef(SystemTable::kRelationships, v));

    std::vector<uint32_t> ids;
    for (const NewTable& t : plan.tables) {
        TableDef def = t.def;
        if (!t.layout_given) {
            // Columns were given by position: index columns refer to positions until the
            // layout assigns numbers in the same order.
            AssignNewColumnLayout(def);
            for (auto& c : def.columns)
                if (c.type == ColumnType::kText && v == Version::kJet4) c.length *= 2;
        }
        for (auto& c : def.columns) {
            if (v == Version::kJet3) c.ext_flags = 0;
            const bool text = c.type == ColumnType::kText || c.type == ColumnType::kMemo;
            if (plan.sort_order != kGeneralSortOrder &&
                (text || (v == Version::kJet3 && c.sort_order != 0)))
                c.sort_order = plan.sort_order;
        }
        def.table_type = kTableUser;
        ids.push_back(writer.AddTable(std::move(def)));
    }

    writer.BeginRows(objects);
    for (const Row& row : InitialCatalogRows(v, plan.date)) writer.AddRow(row);
    for (size_t i = 0; i < plan.tables.size(); ++i)
        writer.AddRow(UserTableCatalogRow(v, ids[i], plan.tables[i].def.name, plan.date));
    writer.EndRows();
    writer.BeginRows(aces);
    for (const Row& row : InitialAceRows(v)) writer.AddRow(row);
    for (uint32_t id : ids)
        for (const Row& row : UserTableAceRows(v, id)) writer.AddRow(row);
    writer.EndRows();

    for (size_t i = 0; i < plan.tables.size(); ++i) {
        const NewTable& t = plan.tables[i];
        ForeignKeys foreign(v, writer.table(ids[i]), plan.foreign_key);
        writer.BeginRows(ids[i], foreign.given());
        for (const Row& row : t.rows) writer.AddRow(row, foreign.KeysOf(row));
        if (t.generate) {
            Row row;
            bool deleted = false;
            while (t.generate(row, &deleted)) {
                if (deleted) {
                    writer.AddDeletedRow(row);
                } else {
                    writer.AddRow(row, foreign.KeysOf(row));
                }
                deleted = false;
            }
        }
        writer.EndRows();
        for (uint32_t d : writer.written().at(4 + i).duplicate_keys)
            if (d != 0)
                RaiseWithDetail(
                    3022, {},
                    "(duplicate key in an index of table '" + plan.tables[i].def.name + "')");
        uint32_t free_pages = t.free_pages_after;
        if (t.free_share > 0 && t.free_share < 0.95) {
            const double pages = writer.page_count();
            free_pages += static_cast<uint32_t>(pages * t.free_share / (1.0 - t.free_share));
        }
        writer.AddFreePages(free_pages, t.free_page_image);
    }
    writer.Finish();
}

}  // namespace jet
