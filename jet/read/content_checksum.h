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
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "jet/base/value.h"

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

// 64-bit fingerprints hashed as the digest hashes rows: of some bytes, and of one row's values
// (equal for equal rows, different for any change but with a chance of about 2^-64).
uint64_t BytesFingerprint(const uint8_t* data, size_t size);
uint64_t RowFingerprint(const Row& row);

class ContentChecksum {
  public:
    void Add(const Row& row);

    uint64_t rows() const { return rows_; }
    bool operator==(const ContentChecksum&) const = default;
    // "rows N, digest XXXXXXXXXXXXXXXX-XXXXXXXXXXXXXXXX", for messages.
    std::string ToString() const;

  private:
    uint64_t rows_ = 0;
    uint64_t sum_a_ = 0;
    uint64_t sum_b_ = 0;
};

}  // namespace jet
