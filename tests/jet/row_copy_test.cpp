// The rule that lets the writer copy a source row as stored (row_copy.h) must take only rows the
// encoder would write byte for byte from their decoded values, and should take every row the
// encoder writes. Random rows of a table of every type (with the gaps of a deleted fixed and a
// deleted variable column) are encoded, must be taken, and then have one random byte changed:
// whenever the changed row still decodes and is taken, encoding its values gives it back.
// (That the output check catches a copied row damaged on its way to the file is the output
// check test's: the sample it compacts is copied row by row.) In Jet 3 every row is also decoded
// with its texts left to their bytes (StoredTexts): the rule must give the same verdict from
// those, and decoding them afterwards must give the same values.
#include "jet/write/row_copy.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "jet/base/error.h"
#include "jet/format/mdb_file.h"
#include "jet/write/new_database.h"
#include "jet/write/row_encoder.h"
#include "jet/write/tdef_writer.h"
#include "tests/support/synthetic_file.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

TableDef EveryType(Version version) {
    TableDef t;
    t.columns = {
        NewColumn("long", ColumnType::kLong),      NewColumn("gone", ColumnType::kLong),
        NewColumn("yes", ColumnType::kBoolean),    NewColumn("byte", ColumnType::kByte),
        NewColumn("int", ColumnType::kInteger),    NewColumn("money", ColumnType::kCurrency),
        NewColumn("single", ColumnType::kSingle),  NewColumn("double", ColumnType::kDouble),
        NewColumn("when", ColumnType::kDateTime),  NewColumn("guid", ColumnType::kGuid),
        NewColumn("text", ColumnType::kText, 30),  NewColumn("old", ColumnType::kText, 10),
        NewColumn("bin", ColumnType::kBinary, 40), NewColumn("memo", ColumnType::kMemo),
        NewColumn("ole", ColumnType::kOle)};
    if (version == Version::kJet4) t.columns.push_back(NewColumn("num", ColumnType::kNumeric));
    for (ColumnDef& c : t.columns) c.code_page = 0;  // the database's
    AssignNewColumnLayout(t);
    // Deleted columns leave their fixed slot and their variable slot behind.
    t.columns.erase(t.columns.begin() + 11);
    t.columns.erase(t.columns.begin() + 1);
    return t;
}

std::u16string Text(std::mt19937& rng, size_t max_chars, Version version) {
    static const char16_t jet4[] = u"abcdefghij  \u00e9\u20ac\u4e2d\u0100";
    static const char16_t jet3[] = u"abcdefghij  \u00e9\u20ac";
    const std::u16string_view pool = version == Version::kJet4 ? jet4 : jet3;
    std::u16string s(rng() % (max_chars + 1), u'a');
    // Mostly Latin text, now and then a run of other characters.
    const size_t span = rng() % 4 == 0 ? pool.size() : 12;
    for (char16_t& c : s) c = pool[rng() % span];
    return s;
}

Row RandomRow(const TableDef& t, Version version, std::mt19937& rng) {
    Row row(t.columns.size());
    for (size_t i = 0; i < row.size(); ++i) {
        const ColumnType type = t.columns[i].type;
        if (type == ColumnType::kBoolean) {
            row[i] = rng() % 2 == 0;
            continue;
        }
        if (rng() % 5 == 0) continue;  // null
        const int64_t r = static_cast<int64_t>(rng());
        switch (type) {
            case ColumnType::kByte:
                row[i] = r % 256;
                break;
            case ColumnType::kInteger:
                row[i] = r % 65536 - 32768;
                break;
            case ColumnType::kLong:
            case ColumnType::kCurrency:
                row[i] = r - (int64_t{1} << 31);
                break;
            case ColumnType::kSingle:
            case ColumnType::kDouble:
            case ColumnType::kDateTime:
                row[i] = static_cast<double>(r) / 7.0;
                break;
            case ColumnType::kGuid: {
                Guid g;
                for (uint8_t& b : g) b = static_cast<uint8_t>(rng());
                row[i] = g;
                break;
            }
            case ColumnType::kNumeric: {
                Decimal d;
                d.negative = r % 2 == 0;
                d.magnitude[3] = static_cast<uint32_t>(r);
                row[i] = d;
                break;
            }
            case ColumnType::kText:
                row[i] = Text(rng, 15, version);  // within the 30 bytes of a Jet 4 column
                break;
            case ColumnType::kMemo: {
                std::u16string text = Text(rng, rng() % 2 ? 20 : 200, version);
                // Now and then about as long as the longest text that is compressed.
                if (rng() % 8 == 0) text.resize(1020 + rng() % 8, u'a');
                row[i] = std::move(text);
                break;
            }
            default:
                row[i] =
                    Bytes(rng() % (type == ColumnType::kOle ? 120 : 40), static_cast<uint8_t>(r));
        }
    }
    return row;
}

// Long values stored out of line, by the pointer of the header the store gave them.
class Store final : public LongValueReader {
  public:
    Bytes Put(const Bytes& data) {
        const uint32_t pointer = static_cast<uint32_t>(values_.size() + 1) << 8;
        values_[pointer] = data;
        return MakeLongValueHeader(static_cast<uint32_t>(data.size()), kLongValueSingle, pointer);
    }
    // As the source reads them: inline from the field, else by pointer; kept per column.
    bool Read(size_t column, ByteSpan field, Bytes& out) override {
        if (field.size() < 12) Corrupt("short field");
        if (field[3] == kLongValueInline) {
            out.assign(field.begin() + 12, field.end());
            if (out.size() != (U32(field, 0) & 0xFFFFFF)) Corrupt("inline length");
        } else {
            auto it = values_.find(U32(field, 4));
            if (it == values_.end() || it->second.size() != (U32(field, 0) & 0x3FFFFFFF))
                Corrupt("no such value");
            out = it->second;
        }
        kept.resize(std::max(kept.size(), column + 1));
        kept[column] = out;
        return true;
    }
    std::vector<Bytes> kept;

  private:
    std::map<uint32_t, Bytes> values_;
};

TEST(RowCopy, TakesTheRowsTheEncoderWritesAndOnlyRowsItWouldWriteAlike) {
    for (const Version version : {Version::kJet4, Version::kJet3}) {
        SCOPED_TRACE(version == Version::kJet4 ? "Jet 4" : "Jet 3");
        testkit::TempDir dir;
        testkit::SyntheticFile(version, 2).Write(dir / "x.mdb");
        const std::unique_ptr<MdbFile> file = MdbFile::Open(Env::Default(), dir / "x.mdb");
        const uint16_t code_page = file->header().code_page;
        const TableDef t = EveryType(version);
        RowEncoder encoder(t, version, code_page);
        const RowCopyRule rule(t, version, code_page);
        ASSERT_TRUE(rule.enabled());
        std::mt19937 rng(7);
        Store store;
        Bytes row, again, scratch;
        Row values;
        StoredRow stored;
        size_t taken_changed = 0, refused_changed = 0;
        StoredTexts texts;
        for (const ColumnDef& c : t.columns) {
            const bool text = c.type == ColumnType::kText || c.type == ColumnType::kMemo;
            texts.use.push_back(text ? StoredTexts::kBytes : StoredTexts::kDecode);
        }
        Row undecoded_values;
        StoredRow undecoded_stored;
        // Decodes and takes `row` as the rule does with its texts undecoded (Jet 3 only).
        const auto take_undecoded = [&](const Bytes& r, const RowLayout& l) {
            if (version != Version::kJet3) return;
            DecodeRowTo(*file, t, l, r, undecoded_values, scratch, &store, &texts);
            rule.Take(r, l, undecoded_values, store.kept, undecoded_stored, &texts);
            DecodeStoredTexts(*file, t, texts, undecoded_values);
        };
        const auto same_as_undecoded = [&] {
            if (version != Version::kJet3) return true;
            return undecoded_stored.copy == stored.copy && undecoded_values == values;
        };
        for (int n = 0; n < 4000; ++n) {
            encoder.Encode(
                RandomRow(t, version, rng),
                [&](size_t, const Bytes& data) { return store.Put(data); }, row);
            RowLayout layout = ParseRowLayout(row, version, t);
            take_undecoded(row, layout);
            DecodeRowTo(*file, t, layout, row, values, scratch, &store);
            rule.Take(row, layout, values, store.kept, stored);
            ASSERT_TRUE(stored.copy) << "row " << n;
            ASSERT_TRUE(same_as_undecoded()) << "row " << n;
            ASSERT_EQ(stored.bytes, row);
            for (size_t k = 0; k < stored.long_value_count; ++k)
                EXPECT_EQ(
                    stored.long_values[k].offset,
                    LocateColumn(layout, row, t.columns[stored.long_values[k].column]).offset);

            // One byte changed: taken only when encoding gives exactly that row.
            row[rng() % row.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            try {
                layout = ParseRowLayout(row, version, t);
                take_undecoded(row, layout);
                DecodeRowTo(*file, t, layout, row, values, scratch, &store);
            } catch (const JetError&) {
                continue;
            }
            rule.Take(row, layout, values, store.kept, stored);
            ASSERT_TRUE(same_as_undecoded()) << "changed row " << n;
            if (!stored.copy) {
                ++refused_changed;
                continue;
            }
            ++taken_changed;
            const auto own_field = [&](size_t column, const Bytes&) {
                const ColumnSlice s = LocateColumn(layout, row, t.columns[column]);
                return Bytes(s.bytes.begin(), s.bytes.end());
            };
            encoder.Encode(values, own_field, again);
            ASSERT_EQ(again, row) << "row " << n << " was taken but encodes otherwise";
        }
        // Both verdicts were reached: values changed in place, and layouts no longer canonical.
        EXPECT_GT(taken_changed, 500u);
        EXPECT_GT(refused_changed, 500u);
    }
}

}  // namespace
}  // namespace jet
