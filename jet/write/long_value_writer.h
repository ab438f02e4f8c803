// Stores long values (Memo/OLE data) of one column out of line, on that column's LVAL pages
// (data pages whose owner field is "LVAL"), docs/format.md 8:
//   single (0x40): the whole value is one LVAL row, of exactly the value's length;
//   chain (0x00): rows of [u32 row pointer to the next piece | data], the last pointer 0. Every
//   piece but the last fills a page of its own (4076 bytes Jet 4, 2036 Jet 3, as Access
//   writes them); the last piece shares the column's current LVAL page.
// A value up to 4076 (Jet 4) / 2032 (Jet 3) bytes is stored single, a longer one as a chain.
// The current page is written when the next row does not fit it, so memory stays at one page
// per long-value column.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/long_value.h"
#include "jet/write/page_builder.h"
#include "jet/write/page_sink.h"

namespace jet {

class LongValueWriter {
  public:
    LongValueWriter(Version version, PageSink* sink);
    LongValueWriter(const LongValueWriter&) = delete;
    LongValueWriter& operator=(const LongValueWriter&) = delete;

    // Stores `data` (REQUIRES: not empty) and returns the 12-byte header for the row.
    Bytes Store(const Bytes& data);
    // The same, putting the header at `field` (kLongValueHeaderSize bytes).
    void StoreTo(const uint8_t* data, size_t size, uint8_t* field);

    // Writes the page being filled. Call once, after the column's last value.
    void Finish();

    // Every LVAL page written for this column, in increasing order.
    const std::vector<uint32_t>& pages() const { return pages_; }
    // The pages that still have room for another row (for the free-space map).
    const std::vector<uint32_t>& pages_with_room() const { return with_room_; }

  private:
    // Places a row of [u32 next | `length` bytes of data] on the current page (starting a new
    // page when full); returns its pointer.
    uint32_t Place(uint32_t next, const uint8_t* data, size_t length);
    // Places a row of the data alone.
    uint32_t Place(const uint8_t* data, size_t length);
    uint8_t* Space(size_t length);
    void CloseCurrent();

    Version version_;
    PageSink* sink_;
    DataPageBuilder page_;
    DataPageBuilder chain_page_;  // the full pieces of a chain, one page at a time
    uint32_t current_ = 0;        // page number of page_, 0 = none open
    std::vector<uint32_t> pages_;
    std::vector<uint32_t> with_room_;
};

// Largest value stored as a single LVAL row, and the data size of a full chain piece.
size_t MaxSingleLongValue(Version v);
size_t ChainPieceData(Version v);

}  // namespace jet
