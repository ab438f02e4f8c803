// Keys a rebuild carries over from its source instead of computing them.
//
// The engine keys text only in the General sort order (docs/index-keys.md 6.1). An index on a
// Text or Memo column of any other order holds keys that only Jet can make, so a rebuild takes
// each row's key from the source's own entry for that row: a leaf entry names the row's page
// and slot in the source (its header location, where an overflow row starts), and the rebuild
// finds the row by that location while it reads it, then writes the key with the row's new
// pointer. Equal keys are ordered by the new pointers, as the writer orders every index.
//
// One CarriedKeys holds, for one table, the entries of each of its real indexes whose keys the
// engine cannot compute: per index, the entries sorted by source location, their key bytes in
// one arena. Memory: the key bytes of those indexes of one table, plus 12 bytes an entry; a
// table whose entries pass kMaxBytes is refused (3035) rather than held.
//
// A source index that cannot be carried whole makes the carrying fail (CarryFailure): its
// tree is damaged, it names a row twice, or a row that needs an entry has none. A rebuild then
// either fails (compaction: the file needs a repair) or writes the database in General order
// (repair, rebuild.h), where every text key is computed again; it never computes a key in an
// order it does not know.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/mdb_file.h"
#include "jet/format/schema.h"
#include "jet/keys/index_key.h"
#include "jet/rebuild/database_source.h"

namespace jet {

// The source's keys cannot all be carried; what() says which index and why.
class CarryFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// True when index `index` of `table` has a text column in a sort order the engine has no
// tables for, so that its keys must be carried.
bool NeedsCarriedKeys(Version version, const TableDef& table, const RealIndexDef& index);
// The source's sort order where it is not General: page 0's, else the first Text or Memo
// column's that is not; 0 when every one is General.
uint16_t ForeignSortOrder(DatabaseSource& source);
// Page 0 and a table definition in General order: what a database written with every text
// key computed says (in Jet 3 every column carries the order).
void InGeneralOrder(DatabaseHeader& header);
void InGeneralOrder(TableDef& def, Version version);

class CarriedKeys {
  public:
    // Bytes of keys one table may carry.
    static constexpr size_t kMaxBytes = size_t{1} << 30;

    // Reads, from `file`, the entries of every index of `table` (a definition as stored in the
    // file) that needs carried keys. Throws CarryFailure when an index's tree is damaged or
    // names a row twice; JetError 3035 past kMaxBytes.
    static std::shared_ptr<const CarriedKeys> Read(MdbFile& file, const TableDef& table);

    // Whether real index `index` is carried.
    bool carried(size_t index) const { return index < indexes_.size() && indexes_[index].used; }
    bool empty() const { return carried_count_ == 0; }
    // The key the source holds for the row at `location` (page << 8 | row) in index `index`,
    // or nullopt when it has none.
    std::optional<ByteSpan> Find(size_t index, uint32_t location) const;

  private:
    struct Entry {
        uint32_t location;
        uint32_t offset;  // into arena
        uint32_t size;
    };
    struct Index {
        bool used = false;
        std::vector<Entry> entries;  // sorted by location
    };
    std::vector<Index> indexes_;
    size_t carried_count_ = 0;
    Bytes arena_;
};

// The carrying of one rebuild, across its three threads (rebuild.h): the reading thread reads
// each table's source keys before its rows (BeginTable) and puts each row's keys after its
// values (Attach); the writing thread takes them off again for the writer (Detach) and tells
// where it wrote the row (Written); the checking thread asks which key each row of the output
// must hold (ExpectedKey, for CheckOptions::expected_key). A table's keys are let go once the
// check has moved past it.
class KeyCarrier {
  public:
    explicit KeyCarrier(DatabaseSource& source);
    KeyCarrier(const KeyCarrier&) = delete;
    KeyCarrier& operator=(const KeyCarrier&) = delete;

    // False when no index of the source needs carried keys: then nothing else is called.
    bool active() const { return active_; }

    // Reading thread. Throws CarryFailure (CarriedKeys::Read).
    void BeginTable(size_t table);
    // Reading thread, after the row's digest: appends its source location and keys. `read`:
    // the row as the source held it, when the rebuild changed some of its values (object
    // ids). Throws CarryFailure when a row that an index must hold has no key there, or when
    // a value the key was made of has changed.
    void Attach(size_t table, Row& row, const Row* read = nullptr);

    // Writing thread: which real indexes of the table get their keys from Detach.
    std::vector<bool> GivenKeys(size_t table) const;
    // Writing thread: takes off what Attach appended; the keys stay valid until the next call.
    const std::vector<std::optional<ByteSpan>>& Detach(size_t table, Row& row);
    // Writing thread: the row last detached was written at `at` in the output table `new_id`.
    void Written(size_t table, uint32_t new_id, uint32_t at);
    // Writing thread: every row of the table is written.
    void TableWritten(size_t table) { tables_.at(table).keys.reset(); }

    // Checking thread: CheckOptions::expected_key.
    bool ExpectedKey(const TableDef& table, size_t index, uint32_t location, Bytes& key);

  private:
    struct SourceTableKeys {
        std::shared_ptr<const CarriedKeys> keys;                 // set by BeginTable
        std::vector<std::unique_ptr<IndexKeyEncoder>> encoders;  // carried indexes only
        size_t columns = 0;
    };
    struct OutputTable {
        std::shared_ptr<const CarriedKeys> keys;
        std::vector<std::pair<uint32_t, uint32_t>> rows;  // output pointer, source location
    };

    DatabaseSource& source_;
    bool active_ = false;
    std::vector<SourceTableKeys> tables_;
    // Writing thread.
    std::vector<Value> detached_;
    std::vector<std::optional<ByteSpan>> keys_;
    uint32_t detached_location_ = 0;
    // Shared by the writing and the checking thread.
    std::mutex mutex_;
    std::map<uint32_t, OutputTable> output_;  // by output table id
};

}  // namespace jet
