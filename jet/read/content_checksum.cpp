#include "jet/read/content_checksum.h"

#include <bit>
#include <cstring>
#include <type_traits>

namespace jet {
namespace {

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
        // Long runs (text, binary) go 32 bytes at a time through four independent lanes, so
        // the multiplications overlap, one per word: each step is a bijection of the lane for a
        // given word and of the word for a given lane, so one changed word always changes its
        // lane. Each lane is then folded in as a word of its own.
        if (n >= 32) {
            uint64_t lane[4] = {0x452821E638D01377ull, 0xBE5466CF34E90C6Cull, 0xC0AC29B7C97C50DDull,
                                0x3F84D5B5B5470917ull};
            for (; n >= 32; p += 32, n -= 32) {
                for (int i = 0; i < 4; ++i) {
                    uint64_t w;
                    std::memcpy(&w, p + 8 * i, 8);
                    lane[i] = std::rotl((lane[i] ^ w) * 0x9E3779B97F4A7C15ull, 29);
                }
            }
            for (uint64_t v : lane) Word(v);
        }
        for (; n >= 8; p += 8, n -= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            Word(w);
        }
        if (n > 0) {
            uint64_t w = 0;
            std::memcpy(&w, p, n);
            Word(w);
        }
    }
    uint64_t a() const { return Finish(a_ ^ words_); }
    uint64_t b() const { return Finish(b_ ^ (words_ * 0x9E3779B97F4A7C15ull)); }

  private:
    static uint64_t Finish(uint64_t h) {
        h ^= h >> 33;
        h *= 0xFF51AFD7ED558CCDull;
        h ^= h >> 33;
        h *= 0xC4CEB9FE1A85EC53ull;
        h ^= h >> 33;
        return h;
    }
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

RowHasher HashRow(const Row& row) {
    RowHasher h;
    h.Word(row.size());
    for (const Value& v : row) HashValue(h, v);
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

void ContentChecksum::Add(const Row& row) {
    const RowHasher h = HashRow(row);
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
