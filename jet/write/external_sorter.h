// Sorts index entries (key bytes + row location) in bounded memory. Entries gather in memory
// up to a budget; a full buffer is sorted and written to a run file through jet::Env; at the
// end the runs (and what is still in memory) are merged. Order: key bytes as unsigned strings
// (a prefix sorts first), then page, then row: the order of index entries (docs/format.md 9.4).
//
// A buffer whose entries came in order (an AutoNumber key written in row order) is not sorted
// again; the others sort on the first 7 key bytes and the key's length, held beside each entry
// with its row pointer, and compare whole records only where two keys of 8 bytes or more share
// their first 7: by a radix sort of those 8 bytes (in place, but for ranges of up to 64K entries,
// which take a second array of their size), then by comparison within the ranges of entries
// that share them.
//
// Run files live beside the output (same folder, name given by the caller plus a number) and
// are removed when the sorter is destroyed, also after a failure.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/value.h"

namespace jet {

class ExternalSorter {
  public:
    // `run_prefix`: path prefix for run files; `memory_budget`: bytes of entries kept in memory.
    ExternalSorter(Env* env, std::string run_prefix, size_t memory_budget);
    ~ExternalSorter();
    ExternalSorter(const ExternalSorter&) = delete;
    ExternalSorter& operator=(const ExternalSorter&) = delete;

    // REQUIRES: key.size() < 65536; row_pointer = page << 8 | row.
    void Add(const uint8_t* key, size_t key_size, uint32_t row_pointer);
    void Add(const Bytes& key, uint32_t row_pointer) { Add(key.data(), key.size(), row_pointer); }

    size_t size() const { return count_; }
    size_t runs() const { return run_paths_.size(); }

    // Sorts the entries still in memory; Drain does it when no one did. Touches no file and
    // nothing shared with another sorter, so sorters may sort on threads of their own.
    void Sort() { SortBuffer(); }

    // Calls `visit` for every entry in order. Call once, after the last Add.
    using Visitor = std::function<void(const uint8_t* key, size_t key_size, uint32_t row_pointer)>;
    void Drain(const Visitor& visit);

  private:
    struct Entry;
    static bool EntryLess(const uint8_t* base, const Entry& a, const Entry& b);
    void SortBuffer();
    void SortByComparison(size_t from, size_t to);  // order_[from, to) by EntryLess
    void RadixSort(size_t from, size_t to, int byte);
    void LsdSort(size_t from, size_t to, uint64_t differ, uint32_t rows_differ);
    void Spill();

    Env* env_;
    std::string run_prefix_;
    size_t budget_;
    size_t count_ = 0;
    // An entry of the buffer: its record's offset into arena_, its row pointer, and the first
    // 7 bytes of its key (big-endian, zero-padded) above its length up to 8, which order records
    // whenever they differ.
    struct Entry {
        uint64_t prefix;
        uint32_t at;
        uint32_t row_pointer;
    };
    Bytes arena_;               // records: u16 key size | key | u32 row pointer
    std::vector<Entry> order_;  // in the order added, until sorted
    bool in_order_ = true;      // every entry added so far sorts after the one before it
    std::vector<std::string> run_paths_;
    std::vector<Entry> scratch_;  // LsdSort's second array, while a sort runs
};

// Sorts a list of sorters ahead of their drains: with `threads`, a second thread sorts them
// in list order while the caller drains the ones before, and the caller sorts any the thread
// has not begun. What the drains give is the same either way. The thread is joined by the
// destructor, also when a drain threw; a failure of a sort is thrown by Ready.
class SortAhead {
  public:
    SortAhead(const std::vector<std::unique_ptr<ExternalSorter>>& sorters, bool threads);
    ~SortAhead();
    SortAhead(const SortAhead&) = delete;
    SortAhead& operator=(const SortAhead&) = delete;

    // Returns once sorter i is sorted; the caller may then drain it.
    void Ready(size_t i);

  private:
    enum class State { kWaiting, kSorting, kSorted };
    void Run();

    const std::vector<std::unique_ptr<ExternalSorter>>& sorters_;
    std::mutex mutex_;
    std::condition_variable sorted_;
    std::vector<State> state_;
    std::exception_ptr error_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace jet
