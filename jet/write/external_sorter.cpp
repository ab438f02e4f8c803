#include "jet/write/external_sorter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <queue>
#include <stdexcept>
#include <utility>

#include "jet/base/error.h"
#include "jet/base/put_bytes.h"
#include "jet/write/page_sink.h"

namespace jet {

namespace {

constexpr size_t kReadBuffer = 256 * 1024;

// Fewer entries sort as fast by comparison as by another radix sort pass.
constexpr size_t kRadixFrom = 64;
// Ranges of at most this many entries (1 MB) are sorted through a second array (LsdSort).
constexpr size_t kLsdMost = size_t{1} << 16;

// Compares two records (u16 key size | key | u32 row pointer).
bool RecordLess(const uint8_t* a, const uint8_t* b) {
    size_t la = GetU16(a), lb = GetU16(b);
    int c = std::memcmp(a + 2, b + 2, std::min(la, lb));
    if (c != 0) return c < 0;
    if (la != lb) return la < lb;
    uint32_t pa = GetU32(a + 2 + la), pb = GetU32(b + 2 + lb);
    // Row pointers compare as (page, row), which is their numeric order.
    return pa < pb;
}

// The first 7 bytes of a key as a big-endian number, zero-padded, and below them the key's
// length up to 8: a smaller prefix is a smaller key (a zero pad never sorts after a key byte,
// and a key that is a prefix of another is shorter). Equal prefixes of a length below 8 are
// equal keys; of 8, keys of 8 bytes or more that leave the order to the whole records.
uint64_t KeyPrefix(const uint8_t* key, size_t size) {
    // Byte by byte: a copy of a variable few bytes costs a call to memmove.
    const size_t n = std::min<size_t>(size, 7);  // an empty key may be null
    uint64_t p = 0;
    for (size_t i = 0; i < n; ++i) p |= uint64_t{key[i]} << (56 - 8 * i);
    return p | std::min<size_t>(size, 8);
}

size_t RecordSize(const uint8_t* r) {
    return 2u + GetU16(r) + 4u;
}

// The buffer's two vectors double while they are small; past this size one takes at once all
// that the budget lets it hold, so that it is copied no more and never holds twice what it uses
// (what is reserved and not yet written takes no memory).
constexpr size_t kGrowAtOnce = 1u << 20;

template <typename T>
void Grow(std::vector<T>& v, size_t need, size_t most) {
    if (need <= v.capacity()) return;
    size_t capacity = std::max(need, 2 * v.capacity());
    if (capacity * sizeof(T) > kGrowAtOnce) capacity = std::max(need, most);
    v.reserve(capacity);
}

// Runs are written in pieces of this size.
constexpr size_t kSpillPiece = 4u << 20;

// Reads one run file record by record.
class RunReader {
  public:
    RunReader(Env* env, const std::string& path) : file_(env->Open(path, OpenMode::kRead)) {
        size_ = file_->Size();
    }
    // The current record, or nullptr at the end.
    const uint8_t* current() const { return have_ ? record_.data() : nullptr; }
    void Next() {
        have_ = false;
        uint8_t head[2];
        if (!Read(head, 2)) return;
        size_t n = GetU16(head);
        record_.resize(2 + n + 4);
        record_[0] = head[0];
        record_[1] = head[1];
        if (!Read(record_.data() + 2, n + 4)) throw std::runtime_error("truncated sort run");
        have_ = true;
    }

  private:
    bool Read(uint8_t* out, size_t n) {
        while (n > 0) {
            if (pos_ == buffer_.size()) {
                if (offset_ >= size_) return false;
                size_t want = static_cast<size_t>(std::min<uint64_t>(kReadBuffer, size_ - offset_));
                buffer_.resize(want);
                size_t got = file_->ReadAt(offset_, buffer_.data(), want);
                if (got == 0) return false;
                buffer_.resize(got);
                offset_ += got;
                pos_ = 0;
            }
            size_t take = std::min(n, buffer_.size() - pos_);
            std::memcpy(out, buffer_.data() + pos_, take);
            pos_ += take;
            out += take;
            n -= take;
        }
        return true;
    }

    std::unique_ptr<File> file_;
    uint64_t size_ = 0;
    uint64_t offset_ = 0;
    Bytes buffer_;
    size_t pos_ = 0;
    Bytes record_;
    bool have_ = false;
};

}  // namespace

ExternalSorter::ExternalSorter(Env* env, std::string run_prefix, size_t memory_budget)
    : env_(env),
      run_prefix_(std::move(run_prefix)),
      budget_(std::max<size_t>(memory_budget, 4096)) {}

ExternalSorter::~ExternalSorter() {
    for (const auto& path : run_paths_) {
        try {
            env_->Remove(path);
        } catch (...) {
            // Best effort: a leftover run file is harmless.
        }
    }
}

void ExternalSorter::Add(const uint8_t* key, size_t key_size, uint32_t row_pointer) {
    if (key_size > 0xFFFF) throw std::invalid_argument("index key too long");
    const size_t record = 2 + key_size + 4;
    if (arena_.size() + record + sizeof(Entry) * (order_.size() + 1) > budget_ && !order_.empty())
        Spill();
    if (arena_.size() + record > UINT32_MAX) Spill();
    const Entry entry{KeyPrefix(key, key_size), static_cast<uint32_t>(arena_.size()), row_pointer};
    Grow(arena_, arena_.size() + record, budget_);
    Grow(order_, order_.size() + 1, budget_ / sizeof(Entry));
    arena_.resize(arena_.size() + record);
    uint8_t* r = arena_.data() + entry.at;
    PutU16(r, static_cast<uint16_t>(key_size));
    if (key_size > 0) std::memcpy(r + 2, key, key_size);
    PutU32(r + 2 + key_size, row_pointer);
    if (in_order_ && !order_.empty()) in_order_ = !EntryLess(arena_.data(), entry, order_.back());
    order_.push_back(entry);
    ++count_;
}

bool ExternalSorter::EntryLess(const uint8_t* base, const Entry& a, const Entry& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    if ((a.prefix & 0xFF) < 8) return a.row_pointer < b.row_pointer;  // equal keys
    return RecordLess(base + a.at, base + b.at);
}

void ExternalSorter::SortBuffer() {
    if (in_order_) return;
    RadixSort(0, order_.size(), 7);
    scratch_ = {};
    in_order_ = true;
}

// An MSD radix sort in place (American flag sort) on the prefix's bytes, the most significant
// first, the bytes that all entries of a range share skipped, down to ranges small enough for
// LsdSort; ranges too small for a pass of their own, and entries whose whole prefixes are
// equal, go to the comparison sort, which orders them by row or by whole records.
void ExternalSorter::SortByComparison(size_t from, size_t to) {
    const uint8_t* base = arena_.data();
    std::sort(order_.begin() + static_cast<std::ptrdiff_t>(from),
              order_.begin() + static_cast<std::ptrdiff_t>(to),
              [base](const Entry& a, const Entry& b) { return EntryLess(base, a, b); });
}

void ExternalSorter::RadixSort(size_t from, size_t to, int byte) {
    if (to - from < kRadixFrom) return SortByComparison(from, to);
    // The bits that differ between entries: one pass, rather than a count for every byte.
    uint64_t any = 0, all = ~uint64_t{0};
    uint32_t any_row = 0, all_rows = ~uint32_t{0};
    for (size_t i = from; i < to; ++i) {
        any |= order_[i].prefix;
        all &= order_[i].prefix;
        any_row |= order_[i].row_pointer;
        all_rows &= order_[i].row_pointer;
    }
    const uint64_t differ = any ^ all;
    while (byte >= 0 && ((differ >> (8 * byte)) & 0xFF) == 0) --byte;
    if (byte < 0) return SortByComparison(from, to);
    if (to - from <= kLsdMost) return LsdSort(from, to, differ, any_row ^ all_rows);

    const auto digit = [byte](const Entry& e) {
        return static_cast<size_t>((e.prefix >> (8 * byte)) & 0xFF);
    };
    std::array<size_t, 256> next, end;
    end.fill(0);
    for (size_t i = from; i < to; ++i) ++end[digit(order_[i])];
    size_t at = from;
    for (size_t d = 0; d < 256; ++d) {
        next[d] = at;
        at += end[d];
        end[d] = at;
    }
    // Each entry is swapped straight into the bucket of its byte.
    for (size_t d = 0; d < 256; ++d) {
        while (next[d] < end[d]) {
            Entry e = order_[next[d]];
            for (size_t k = digit(e); k != d; k = digit(e)) std::swap(e, order_[next[k]++]);
            order_[next[d]++] = e;
        }
    }
    for (size_t d = 0, start = from; d < 256; start = end[d++])
        if (end[d] - start > 1) RadixSort(start, end[d], byte - 1);
}

// Sorts a range by stable passes, least significant first, through a second array of the
// range's size: on the row pointer's bytes, then on the prefix's, each byte that some entries
// differ in (`differ`, `rows_differ`: the bits that do). That orders them by prefix and then
// row; only equal prefixes of keys of 8 bytes or more are left to order, by whole records.
void ExternalSorter::LsdSort(size_t from, size_t to, uint64_t differ, uint32_t rows_differ) {
    const size_t n = to - from;
    // A pass for each byte that differs, the row pointer's first.
    struct Pass {
        bool row;
        int shift;
    };
    std::vector<Pass> passes;
    for (int k = 0; k < 4; ++k)
        if ((rows_differ >> (8 * k)) & 0xFF) passes.push_back({true, 8 * k});
    for (int k = 0; k < 8; ++k)
        if ((differ >> (8 * k)) & 0xFF) passes.push_back({false, 8 * k});
    const auto digit = [](const Entry& e, const Pass& p) {
        return static_cast<size_t>(((p.row ? e.row_pointer : e.prefix) >> p.shift) & 0xFF);
    };
    std::vector<std::array<uint32_t, 256>> counts(passes.size());
    for (auto& c : counts) c.fill(0);
    Entry* in = order_.data() + from;
    for (size_t i = 0; i < n; ++i)
        for (size_t p = 0; p < passes.size(); ++p) ++counts[p][digit(in[i], passes[p])];
    scratch_.resize(n);
    Entry* out = scratch_.data();
    for (size_t p = 0; p < passes.size(); ++p) {
        uint32_t at = 0;
        for (uint32_t& bucket : counts[p]) at += std::exchange(bucket, at);
        for (size_t i = 0; i < n; ++i) out[counts[p][digit(in[i], passes[p])]++] = in[i];
        std::swap(in, out);
    }
    if (in != order_.data() + from) std::copy(in, in + n, order_.data() + from);
    for (size_t i = from; i < to;) {
        size_t end = i + 1;
        while (end < to && order_[end].prefix == order_[i].prefix) ++end;
        if (end - i > 1 && (order_[i].prefix & 0xFF) == 8) SortByComparison(i, end);
        i = end;
    }
}

void ExternalSorter::Spill() {
    SortBuffer();
    std::string path = run_prefix_ + std::to_string(run_paths_.size());
    try {
        auto file = env_->Open(path, OpenMode::kCreateTruncate);
        run_paths_.push_back(path);
        Bytes out;
        out.reserve(std::min(arena_.size(), kSpillPiece));
        uint64_t offset = 0;
        for (const Entry& e : order_) {
            const uint8_t* r = arena_.data() + e.at;
            const size_t size = RecordSize(r);
            if (!out.empty() && out.size() + size > out.capacity()) {  // before it would grow
                file->WriteAt(offset, out.data(), out.size());
                offset += out.size();
                out.clear();
            }
            AppendBytes(out, r, size);
        }
        if (!out.empty()) file->WriteAt(offset, out.data(), out.size());
    } catch (const OsError& e) {
        RaiseForOsError(e);
    }
    arena_.clear();
    order_.clear();
    in_order_ = true;
}

void ExternalSorter::Drain(const Visitor& visit) {
    SortBuffer();
    if (run_paths_.empty()) {
        for (const Entry& e : order_) {
            const uint8_t* r = arena_.data() + e.at;
            visit(r + 2, GetU16(r), e.row_pointer);
        }
        return;
    }
    std::vector<std::unique_ptr<RunReader>> readers;
    try {
        for (const auto& path : run_paths_) {
            readers.push_back(std::make_unique<RunReader>(env_, path));
            readers.back()->Next();
        }
    } catch (const OsError& e) {
        RaiseForOsError(e);
    }
    // Sources: the runs, then the in-memory buffer as the last one. Ties go to the lower
    // source, which keeps the order stable (runs were filled first).
    const size_t mem = readers.size();
    size_t mem_pos = 0;
    auto current = [&](size_t s) -> const uint8_t* {
        if (s < mem) return readers[s]->current();
        return mem_pos < order_.size() ? arena_.data() + order_[mem_pos].at : nullptr;
    };
    auto greater = [&](size_t a, size_t b) {
        const uint8_t* ra = current(a);
        const uint8_t* rb = current(b);
        if (RecordLess(rb, ra)) return true;
        if (RecordLess(ra, rb)) return false;
        return a > b;
    };
    std::priority_queue<size_t, std::vector<size_t>, decltype(greater)> heap(greater);
    for (size_t s = 0; s <= mem; ++s)
        if (current(s)) heap.push(s);
    try {
        while (!heap.empty()) {
            size_t s = heap.top();
            heap.pop();
            const uint8_t* r = current(s);
            size_t n = GetU16(r);
            visit(r + 2, n, GetU32(r + 2 + n));
            if (s < mem) {
                readers[s]->Next();
            } else {
                ++mem_pos;
            }
            if (current(s)) heap.push(s);
        }
    } catch (const OsError& e) {
        RaiseForOsError(e);
    }
}

SortAhead::SortAhead(const std::vector<std::unique_ptr<ExternalSorter>>& sorters, bool threads)
    : sorters_(sorters), state_(sorters.size(), State::kWaiting) {
    // The caller sorts the first itself; a thread pays off from the second on.
    if (threads && sorters.size() > 1) thread_ = std::thread([this] { Run(); });
}

SortAhead::~SortAhead() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    thread_.join();
}

void SortAhead::Run() {
    for (size_t i = 1; i < sorters_.size(); ++i) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_ || error_) return;
            if (state_[i] != State::kWaiting) continue;
            state_[i] = State::kSorting;
        }
        std::exception_ptr error;
        try {
            sorters_[i]->Sort();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            state_[i] = State::kSorted;
            if (error && !error_) error_ = error;
        }
        sorted_.notify_all();
    }
}

void SortAhead::Ready(size_t i) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (state_[i] != State::kWaiting) {
            sorted_.wait(lock, [&] { return state_[i] == State::kSorted; });
            if (error_) std::rethrow_exception(error_);
            return;
        }
        state_[i] = State::kSorting;
    }
    sorters_[i]->Sort();
    std::lock_guard<std::mutex> lock(mutex_);
    state_[i] = State::kSorted;
}

}  // namespace jet
