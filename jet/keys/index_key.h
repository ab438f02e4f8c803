// Index keys: the byte strings Jet stores in index entries, computed from a row.
//
// A key is the concatenation, in index-column order, of one segment per column: a flag byte
// (0x7F ascending value, 0x00 ascending null, 0x80 descending value, 0xFF descending null)
// followed, for a value, by an order-preserving encoding of it: big-endian integers with the
// sign bit flipped, IEEE floats made sortable, binary in 8-byte groups, text in the "General"
// sort order of the file's version (see collation.h). Keys compare as unsigned byte strings,
// and a descending column inverts its bytes. docs/index-keys.md has every rule and example.
//
// The encoder is shared by the checker (which compares our keys with the stored ones) and by
// the writer (which builds indexes from rows), so it depends only on the schema and values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/schema.h"

namespace jet {

// Flag bytes that open each key segment.
constexpr uint8_t kKeyAscendingValue = 0x7F;
constexpr uint8_t kKeyAscendingNull = 0x00;
constexpr uint8_t kKeyDescendingValue = 0x80;
constexpr uint8_t kKeyDescendingNull = 0xFF;

// True when a key is made only of null segments: such keys may repeat in a unique index.
inline bool IsAllNullKey(const uint8_t* key, size_t size) {
    for (size_t i = 0; i < size; ++i)
        if (key[i] != kKeyAscendingNull && key[i] != kKeyDescendingNull) return false;
    return true;
}

// The sort order whose tables the engine has: General (LCID 1033; in Jet 4 sort version 0).
constexpr uint16_t kGeneralSortOrder = 1033;

// Jet keys text by at most this many characters (also for Memo).
constexpr size_t kMaxKeyTextChars = 255;

// How Jet 4 counts a ligature (ß, Æ, Œ, ...) when it places accent and unprintable entries
// after it. Jet builds differ: the Northwind samples were keyed per letter, other files with one
// position per ligature (docs/index-keys.md 6.6). Only text with a ligature followed by an
// accent or an unprintable character is affected.
enum class LigatureRule : uint8_t {
    kOnePosition,  // a ligature is one character position (the default)
    kPerLetter,    // a ligature counts one position per letter it stands for
};

// Appends the segment (flag byte and value bytes) of one column value. Throws
// std::invalid_argument when the value's form does not suit the column type, and JetError 3343
// for a column type that cannot be indexed.
void AppendKeySegment(Version version, const ColumnDef& column, bool ascending, const Value& value,
                      Bytes& out, LigatureRule ligatures = LigatureRule::kOnePosition);

// The value bytes of a text segment (without the flag byte), from the text as stored.
Bytes Jet4TextKey(std::u16string_view text, bool ascending,
                  LigatureRule ligatures = LigatureRule::kOnePosition);
// True when the key of `text` may depend on the ligature rule.
bool HasLigature(std::u16string_view text);
// Jet 3 keys are computed from code-page bytes, not characters.
Bytes Jet3TextKey(std::string_view code_page_bytes, bool ascending);
void AppendJet3TextKey(Bytes& out, std::string_view code_page_bytes, bool ascending);

// Computes the keys of one real index of a table. Build one per index and reuse it for every
// row: it resolves the index columns to row positions once.
class IndexKeyEncoder {
  public:
    // Throws JetError 3343 when the index names a column the table does not have, or has no
    // columns.
    IndexKeyEncoder(Version version, const TableDef& table, const RealIndexDef& index,
                    LigatureRule ligatures = LigatureRule::kOnePosition);

    // The key of `row` (one value per column of the table, in TableDef::columns order).
    Bytes Encode(const Row& row) const;
    // Appends the key of `row` to `out`.
    void EncodeTo(const Row& row, Bytes& out) const;

    // True when every key column of the row is null. Boolean columns are never null in a key.
    bool AllNull(const Row& row) const;
    // Whether Jet keeps an entry for the row: an "ignore nulls" index leaves out rows whose key
    // columns are all null.
    bool Includes(const Row& row) const { return !(ignore_nulls_ && AllNull(row)); }

    // True when the row's key may differ under the other ligature rule (Jet 4 text with a
    // ligature in a key column).
    bool DependsOnLigatureRule(const Row& row) const;
    // The same encoder with another ligature rule.
    IndexKeyEncoder WithLigatureRule(LigatureRule ligatures) const;

    // False when a text key column uses a sort order other than General (LCID 1033, in Jet 4
    // sort version 0), whose tables we do not have: keys of such text would not be Jet's.
    bool knows_sort_order() const { return knows_sort_order_; }

    size_t column_count() const { return parts_.size(); }
    // The sort order of the first key column whose order we do not know (0 when we know
    // them all).
    uint16_t unknown_sort_order() const { return unknown_sort_order_; }
    // Appends bytes that are equal for two rows exactly when their key columns hold equal
    // values: where keys cannot be computed, equal values must still carry equal keys.
    void ValueIdentityTo(const Row& row, Bytes& out) const;

  private:
    struct Part {
        ColumnDef column;
        size_t row_position = 0;
        bool ascending = true;
    };
    Version version_;
    LigatureRule ligatures_ = LigatureRule::kOnePosition;
    bool ignore_nulls_ = false;
    bool knows_sort_order_ = true;
    uint16_t unknown_sort_order_ = 0;
    std::vector<Part> parts_;
};

// Compares two index entries the way Jet orders them: key bytes unsigned, a prefix first; then
// data page, then row. Returns <0, 0, >0.
int CompareIndexEntries(const Bytes& key_a, uint32_t page_a, uint8_t row_a, const Bytes& key_b,
                        uint32_t page_b, uint8_t row_b);

}  // namespace jet
