#include "jet/rebuild/carried_keys.h"

#include <algorithm>

#include "jet/base/error.h"
#include "jet/keys/index_key.h"
#include "jet/read/index_reader.h"

namespace jet {

bool NeedsCarriedKeys(Version version, const TableDef& table, const RealIndexDef& index) {
    try {
        return !IndexKeyEncoder(version, table, index).knows_sort_order();
    } catch (const JetError&) {
        return false;  // an index the writer cannot key at all fails there, as before
    }
}

namespace {

bool IsText(const ColumnDef& c) {
    return c.type == ColumnType::kText || c.type == ColumnType::kMemo;
}
bool IsGeneral(const ColumnDef& c, Version version) {
    return c.sort_order == kGeneralSortOrder && (version == Version::kJet3 || c.sort_version == 0);
}

}  // namespace

uint16_t ForeignSortOrder(DatabaseSource& source) {
    const DatabaseHeader& h = source.header();
    if (h.sort_order != kGeneralSortOrder) return h.sort_order;
    for (const SourceTable& t : source.tables())
        for (const ColumnDef& c : t.def.columns)
            if (IsText(c) && !IsGeneral(c, h.version)) return c.sort_order;
    return 0;
}

void InGeneralOrder(DatabaseHeader& header) {
    header.sort_order = kGeneralSortOrder;
    header.sort_version = 0;
}

void InGeneralOrder(TableDef& def, Version version) {
    for (ColumnDef& c : def.columns) {
        const bool carries = IsText(c) || (version == Version::kJet3 && c.sort_order != 0);
        if (!carries || IsGeneral(c, version)) continue;
        c.sort_order = kGeneralSortOrder;
        if (IsText(c)) c.sort_version = 0;
    }
}

std::shared_ptr<const CarriedKeys> CarriedKeys::Read(MdbFile& file, const TableDef& table) {
    auto keys = std::make_shared<CarriedKeys>();
    keys->indexes_.resize(table.real_indexes.size());
    IndexWalkOptions walk;
    walk.page_count = file.page_count();
    walk.owner = table.tdef_page;
    for (size_t k = 0; k < table.real_indexes.size(); ++k) {
        const RealIndexDef& r = table.real_indexes[k];
        if (!NeedsCarriedKeys(file.version(), table, r)) continue;
        Index& index = keys->indexes_[k];
        index.used = true;
        ++keys->carried_count_;
        const std::string what =
            "the keys of index " + std::to_string(k) + " of table '" + table.name + "'";
        IndexWalkResult result;
        try {
            result = WalkIndex(
                file.version(), [&file](uint32_t p) { return file.ReadPage(p); }, r.root_page, walk,
                [&](const IndexEntry& e, uint32_t) {
                    if (keys->arena_.size() + e.key.size() > kMaxBytes)
                        Raise(kSystemResourceExceeded);
                    index.entries.push_back({static_cast<uint32_t>(e.data_page) << 8 | e.data_row,
                                             static_cast<uint32_t>(keys->arena_.size()),
                                             static_cast<uint32_t>(e.key.size())});
                    keys->arena_.insert(keys->arena_.end(), e.key.begin(), e.key.end());
                });
        } catch (const JetError& e) {
            if (e.number() == kSystemResourceExceeded) throw;
            throw CarryFailure(what + " cannot be read: " + e.what());
        }
        if (!result.ok())
            throw CarryFailure(
                what + " cannot be carried, its tree is damaged: " + result.problems.front().what);
        std::sort(index.entries.begin(), index.entries.end(),
                  [](const Entry& a, const Entry& b) { return a.location < b.location; });
        for (size_t i = 1; i < index.entries.size(); ++i)
            if (index.entries[i].location == index.entries[i - 1].location)
                throw CarryFailure(what + " cannot be carried: two entries name one row");
    }
    return keys;
}

std::optional<ByteSpan> CarriedKeys::Find(size_t index, uint32_t location) const {
    if (!carried(index)) return std::nullopt;
    const std::vector<Entry>& entries = indexes_[index].entries;
    const auto it = std::lower_bound(entries.begin(), entries.end(), location,
                                     [](const Entry& e, uint32_t at) { return e.location < at; });
    if (it == entries.end() || it->location != location) return std::nullopt;
    return ByteSpan(arena_).subspan(it->offset, it->size);
}

}  // namespace jet

namespace jet {

KeyCarrier::KeyCarrier(DatabaseSource& source) : source_(source) {
    const Version version = source.version();
    for (const SourceTable& t : source.tables()) {
        SourceTableKeys s;
        s.columns = t.def.columns.size();
        for (const RealIndexDef& r : t.def.real_indexes) {
            if (NeedsCarriedKeys(version, t.def, r)) {
                s.encoders.push_back(std::make_unique<IndexKeyEncoder>(version, t.def, r));
                active_ = true;
            } else {
                s.encoders.push_back(nullptr);
            }
        }
        tables_.push_back(std::move(s));
    }
}

void KeyCarrier::BeginTable(size_t table) {
    SourceTableKeys& s = tables_.at(table);
    bool any = false;
    for (const auto& e : s.encoders) any = any || e != nullptr;
    if (!any) return;
    MdbFile* file = source_.index_file();
    if (file == nullptr)
        throw CarryFailure("the source of table '" + source_.tables()[table].name +
                           "' has no index to carry keys from");
    s.keys = CarriedKeys::Read(*file, source_.tables()[table].def);
}

void KeyCarrier::Attach(size_t table, Row& row, const Row* read) {
    const SourceTableKeys& s = tables_.at(table);
    if (!s.keys) return;
    if (read != nullptr) {
        for (size_t k = 0; k < s.encoders.size(); ++k) {
            if (s.encoders[k] == nullptr) continue;
            Bytes before, after;
            s.encoders[k]->ValueIdentityTo(*read, before);
            s.encoders[k]->ValueIdentityTo(row, after);
            if (before != after)
                throw CarryFailure("a row of table '" + source_.tables()[table].name +
                                   "' has an object id changed in the key of index " +
                                   std::to_string(k) + ", which cannot be carried");
        }
    }
    const uint32_t location = source_.visited_row();
    row.emplace_back(int64_t{location});
    for (size_t k = 0; k < s.encoders.size(); ++k) {
        const IndexKeyEncoder* e = s.encoders[k].get();
        if (e == nullptr || !e->Includes(row)) {
            row.emplace_back();
            continue;
        }
        const std::optional<ByteSpan> key =
            location == 0 ? std::nullopt : s.keys->Find(k, location);
        if (!key)
            throw CarryFailure("a row of table '" + source_.tables()[table].name +
                               "' has no entry in index " + std::to_string(k) +
                               " to carry its key from");
        row.emplace_back(Bytes(key->begin(), key->end()));
    }
}

std::vector<bool> KeyCarrier::GivenKeys(size_t table) const {
    std::vector<bool> given;
    for (const auto& e : tables_.at(table).encoders) given.push_back(e != nullptr);
    return given;
}

const std::vector<std::optional<ByteSpan>>& KeyCarrier::Detach(size_t table, Row& row) {
    const SourceTableKeys& s = tables_.at(table);
    keys_.assign(s.encoders.size(), std::nullopt);
    detached_.clear();
    detached_location_ = 0;
    if (row.size() != s.columns + 1 + s.encoders.size()) return keys_;
    detached_.assign(std::make_move_iterator(row.begin() + static_cast<ptrdiff_t>(s.columns)),
                     std::make_move_iterator(row.end()));
    row.resize(s.columns);
    detached_location_ = static_cast<uint32_t>(std::get<int64_t>(detached_[0]));
    for (size_t k = 0; k < s.encoders.size(); ++k)
        if (const auto* key = std::get_if<Bytes>(&detached_[k + 1])) keys_[k] = ByteSpan(*key);
    return keys_;
}

void KeyCarrier::Written(size_t table, uint32_t new_id, uint32_t at) {
    const SourceTableKeys& s = tables_.at(table);
    if (!s.keys) return;
    const std::lock_guard<std::mutex> hold(mutex_);
    OutputTable& out = output_[new_id];
    if (!out.keys) out.keys = s.keys;
    out.rows.emplace_back(at, detached_location_);
}

bool KeyCarrier::ExpectedKey(const TableDef& table, size_t index, uint32_t location, Bytes& key) {
    const std::lock_guard<std::mutex> hold(mutex_);
    // The check goes through the tables in the order they were written: those before this
    // one are done with.
    output_.erase(output_.begin(), output_.lower_bound(table.tdef_page));
    const auto it = output_.find(table.tdef_page);
    if (it == output_.end()) return false;
    const auto& rows = it->second.rows;
    const auto row = std::lower_bound(
        rows.begin(), rows.end(), location,
        [](const std::pair<uint32_t, uint32_t>& r, uint32_t at) { return r.first < at; });
    if (row == rows.end() || row->first != location) return false;
    const std::optional<ByteSpan> found = it->second.keys->Find(index, row->second);
    if (!found) return false;
    key.assign(found->begin(), found->end());
    return true;
}

}  // namespace jet
