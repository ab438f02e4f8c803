// Rows as Jet lays them out: every live row of every corpus file that was written under its
// table's current definition (as many columns and variable slots as the definition counts) is
// decoded and encoded again by our row encoder, and must come out byte for byte as Jet wrote it.
// Real files carry every shape Access leaves behind (deleted fixed and variable columns, all
// variable columns gone, columns added since, Jet 3 jump tables), so this pins the encoder to
// Jet's layout rather than to our own reader.
//
// Two things are compared after a normalisation:
//   - the fixed slot of a null column and the null-mask bits past the column count: Jet leaves
//     whatever bytes were there, we write zeros;
//   - a long value Jet stored out of line although it would fit inline, or memo text stored
//     compressed where its column does not ask for it (the encoder is handed Jet's own header
//     for out-of-line values, so only these placement choices can differ): not compared.
// Rows that still hold the data of a column deleted after they were written, and rows shrunk in
// place (free bytes before their offset table), are not compared either. The rows the writer
// copies as stored instead of encoding them (row_copy.h) must each encode to themselves.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "jet/base/error.h"
#include "jet/format/row_codec.h"
#include "jet/read/table_reader.h"
#include "jet/rebuild/database_source.h"
#include "jet/write/row_encoder.h"
#include "tests/support/corpus.h"

namespace jet {
namespace {

struct Tally {
    long rows = 0;          // rows of the current shape compared
    long older_shape = 0;   // rows written under an earlier definition (not compared)
    long null_slots = 0;    // rows whose null fixed slots held bytes (normalised)
    long placement = 0;     // rows whose long values were placed otherwise (not compared)
    long deleted_data = 0;  // rows still holding data of a deleted column (not compared)
    long slack = 0;         // rows with free bytes before their offset table (not compared)
    long mismatched = 0;
    long copied = 0;  // rows the writer copies as stored (row_copy.h)
    long copy_wrong = 0;
};

std::string Hex(ByteSpan b) {
    std::string s;
    char buf[4];
    for (uint8_t c : b) {
        std::snprintf(buf, sizeof buf, "%02x ", c);
        s += buf;
    }
    return s;
}

// True when a row still holds bytes of a column deleted since it was written: a null-mask bit
// set for a column number no column has, non-zero bytes in the fixed area that no column
// covers, or data in a variable slot no column uses. Jet does not rewrite rows when a column goes,
// so such rows are older than the deletion.
bool HoldsDeletedColumnData(const TableDef& def, const RowLayout& layout, ByteSpan row) {
    const size_t fixed_end =
        layout.has_var_area ? layout.var_offsets.front() : layout.null_mask_offset;
    std::vector<bool> covered(fixed_end > layout.fixed_start ? fixed_end - layout.fixed_start : 0);
    std::vector<bool> used(layout.var_count, false);
    for (const ColumnDef& c : def.columns) {
        if (c.fixed()) {
            for (size_t i = 0; i < FixedSize(c) && c.fixed_offset + i < covered.size(); ++i)
                covered[c.fixed_offset + i] = true;
        } else if (c.var_index < used.size()) {
            used[c.var_index] = true;
        }
    }
    std::vector<bool> numbered(layout.column_count, false);
    for (const ColumnDef& c : def.columns)
        if (c.col_num < numbered.size()) numbered[c.col_num] = true;
    for (uint16_t n = 0; n < layout.column_count; ++n)
        if (!numbered[n] && layout.MaskBit(row, n)) return true;
    for (size_t i = 0; i < covered.size(); ++i)
        if (!covered[i] && row[layout.fixed_start + i] != 0) return true;
    for (size_t j = 0; j < used.size(); ++j)
        if (!used[j] && layout.var_offsets[j + 1] != layout.var_offsets[j]) return true;
    return false;
}

// Compares the rows of one table; reports the first few mismatches.
void CompareTable(DatabaseView& db, const TableDef& def, const std::string& where, Tally& tally) {
    const Version version = db.file().version();
    RowEncoder encoder(def, version, db.file().header().code_page);
    TableScanner scanner(db.file(), def);
    Bytes encoded;
    while (scanner.Next()) {
        const ByteSpan stored = scanner.row_bytes();
        const RowLayout layout = ParseRowLayout(stored, version, def);
        if (layout.column_count != def.max_cols ||
            (layout.has_var_area && layout.var_count != RowVarCount(def))) {
            ++tally.older_shape;
            continue;
        }
        if (HoldsDeletedColumnData(def, layout, stored)) {
            ++tally.deleted_data;
            continue;
        }
        if (layout.has_var_area && layout.eod_position != layout.var_offsets.back()) {
            ++tally.slack;  // shrunk in place: free bytes between the data and the offsets
            continue;
        }
        Bytes expected(stored.begin(), stored.end());
        bool normalised = false, placement = false;
        for (const ColumnDef& c : def.columns) {
            const ColumnSlice s = LocateColumn(layout, stored, c);
            if (c.fixed() && c.type != ColumnType::kBoolean && !s.not_null) {
                const size_t size = FixedSize(c);
                for (size_t i = 0; i < size; ++i) {
                    normalised |= expected[s.offset + i] != 0;
                    expected[s.offset + i] = 0;
                }
            }
            if (c.long_value() && s.not_null && s.bytes.size() >= 12 && s.bytes[3] != 0x80 &&
                (U32(s.bytes, 0) & 0x00FFFFFFu) <= kMaxInlineLongValue)
                placement = true;
            // Memo text compressed though its column does not ask for it (other programs than
            // Access do that; Access compresses only where the column says so).
            if (c.type == ColumnType::kMemo && version == Version::kJet4 && s.not_null &&
                s.bytes.size() >= 14 && s.bytes[3] == 0x80 && s.bytes[12] == 0xFF &&
                s.bytes[13] == 0xFE && !(c.ext_flags & kColumnCompressedUnicode))
                placement = true;
        }
        if (placement) {
            ++tally.placement;
            continue;
        }
        // Bits of the mask's last byte past the column count: Jet sometimes leaves them set.
        if (layout.column_count % 8 != 0) {
            uint8_t& last = expected[layout.null_mask_offset + layout.null_mask_size - 1];
            const uint8_t used = static_cast<uint8_t>((1u << (layout.column_count % 8)) - 1);
            normalised |= (last & ~used) != 0;
            last &= used;
        }
        tally.null_slots += normalised;
        // Out-of-line values keep Jet's own header, so the layout around them is Jet's.
        auto keep_header = [&](size_t column, const Bytes&) {
            const ColumnSlice s = LocateColumn(layout, stored, def.columns[column]);
            return Bytes(s.bytes.begin(), s.bytes.end());
        };
        encoder.Encode(scanner.Decode(), keep_header, encoded);
        ++tally.rows;
        if (encoded == expected) continue;
        if (++tally.mismatched <= 40)
            ADD_FAILURE() << where << " page " << scanner.location().page << " row "
                          << int(scanner.location().row) << "\n  Jet: " << Hex(expected)
                          << "\n  ours: " << Hex(encoded);
    }
}

// The rows a strict source hands over to be copied: each must encode to itself, and its long
// values kept out of line to the data the encoder would store.
void CheckCopiedRows(const std::string& path, const std::string& password, Tally& tally) {
    OpenOptions open;
    open.password = password;
    std::unique_ptr<DatabaseSource> source = OpenStrictSource(Env::Default(), path, open);
    const Version version = source->version();
    const uint16_t code_page = source->header().code_page;
    std::vector<std::shared_ptr<const RowCopyRule>> rules;
    for (const SourceTable& t : source->tables())
        rules.push_back(std::make_shared<const RowCopyRule>(t.def, version, code_page));
    source->CopyRowsWhere(rules);
    Bytes encoded;
    for (size_t i = 0; i < source->tables().size(); ++i) {
        const TableDef& def = source->tables()[i].def;
        RowEncoder encoder(def, version, code_page);
        source->ReadRows(i,
                         [&](Row& row) {
                             const StoredRow* copy = source->stored_row();
                             if (copy == nullptr || !copy->copy) return;
                             ++tally.copied;
                             const RowLayout layout = ParseRowLayout(copy->bytes, version, def);
                             size_t next = 0;
                             bool same = true;
                             encoder.Encode(
                                 row,
                                 [&](size_t column, const Bytes& data) {
                                     same &= next < copy->long_value_count &&
                                             copy->long_values[next].column == column &&
                                             copy->long_values[next].data == data;
                                     ++next;
                                     const ColumnSlice s =
                                         LocateColumn(layout, copy->bytes, def.columns[column]);
                                     return Bytes(s.bytes.begin(), s.bytes.end());
                                 },
                                 encoded);
                             same &= next == copy->long_value_count && encoded == copy->bytes;
                             if (!same && ++tally.copy_wrong <= 10)
                                 ADD_FAILURE() << path << " / " << def.name
                                               << ": copied, encodes otherwise\n  "
                                               << Hex(copy->bytes) << "\n  " << Hex(encoded);
                         },
                         {});
    }
}

TEST(RowLayout, CorpusRowsOfTheCurrentShapeEncodeAsJetWroteThem) {
    if (!testkit::HaveCorpus()) GTEST_SKIP() << "no corpus at " << testkit::CorpusDir();
    const auto damaged = testkit::ReadList("corpus-check-exceptions.tsv");
    Tally tally;
    int files = 0;
    for (const auto& file : testkit::CorpusFiles()) {
        const std::string name = file.filename().string();
        if (damaged.count(name)) continue;
        std::unique_ptr<DatabaseView> db;
        try {
            OpenOptions open;
            open.password = testkit::CorpusPassword(file);
            db = DatabaseView::Open(Env::Default(), file.string(), open);
        } catch (const JetError&) {
            continue;  // not a Jet 3 / Jet 4 file
        }
        ++files;
        for (const std::string& table : db->TableNames(true))
            CompareTable(*db, db->ReadTable(table), name + " / " + table, tally);
        db.reset();
        try {
            CheckCopiedRows(file.string(), testkit::CorpusPassword(file), tally);
        } catch (const JetError&) {
            // A file the strict source refuses is not compacted at all.
        }
    }
    std::printf(
        "%d files: %ld rows encoded as Jet wrote them (%ld with bytes in null fixed slots), "
        "%ld mismatched; not compared: %ld of an older shape, %ld holding data of a deleted "
        "column, %ld with free bytes before the offsets, %ld with long values placed otherwise; "
        "%ld rows copied as stored\n",
        files, tally.rows - tally.mismatched, tally.null_slots, tally.mismatched, tally.older_shape,
        tally.deleted_data, tally.slack, tally.placement, tally.copied);
    EXPECT_EQ(tally.mismatched, 0);
    EXPECT_EQ(tally.copy_wrong, 0);
    EXPECT_GT(tally.rows, 10000);
}

}  // namespace
}  // namespace jet
