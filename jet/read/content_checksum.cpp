#include "jet/read/content_checksum.h"

#include <bit>
#include <cstring>
#include <type_traits>

#include "jet/format/text_codec.h"

namespace jet {
namespace {

uint64_t Load64(const uint8_t* p) {
    uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
}

// The 128-bit product of x and y folded to 64 bits (high half ^ low half).
#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 Product;
uint64_t FoldedProduct(uint64_t x, uint64_t y) {
    const Product p = static_cast<Product>(x) * y;
    return static_cast<uint64_t>(p) ^ static_cast<uint64_t>(p >> 64);
}
#else
uint64_t FoldedProduct(uint64_t x, uint64_t y) {
    const uint64_t x_lo = x & 0xFFFFFFFFu, x_hi = x >> 32, y_lo = y & 0xFFFFFFFFu, y_hi = y >> 32;
    const uint64_t lo_lo = x_lo * y_lo, hi_lo = x_hi * y_lo, lo_hi = x_lo * y_hi;
    const uint64_t cross = (lo_lo >> 32) + (hi_lo & 0xFFFFFFFFu) + lo_hi;
    const uint64_t high = x_hi * y_hi + (hi_lo >> 32) + (cross >> 32);
    const uint64_t low = (cross << 32) | (lo_lo & 0xFFFFFFFFu);
    return high ^ low;
}
#endif

// Two 64-bit lanes fed with the same words through different multipliers and rotations
// (constants from SplitMix64 and MurmurHash3), finished with MurmurHash3's fmix64.
class RowHasher {
  public:
    void Word(uint64_t w) {
        a_ = std::rotl(a_ ^ (w * 0x9E3779B97F4A7C15ull), 31) * 0xBF58476D1CE4E5B9ull;
        b_ = std::rotl(b_ ^ (w * 0xC2B2AE3D27D4EB4Full), 27) * 0x94D049BB133111EBull;
        ++words_;
    }
    void Raw(const uint8_t* p, size_t n) {
        Word(n);
        // Long runs (memo text, binary) take most of the time: they go 64 bytes at a time
        // through four independent lanes, each taking 16 bytes by one 64x64-bit product (the
        // lane's state mixed into one word, a constant into the other, as wyhash does), so that
        // the products overlap. A product misses a change only when a word happens to equal the
        // lane's state or its constant: a chance of about 2^-64, as for any 64-bit hash. The
        // pieces of 16 bytes left go to the lanes in turn; each lane is then folded in as a word
        // of its own.
        if (n >= 64) {
            uint64_t lane0 = 0x452821E638D01377ull, lane1 = 0xBE5466CF34E90C6Cull,
                     lane2 = 0xC0AC29B7C97C50DDull, lane3 = 0x3F84D5B5B5470917ull;
            constexpr uint64_t k0 = 0xA0761D6478BD642Full, k1 = 0xE7037ED1A0B428DBull,
                               k2 = 0x8EBC6AF09C88C6E3ull, k3 = 0x589965CC75374CC3ull;
            for (; n >= 64; p += 64, n -= 64) {
                lane0 = FoldedProduct(Load64(p) ^ lane0, Load64(p + 8) ^ k0);
                lane1 = FoldedProduct(Load64(p + 16) ^ lane1, Load64(p + 24) ^ k1);
                lane2 = FoldedProduct(Load64(p + 32) ^ lane2, Load64(p + 40) ^ k2);
                lane3 = FoldedProduct(Load64(p + 48) ^ lane3, Load64(p + 56) ^ k3);
            }
            if (n >= 16) {
                lane0 = FoldedProduct(Load64(p) ^ lane0, Load64(p + 8) ^ k0);
                p += 16, n -= 16;
            }
            if (n >= 16) {
                lane1 = FoldedProduct(Load64(p) ^ lane1, Load64(p + 8) ^ k1);
                p += 16, n -= 16;
            }
            if (n >= 16) {
                lane2 = FoldedProduct(Load64(p) ^ lane2, Load64(p + 8) ^ k2);
                p += 16, n -= 16;
            }
            Word(lane0);
            Word(lane1);
            Word(lane2);
            Word(lane3);
        }
        for (; n >= 8; p += 8, n -= 8) Word(Load64(p));
        if (n > 0) Word(PartialWord(p, n));
    }
    uint64_t a() const { return Finish(a_ ^ words_); }
    uint64_t b() const { return Finish(b_ ^ (words_ * 0x9E3779B97F4A7C15ull)); }

  private:
    static uint64_t Finish(uint64_t h) { return MixBits(h); }
    uint64_t a_ = 0x243F6A8885A308D3ull;
    uint64_t b_ = 0x13198A2E03707344ull;
    uint64_t words_ = 0;
};

void HashValue(RowHasher& h, const Value& v) {
    // The form first, so that equal bytes of different forms differ.
    const uint64_t form = v.index() + 1;
    std::visit(
        [&](const auto& x) {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, std::monostate>) {
                h.Word(form << 56);
            } else if constexpr (std::is_same_v<T, bool>) {
                h.Word(form << 56 | (x ? 1 : 0));
            } else if constexpr (std::is_same_v<T, int64_t>) {
                h.Word(form << 56);
                h.Word(static_cast<uint64_t>(x));
            } else if constexpr (std::is_same_v<T, double>) {
                h.Word(form << 56);
                h.Word(std::bit_cast<uint64_t>(x));
            } else if constexpr (std::is_same_v<T, std::u16string>) {
                h.Word(form << 56);
                h.Raw(reinterpret_cast<const uint8_t*>(x.data()), x.size() * sizeof(char16_t));
            } else if constexpr (std::is_same_v<T, Bytes>) {
                h.Word(form << 56);
                h.Raw(x.data(), x.size());
            } else if constexpr (std::is_same_v<T, Guid>) {
                h.Word(form << 56);
                h.Raw(x.data(), x.size());
            } else if constexpr (std::is_same_v<T, Decimal>) {
                h.Word(form << 56 | (x.negative ? 1 : 0));
                for (uint32_t m : x.magnitude) h.Word(m);
            }
        },
        v);
}

// A text held by the code page, as its bytes: a form no Value has.
constexpr uint64_t kCodePageTextForm = 0x40;

void HashCodePageText(RowHasher& h, ByteSpan bytes) {
    h.Word(kCodePageTextForm << 56);
    h.Raw(bytes.data(), bytes.size());
}

RowHasher HashRow(const Row& row) {
    RowHasher h;
    h.Word(row.size());
    for (const Value& v : row) HashValue(h, v);
    return h;
}

// Each text is hashed by the same rule, whether its bytes are given or it is: as its bytes in
// `code_page` when the page holds it, since those bytes, given, decode to it.
RowHasher HashRow(const Row& row, const std::vector<StoredTexts::Text>* texts, uint16_t code_page,
                  Bytes& encoded) {
    RowHasher h;
    h.Word(row.size());
    for (size_t i = 0; i < row.size(); ++i) {
        if (texts != nullptr && i < texts->size() && (*texts)[i].given) {
            HashCodePageText(h, (*texts)[i].bytes);
            continue;
        }
        const auto* text = std::get_if<std::u16string>(&row[i]);
        if (text != nullptr && code_page != 0 &&
            EncodeCodePageExactlyTo(*text, code_page, encoded)) {
            HashCodePageText(h, encoded);
            continue;
        }
        HashValue(h, row[i]);
    }
    return h;
}

}  // namespace

uint64_t BytesFingerprint(const uint8_t* data, size_t size) {
    RowHasher h;
    h.Raw(data, size);
    return h.a();
}

uint64_t RowFingerprint(const Row& row) {
    return HashRow(row).a();
}

std::vector<StoredTexts::Use> DigestTextUses(const TableDef& t, uint16_t digest_code_page,
                                             uint16_t database_code_page, bool decode_every_text) {
    std::vector<StoredTexts::Use> uses;
    if (digest_code_page == 0) return uses;
    uses.assign(t.columns.size(), StoredTexts::kDecode);
    for (size_t i = 0; i < t.columns.size(); ++i) {
        const ColumnDef& c = t.columns[i];
        if (c.type != ColumnType::kText && c.type != ColumnType::kMemo) continue;
        if (ColumnCodePage(c, database_code_page) != digest_code_page) continue;
        bool indexed = false;
        for (const RealIndexDef& index : t.real_indexes)
            for (const IndexColumn& k : index.columns) indexed |= k.col_num == c.col_num;
        uses[i] = indexed || decode_every_text ? StoredTexts::kBytesAndDecode : StoredTexts::kBytes;
    }
    return uses;
}

void ContentChecksum::Add(const Row& row, const std::vector<StoredTexts::Text>* texts) {
    const RowHasher h = code_page_ == 0 && texts == nullptr
                            ? HashRow(row)
                            : HashRow(row, texts, code_page_, encoded_);
    ++rows_;
    sum_a_ += h.a();
    sum_b_ += h.b();
}

std::string ContentChecksum::ToString() const {
    static const char* digits = "0123456789abcdef";
    std::string s = "rows " + std::to_string(rows_) + ", digest ";
    const uint64_t parts[2] = {sum_a_, sum_b_};
    for (int i = 0; i < 2; ++i) {
        if (i == 1) s += '-';
        for (int shift = 60; shift >= 0; shift -= 4) s += digits[(parts[i] >> shift) & 15];
    }
    return s;
}

}  // namespace jet
