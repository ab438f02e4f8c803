// Table ids across a rebuild.
//
// A local table's object id is the page of its definition, so a rebuild that lays the file out
// anew gives tables new ids, and every reference to an old id must follow (docs/format.md 11):
//   - MSysObjects.Id of the table's own row (ParentId names containers, never tables, but is
//     mapped the same way should a table id ever appear there);
//   - MSysACEs.ObjectId (permissions of every object);
//   - MSysNavPaneObjectIDs.Id and MSysNavPaneGroupToObjects.ObjectID (Access 2007 and later);
//   - the foreign-key logical indexes of other tables (rel_table_page);
//   - the owner field of the table's data and index pages (the writer's own business).
// Queries and relationships name tables, they do not number them. Ids that are not table ids
// (containers 0x0F00000x, MSysDb 0x10000000, the synthetic ids from 0x80000000 of queries,
// forms, relationships ...) are never page numbers (pages stay below 2^24), so they are never
// found in the map and stay as they are.
//
// Limits: a stale reference moved out of the page range (see Map) could meet another stale
// reference that already held that number; both would then name nothing, as before.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet {

class IdRemap {
  public:
    void Add(uint32_t old_id, uint32_t new_id);
    // The new id of a table id of the source; nothing for any other id.
    std::optional<uint32_t> Find(uint32_t old_id) const;
    // The id a reference to `id` holds in the output. A table's id becomes its new id. A stale
    // reference (to a table deleted long ago, as Access leaves in MSysACEs and the NavPane
    // tables) keeps its number, unless that number now names one of the new tables: then it
    // moves to 0xFFFFFF - id, past the pages of any Jet file (at most 2^19), so it still names
    // nothing. Every other id stays as it is.
    uint32_t Map(uint32_t id) const;
    size_t size() const { return map_.size(); }

  private:
    std::unordered_map<uint32_t, uint32_t> map_;
    std::unordered_set<uint32_t> new_ids_;
};

// Rewrites the object ids held in the rows of one table. Built once per table; tables without
// id columns give an inactive rewriter.
class RowIdRewriter {
  public:
    RowIdRewriter(const TableDef& table, const IdRemap& remap);

    bool active() const { return !columns_.empty(); }
    // Maps every id column of the row (Long values; other forms and nulls are left alone).
    // Returns the number of values changed.
    size_t Rewrite(Row& row) const;

  private:
    const IdRemap& remap_;
    std::vector<size_t> columns_;  // positions in the row
};

// Maps the related table of every foreign-key logical index of `def`. Returns false when one
// names a table the map does not know (the reference dangles); that index is left unchanged.
bool RemapForeignKeys(TableDef& def, const IdRemap& remap, std::string* dangling = nullptr);

}  // namespace jet
