#include "jet/read/live_rows.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "jet/read/content_checksum.h"

namespace jet {

void LiveRows::Reset(size_t indexes) {
    indexes_ = indexes;
    locs_.clear();
    decoded_.clear();
    flags_.clear();
    key_end_.clear();
    key_base_.clear();
    // The first chunk of keys stays for the next table: most tables' keys fit in it.
    if (chunks_.size() > 1) chunks_.resize(1);
    key_bytes_ = 0;
    alt_keys_.clear();
    keyed_.assign(indexes, EntrySums{});
    alt_in_index_.assign(indexes, false);
    sorted_ = true;
    order_.clear();
    page_first_.clear();
    next_ = 0;
}

size_t LiveRows::Add(uint32_t loc) {
    if (!locs_.empty() && loc <= locs_.back()) sorted_ = false;
    order_.clear();
    page_first_.clear();
    locs_.push_back(loc);
    decoded_.push_back(false);
    for (size_t k = 0; k < indexes_; ++k) {
        flags_.push_back(kIncluded);
        if ((key_end_.size() & ((size_t{1} << kKeyBlockShift) - 1)) == 0)
            key_base_.push_back(key_bytes_);
        key_end_.push_back(static_cast<uint32_t>(key_bytes_ - key_base_.back()));
    }
    return locs_.size() - 1;
}

size_t LiveRows::Find(uint32_t loc) {
    // An index in row order asks for the rows one after the other: the row after the last one
    // found is tried first.
    if (sorted_ && next_ < locs_.size() && locs_[next_] == loc) return next_++;
    const size_t slot = Search(loc);
    if (slot != kNone) next_ = slot + 1;
    return slot;
}

size_t LiveRows::Search(uint32_t loc) {
    if (sorted_ && locs_.empty()) return kNone;
    if (sorted_) {
        const uint32_t first = locs_[0] >> 8, last = locs_.back() >> 8;
        // A table of pages costs a word per page between its first and its last; rows spread
        // thinly over a large file are searched for instead.
        if (page_first_.empty() && last - first <= 4 * locs_.size() + 4096) {
            first_page_ = first;
            page_first_.assign(size_t{last - first} + 2, locs_.size());
            for (size_t s = locs_.size(); s-- > 0;) page_first_[(locs_[s] >> 8) - first] = s;
            for (size_t i = page_first_.size() - 1; i-- > 0;)
                page_first_[i] = std::min(page_first_[i], page_first_[i + 1]);
        }
        size_t begin = 0, end = locs_.size();
        if (!page_first_.empty()) {
            const uint32_t page = loc >> 8;
            if (page < first || page > last) return kNone;
            begin = page_first_[page - first];
            end = page_first_[page - first + 1];
            // Rows of a page without deleted ones are numbered one after the other.
            const uint32_t row = loc & 0xFF;
            if (begin < end && row >= (locs_[begin] & 0xFF)) {
                const size_t guess = begin + (row - (locs_[begin] & 0xFF));
                if (guess < end && locs_[guess] == loc) return guess;
            }
        }
        const size_t limit = end;
        while (begin < end) {  // the first slot at or after loc
            const size_t mid = begin + (end - begin) / 2;
            if (locs_[mid] < loc) {
                begin = mid + 1;
            } else {
                end = mid;
            }
        }
        return begin < limit && locs_[begin] == loc ? begin : kNone;
    }
    if (order_.empty()) {
        order_.reserve(locs_.size());
        for (size_t s = 0; s < locs_.size(); ++s) order_.emplace_back(locs_[s], s);
        std::sort(order_.begin(), order_.end());
    }
    auto it = std::lower_bound(order_.begin(), order_.end(), std::make_pair(loc, size_t{0}));
    return it != order_.end() && it->first == loc ? it->second : kNone;
}

void LiveRows::SetFlag(size_t slot, size_t k, uint8_t bit, bool v) {
    uint8_t& f = flags_[At(slot, k)];
    f = static_cast<uint8_t>(v ? f | bit : f & ~bit);
}

unsigned LiveRows::AddEntry(size_t slot, size_t k) {
    uint8_t& f = flags_[At(slot, k)];
    unsigned n = f >> kEntryShift;
    if (n < 3) {
        ++n;
        f = static_cast<uint8_t>((f & (kIncluded | kAllNull)) | (n << kEntryShift));
    }
    return n;
}

void LiveRows::EntrySums::Add(uint32_t loc, const Bytes& key) {
    // Index keys are a few bytes, and every entry of every index is summed: the key's length
    // and the row's location begin the state, each 8 bytes of the key (the last zero-padded)
    // go in by a multiply and a shift, each step one-to-one, and MixBits ends it.
    const uint8_t* p = key.data();
    size_t n = key.size();
    uint64_t h = (uint64_t{loc} << 32 | (n & 0xFFFFFFFFu)) * 0x9E3779B97F4A7C15ull;
    auto take = [&h](uint64_t word) {
        h = (h ^ word) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
    };
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        take(word);
    }
    if (n > 0) take(PartialWord(p, n));
    ++count;
    sum += MixBits(h);
}

bool LiveRows::ExpectedEntries(size_t k, EntrySums& out) const {
    if (k >= keyed_.size() || alt_in_index_[k]) return false;
    uint64_t included_rows = 0;
    for (size_t slot = 0; slot < locs_.size(); ++slot) {
        if (!decoded_[slot]) return false;
        if (included(slot, k)) ++included_rows;
    }
    if (keyed_[k].count != included_rows) return false;
    out = keyed_[k];
    return true;
}

void LiveRows::SetAltKey(size_t slot, size_t k, Bytes key) {
    alt_in_index_[k] = true;
    alt_keys_[At(slot, k)] = std::move(key);
}

void LiveRows::SetKey(size_t slot, size_t k, const Bytes& key) {
    if (slot + 1 != locs_.size()) throw std::logic_error("LiveRows: key of an earlier row");
    if (!key.empty() && included(slot, k)) keyed_[k].Add(locs_[slot], key);
    // Appended: every earlier key stays where it is; later indexes of the row start after it.
    size_t done = 0;
    const size_t in = static_cast<size_t>(key_bytes_ % kChunk);
    if (in != 0 && !key.empty() && in + key.size() <= kChunk) {  // into the chunk begun
        std::memcpy(chunks_[static_cast<size_t>(key_bytes_ / kChunk)].get() + in, key.data(),
                    key.size());
        done = key.size();
        key_bytes_ += key.size();
    }
    while (done < key.size()) {
        const size_t chunk = static_cast<size_t>(key_bytes_ / kChunk);
        if (chunk == chunks_.size())
            chunks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(kChunk));
        const size_t at = static_cast<size_t>(key_bytes_ % kChunk);
        const size_t n = std::min(key.size() - done, kChunk - at);
        std::memcpy(chunks_[chunk].get() + at, key.data() + done, n);
        done += n;
        key_bytes_ += n;
    }
    for (size_t i = At(slot, k); i < At(slot, indexes_); ++i) {
        const uint64_t end = key_bytes_ - key_base_[i >> kKeyBlockShift];
        if (end > UINT32_MAX) throw std::length_error("LiveRows: keys too long");
        key_end_[i] = static_cast<uint32_t>(end);
    }
}

// Calls `piece(data, length, offset in the key)` for each contiguous piece of a key.
template <typename Piece>
void LiveRows::ForEachPiece(size_t slot, size_t k, Piece&& piece) const {
    uint64_t at = KeyStart(slot, k);
    const uint64_t end = KeyEnd(slot, k);
    size_t offset = 0;
    while (at < end) {
        const size_t in = static_cast<size_t>(at % kChunk);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(end - at, kChunk - in));
        if (!piece(chunks_[static_cast<size_t>(at / kChunk)].get() + in, n, offset)) return;
        at += n;
        offset += n;
    }
}

Bytes LiveRows::key(size_t slot, size_t k) const {
    Bytes out;
    ForEachPiece(slot, k, [&](const uint8_t* p, size_t n, size_t) {
        out.insert(out.end(), p, p + n);
        return true;
    });
    return out;
}

bool LiveRows::KeyEquals(size_t slot, size_t k, const Bytes& other) const {
    const uint64_t start = KeyStart(slot, k);
    if (KeyEnd(slot, k) - start != other.size()) return false;
    if (other.empty()) return true;
    const size_t in = static_cast<size_t>(start % kChunk);
    if (in + other.size() <= kChunk)  // within one chunk, as nearly every key is
        return std::memcmp(chunks_[static_cast<size_t>(start / kChunk)].get() + in, other.data(),
                           other.size()) == 0;
    bool equal = true;
    ForEachPiece(slot, k, [&](const uint8_t* p, size_t n, size_t offset) {
        equal = std::memcmp(p, other.data() + offset, n) == 0;
        return equal;
    });
    return equal;
}

const Bytes* LiveRows::alt_key(size_t slot, size_t k) const {
    auto it = alt_keys_.find(At(slot, k));
    return it == alt_keys_.end() ? nullptr : &it->second;
}

}  // namespace jet
