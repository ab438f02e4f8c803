// Rows the writer may copy as they are stored instead of encoding their values again.
//
// A rebuild decodes every row of its source (for the digest, the index keys, the ids it maps)
// and the writer encodes the values again (row_encoder.h). Where a source row is already laid
// out as the encoder lays out the values it decodes to, the encoding is skipped: the row's bytes
// are written as read, but for the 12-byte fields of the long values kept out of line, which
// point to where the writer stores their data (as read: it is what the encoder would store).
//
// RowCopyRule decides that from the bytes read from the source and the table's definition as
// it is written, never from the writer: a row qualifies only when the encoder, given the row's
// decoded values, would give back exactly its bytes. That is, in short: ncols = max_cols, no
// mask bit, fixed byte or variable byte outside what the columns hold (null columns take no
// bytes, deleted columns' slots are zero or empty), the variable data packed right after the
// fixed area and the offset table (and its Jet 3 jump table) as the encoder computes them, and
// every value in its canonical stored form: text compressed exactly when Access compresses it
// (text_codec.h) and in its one compressed form, Jet 3 text whose bytes the code page maps back
// to themselves, numbers whose stored form survives the round trip (a Single NaN may not), no
// value longer than its column, a long value inline when at most kMaxInlineLongValue bytes and
// kept out of line otherwise.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/base/value.h"
#include "jet/format/row_codec.h"
#include "jet/format/schema.h"

namespace jet {

// A row to copy: its bytes, and for each long value kept out of line where its field is and
// the value's data, which the writer stores and then puts the field it gets in its place.
struct StoredRow {
    struct LongValue {
        size_t column = 0;  // into TableDef::columns
        size_t offset = 0;  // of the 12-byte field in `bytes`
        Bytes data;
    };
    bool copy = false;  // false: encode the values
    Bytes bytes;
    std::vector<LongValue> long_values;  // the first `long_value_count` are this row's
    size_t long_value_count = 0;

    size_t memory() const;
    // Lets go of the buffers of long values past a few pages, so that rows waiting in batches
    // do not each keep the largest value they ever held.
    void Trim();
};

class RowCopyRule {
  public:
    // `def` as the writer is given it (its layout is what the encoder follows); `code_page` the
    // database's (the writer encodes Jet 3 text in it).
    RowCopyRule(const TableDef& def, Version version, uint16_t code_page);
    RowCopyRule(const RowCopyRule&) = delete;
    RowCopyRule& operator=(const RowCopyRule&) = delete;

    // False when no row of the table can be copied (a layout the rule does not cover: fixed
    // text, overlapping fixed columns, two columns on one variable slot, a variable Boolean).
    bool enabled() const { return enabled_; }

    // Sets out.copy: whether the row `row` (parsed as `layout`, decoded to `values`, with
    // `long_values[i]` the data read for long-value column i, and the texts `texts` gives as
    // bytes left undecoded) is copied, and if so fills `out`, taking the data it keeps from
    // `long_values`.
    void Take(ByteSpan row, const RowLayout& layout, const Row& values,
              std::vector<Bytes>& long_values, StoredRow& out,
              const StoredTexts* texts = nullptr) const;

  private:
    bool Qualifies(ByteSpan row, const RowLayout& layout, const Row& values,
                   std::vector<Bytes>& long_values, StoredRow& out, const StoredTexts* texts) const;
    // `undecoded`: the value is text, left to its bytes.
    bool CanonicalText(ByteSpan stored, const ColumnDef& c, const Value& value,
                       bool undecoded) const;

    TableDef def_;
    Version version_;
    uint16_t code_page_;
    bool enabled_ = true;
    size_t fixed_size_ = 0;            // as the encoder sizes the fixed area
    uint16_t nvar_ = 0;                // RowVarCount(def)
    std::vector<bool> var_slot_used_;  // per variable slot
    Bytes mask_bits_;                  // the mask bits a row may set: the columns' numbers
    // The runs [from, to) of fixed-area bytes no column holds, which a row leaves zero.
    std::vector<std::pair<size_t, size_t>> fixed_gaps_;
    bool round_trips_[256] = {};  // Jet 3: code-page bytes that decode and encode back
    bool every_byte_round_trips_ = true;
};

}  // namespace jet
