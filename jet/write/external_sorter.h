// Sorts index entries (key bytes + row location) in bounded memory. Entries gather in memory
// up to a budget; a full buffer is sorted and written to a run file through jet::Env; at the
// end the runs (and what is still in memory) are merged. Order: key bytes as unsigned strings
// (a prefix sorts first), then page, then row: the order of index entries (docs/format.md 9.4).
//
// Run files live beside the output (same folder, name given by the caller plus a number) and
// are removed when the sorter is destroyed, also after a failure.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
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

    // Calls `visit` for every entry in order. Call once, after the last Add.
    using Visitor = std::function<void(const uint8_t* key, size_t key_size, uint32_t row_pointer)>;
    void Drain(const Visitor& visit);

  private:
    void SortBuffer();
    void Spill();

    Env* env_;
    std::string run_prefix_;
    size_t budget_;
    size_t count_ = 0;
    Bytes arena_;                  // records: u16 key size | key | u32 row pointer
    std::vector<uint32_t> order_;  // record offsets into arena_
    std::vector<std::string> run_paths_;
};

}  // namespace jet
