// The live rows of one table as the checker's index checks need them: for each row its
// location, whether it decoded, and per real index the key computed from it, whether the row
// belongs in the index, whether its key columns are all null, and how many index entries
// point at it.
//
// A large table has millions of rows, so nothing here is allocated per row: locations, flags
// and key boundaries live in blocks of fixed size (no copy as they grow, an index is a shift and
// a mask) and the keys' bytes in one buffer of fixed-size chunks. About 5 + 5 * indexes bytes
// per row, plus the keys themselves.
//
// Rows are added in the order the checker reads them, page by page, which is location order;
// a lookup goes to the rows of the page and, as they are numbered one after the other unless
// some were deleted, straight to the row (a one-off sort covers any other order).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "jet/base/value.h"

namespace jet {

// A sequence grown at its end, in blocks of 4096 values that never move.
template <typename T>
class BlockSequence {
  public:
    static constexpr size_t kBlockShift = 12;  // 4096 values a block
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](size_t i) { return blocks_[i >> kShift][i & kMask]; }
    const T& operator[](size_t i) const { return blocks_[i >> kShift][i & kMask]; }
    const T& back() const { return (*this)[size_ - 1]; }
    void push_back(T v) {
        if ((size_ >> kShift) == blocks_.size())
            blocks_.push_back(std::make_unique_for_overwrite<T[]>(kMask + 1));
        (*this)[size_++] = v;
    }
    // Empties it; the first block stays for what comes next.
    void clear() {
        if (blocks_.size() > 1) blocks_.resize(1);
        size_ = 0;
    }

  private:
    static constexpr size_t kShift = kBlockShift, kMask = (size_t{1} << kShift) - 1;
    std::vector<std::unique_ptr<T[]>> blocks_;
    size_t size_ = 0;
};

class LiveRows {
  public:
    static constexpr size_t kNone = SIZE_MAX;

    // Forgets every row; the rows to come have `indexes` real indexes.
    void Reset(size_t indexes);

    size_t size() const { return locs_.size(); }
    // Adds the row at `loc` (undecoded, in every index, no key, no entry) and returns its slot.
    size_t Add(uint32_t loc);
    // The slot of the row at `loc`, or kNone.
    size_t Find(uint32_t loc);
    uint32_t loc(size_t slot) const { return locs_[slot]; }

    bool decoded(size_t slot) const { return decoded_[slot]; }
    void set_decoded(size_t slot) { decoded_[slot] = true; }
    bool included(size_t slot, size_t k) const { return flags_[At(slot, k)] & kIncluded; }
    void set_included(size_t slot, size_t k, bool v) { SetFlag(slot, k, kIncluded, v); }
    bool all_null(size_t slot, size_t k) const { return flags_[At(slot, k)] & kAllNull; }
    void set_all_null(size_t slot, size_t k, bool v) { SetFlag(slot, k, kAllNull, v); }
    // Index entries seen pointing at the row, counted up to 3.
    unsigned entries(size_t slot, size_t k) const { return flags_[At(slot, k)] >> kEntryShift; }
    // Counts one more entry and returns the new count (3 at most).
    unsigned AddEntry(size_t slot, size_t k);

    // The key of the last row added, for index k; keys of one row are set in index order, at
    // most once each. An empty key means none was computed.
    void SetKey(size_t slot, size_t k, const Bytes& key);
    bool has_key(size_t slot, size_t k) const { return KeyEnd(slot, k) > KeyStart(slot, k); }
    Bytes key(size_t slot, size_t k) const;
    bool KeyEquals(size_t slot, size_t k, const Bytes& other) const;

    // The key under the other ligature rule, for the few rows whose key depends on it.
    void SetAltKey(size_t slot, size_t k, Bytes key);
    const Bytes* alt_key(size_t slot, size_t k) const;

    // The entries of an index as a count and a sum of fingerprints of (location, key): two
    // sets of entries are the same, in any order, when their sums are (but for a chance of
    // about 2^-64), so an index is checked in its own order without looking up a row for each
    // of its entries.
    struct EntrySums {
        uint64_t count = 0;
        uint64_t sum = 0;
        void Add(uint32_t loc, const Bytes& key);
        bool operator==(const EntrySums&) const = default;
    };
    // The entries index k must hold: one for each row it includes, with the row's key. False
    // when that does not say what the entries must be, and they are to be checked one by one:
    // a row did not decode, an included row has no key, or a key depends on the ligature rule.
    bool ExpectedEntries(size_t k, EntrySums& out) const;

  private:
    static constexpr uint8_t kIncluded = 1, kAllNull = 2, kEntryShift = 2;
    static constexpr size_t kChunk = size_t{1} << 16;

    size_t At(size_t slot, size_t k) const { return slot * indexes_ + k; }
    void SetFlag(size_t slot, size_t k, uint8_t bit, bool v);
    uint64_t KeyStart(size_t slot, size_t k) const {
        const size_t i = At(slot, k);
        return i == 0 ? 0 : EndOfKey(i - 1);
    }
    uint64_t KeyEnd(size_t slot, size_t k) const { return EndOfKey(At(slot, k)); }
    uint64_t EndOfKey(size_t i) const { return key_base_[i >> kKeyBlockShift] + key_end_[i]; }
    static constexpr size_t kKeyBlockShift = BlockSequence<uint32_t>::kBlockShift;
    size_t Search(uint32_t loc);
    template <typename Piece>
    void ForEachPiece(size_t slot, size_t k, Piece&& piece) const;

    size_t indexes_ = 0;
    BlockSequence<uint32_t> locs_;
    BlockSequence<bool> decoded_;
    BlockSequence<uint8_t> flags_;  // per row and index
    // Per row and index, the end of its key in the buffer: from the start of the keys of its
    // block of key_end_ (a block's keys take far less than 4 GB), which is in key_base_.
    BlockSequence<uint32_t> key_end_;
    std::vector<uint64_t> key_base_;
    std::vector<std::unique_ptr<uint8_t[]>> chunks_;
    uint64_t key_bytes_ = 0;
    std::unordered_map<size_t, Bytes> alt_keys_;
    std::vector<EntrySums> keyed_;    // per index: the included rows given a key
    std::vector<bool> alt_in_index_;  // per index: some key depends on the ligature rule
    bool sorted_ = true;
    std::vector<std::pair<uint32_t, size_t>> order_;  // (loc, slot), when not added in order
    // When added in order: per page from first_page_, the first slot on it or after it (one
    // more entry closes the last page), so that a lookup goes straight to the page's rows.
    std::vector<size_t> page_first_;
    uint32_t first_page_ = 0;
    size_t next_ = 0;  // the slot after the one Find found last
};

}  // namespace jet
