// A digest of a table's content: the number of rows and an order-independent hash of the
// multiset of rows, so two tables compare equal when they hold the same rows, in any order.
//
// Each row is hashed from its decoded values (column by column: the value's form, then its
// bytes: integers and floating-point numbers by their bit patterns, text as UTF-16 code units,
// binary as stored, runs of 64 bytes or more through four lanes first), with two independent
// 64-bit hashes; the row hashes are summed modulo 2^64. Decoded values are what a reader sees,
// so a text stored compressed in one file and plain in the other digests the same, while any
// changed value, a null turned empty, a lost or an extra row does not. A guard against
// mistakes, not against an adversary.
//
// A digest of Jet 3 rows may be given a code page whose bytes and the characters they decode to
// are one-to-one (CodePageMapsEveryByteBack): a text that code page holds is then hashed as its
// bytes in it (under a form of its own; other texts as UTF-16), so that texts read from Jet 3
// files of that code page are digested from their stored bytes, without decoding them
// (StoredTexts), and the digest still tells apart exactly the rows it told apart before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "jet/base/value.h"
#include "jet/format/row_codec.h"

namespace jet {

// MurmurHash3's fmix64: every bit of h moves every bit of the result; one-to-one.
inline uint64_t MixBits(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

// The last `n` (< 8) bytes at `p` as a little-endian word, zero-padded: byte by byte, since a
// copy of a variable few bytes costs a call to memmove.
inline uint64_t PartialWord(const uint8_t* p, size_t n) {
    uint64_t w = 0;
    for (size_t i = 0; i < n; ++i) w |= uint64_t{p[i]} << (8 * i);
    return w;
}

// 64-bit fingerprints hashed as the digest hashes rows: of some bytes, and of one row's values
// (equal for equal rows, different for any change but with a chance of about 2^-64).
uint64_t BytesFingerprint(const uint8_t* data, size_t size);
uint64_t RowFingerprint(const Row& row);

// How the readers of a digest's rows take the texts of table `t` (StoredTexts::use): for a
// digest in `digest_code_page` (0: none, an empty list), as bytes the Text and Memo columns of
// that code page (the database's being `database_code_page`), decoded as well when an index
// of the table uses them or `decode_every_text`.
std::vector<StoredTexts::Use> DigestTextUses(const TableDef& t, uint16_t digest_code_page,
                                             uint16_t database_code_page, bool decode_every_text);

class ContentChecksum {
  public:
    ContentChecksum() = default;
    // Texts hashed as their bytes in `code_page` (0: none); REQUIRES: it maps every byte back.
    explicit ContentChecksum(uint16_t code_page) : code_page_(code_page) {}

    // `texts`: the row's Jet 3 texts as their stored bytes, where given (only in this digest's
    // code page); the others are hashed from `row`.
    void Add(const Row& row, const std::vector<StoredTexts::Text>* texts = nullptr);

    uint64_t rows() const { return rows_; }
    bool operator==(const ContentChecksum& o) const {
        return rows_ == o.rows_ && sum_a_ == o.sum_a_ && sum_b_ == o.sum_b_;
    }
    // "rows N, digest XXXXXXXXXXXXXXXX-XXXXXXXXXXXXXXXX", for messages.
    std::string ToString() const;

  private:
    uint16_t code_page_ = 0;
    Bytes encoded_;  // a text in code_page_
    uint64_t rows_ = 0;
    uint64_t sum_a_ = 0;
    uint64_t sum_b_ = 0;
};

}  // namespace jet
