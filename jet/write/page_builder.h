// Builds one data page in memory (the layout: data_page.h): table rows, long-value (LVAL) rows,
// usage-map rows and page 1 all share it. Rows are packed from the end of the page downwards.
// Invariant kept at every step: free = page_size - header - 2n - sum of row lengths (deleted
// rows count as used), n <= 255, and every row lies inside the page.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jet/base/value.h"
#include "jet/format/data_page.h"
#include "jet/format/schema.h"

namespace jet {

class DataPageBuilder {
  public:
    explicit DataPageBuilder(Version version);
    DataPageBuilder(const DataPageBuilder&) = delete;
    DataPageBuilder& operator=(const DataPageBuilder&) = delete;

    // Empties the page and sets its owner field.
    void Reset(uint32_t owner);
    // The same, building the page in `buffer` (page-sized, e.g. PageSink::Buffer, its bytes
    // unspecified) instead of the builder's own; page() is then not to be used, and Seal()
    // completes the page before the buffer is handed on.
    void Reset(uint32_t owner, uint8_t* buffer);
    // Zeroes the room between the offsets and the rows (the rows overwrite everything else, so
    // a page built in place is zeroed once, not before its rows are written over the zeros).
    void Seal();

    size_t free_space() const { return free_; }
    int row_count() const { return rows_; }
    bool empty() const { return rows_ == 0; }
    // The largest row an empty page takes.
    size_t max_row_size() const { return page_size_ - DataPageHeaderSize(version_) - 2; }

    // True when a row of `length` bytes still fits (offset entry included).
    bool Fits(size_t length) const { return rows_ < kMaxRowsPerPage && length + 2 <= free_; }

    // Appends a row and returns its row number. REQUIRES: Fits(length), length > 0.
    uint8_t Add(const uint8_t* row, size_t length, uint16_t flags = 0);
    uint8_t Add(const Bytes& row, uint16_t flags = 0) { return Add(row.data(), row.size(), flags); }
    // Appends a row of `length` bytes for the caller to fill and returns where they go; its row
    // number is row_count() - 1. REQUIRES: as Add.
    uint8_t* AddSpace(size_t length, uint16_t flags = 0);

    // The page as it stands (header fields up to date).
    const Bytes& page() const { return page_; }

  private:
    Version version_;
    size_t page_size_;
    Bytes page_;
    uint8_t* at_;  // the page being built: page_ or the caller's buffer
    size_t free_ = 0;
    int rows_ = 0;
    size_t low_ = 0;  // start of the lowest row so far
};

}  // namespace jet
