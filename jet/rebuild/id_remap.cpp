#include "jet/rebuild/id_remap.h"

#include <string_view>

#include "jet/read/catalog.h"

namespace jet {
namespace {

struct IdColumn {
    std::string_view table;
    std::string_view column;
};

// Every column known to hold object ids (docs/format.md 11.1).
constexpr IdColumn kIdColumns[] = {
    {"MSysObjects", "Id"},
    {"MSysObjects", "ParentId"},
    {"MSysACEs", "ObjectId"},
    {"MSysNavPaneObjectIDs", "Id"},
    {"MSysNavPaneGroupToObjects", "ObjectID"},
};

}  // namespace

void IdRemap::Add(uint32_t old_id, uint32_t new_id) {
    map_[old_id] = new_id;
    new_ids_.insert(new_id);
}

uint32_t IdRemap::Map(uint32_t id) const {
    if (auto it = map_.find(id); it != map_.end()) return it->second;
    if (new_ids_.count(id)) return 0x00FFFFFFu - id;
    return id;
}

std::optional<uint32_t> IdRemap::Find(uint32_t old_id) const {
    auto it = map_.find(old_id);
    if (it == map_.end()) return std::nullopt;
    return it->second;
}

RowIdRewriter::RowIdRewriter(const TableDef& table, const IdRemap& remap) : remap_(remap) {
    for (const IdColumn& id : kIdColumns) {
        if (!NamesEqual(table.name, id.table)) continue;
        for (size_t i = 0; i < table.columns.size(); ++i) {
            const ColumnDef& c = table.columns[i];
            if (c.type == ColumnType::kLong && NamesEqual(c.name, id.column)) columns_.push_back(i);
        }
    }
}

size_t RowIdRewriter::Rewrite(Row& row) const {
    size_t changed = 0;
    for (size_t i : columns_) {
        if (i >= row.size()) continue;
        auto* v = std::get_if<int64_t>(&row[i]);
        if (v == nullptr) continue;
        // Long values are signed 32-bit; ids are their bit patterns.
        const auto old_id = static_cast<uint32_t>(static_cast<int32_t>(*v));
        const uint32_t new_id = remap_.Map(old_id);
        if (new_id == old_id) continue;
        *v = static_cast<int32_t>(new_id);
        ++changed;
    }
    return changed;
}

bool RemapForeignKeys(TableDef& def, const IdRemap& remap, std::string* dangling) {
    bool ok = true;
    for (LogicalIndexDef& index : def.indexes) {
        if (index.rel_table_page == 0) continue;  // not a relationship's index
        const std::optional<uint32_t> to = remap.Find(index.rel_table_page);
        if (!to) {
            if (dangling && ok) *dangling = index.name;
            ok = false;
            continue;
        }
        index.rel_table_page = *to;
    }
    return ok;
}

}  // namespace jet
