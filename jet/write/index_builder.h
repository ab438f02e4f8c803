// Builds one index B-tree bottom-up from entries in sorted order (docs/format.md 9).
//
// Page layout (offsets Jet3 / Jet4):
//   0x00 type: 0x04 leaf, 0x03 intermediate   0x01 0x01   0x02 u16 free = page_size - end
//   0x04 u32 owner (TDEF page)                [Jet4 0x08 u32 0]
//   0x08/0x0C u32 previous page at this level  0x0C/0x10 u32 next page   0x10/0x14 u32 tail
//   0x14 u8 / 0x18 u16 shared prefix length    0x15/0x1A level byte: 0 leaf, 1 intermediate
//   0x16/0x1B entry-end bitmap (226 / 453 bytes)   0xF8/0x1E0 entries, back to back
// leaf entry = key | data page (3 bytes BE) | row;  node entry = leaf form | child page (u32 BE)
//
// Leaves are filled in order and doubly linked. Each leaf uses prefix compression: the common
// prefix of its keys (never reaching into the page/row trailer) is stored once, in the first
// entry. An intermediate page lists every child but its last one, each with the greatest entry
// of that child's subtree; the last child is the page's tail. Levels are built until one page
// remains: the root. An index without entries is one empty leaf.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/index_page.h"
#include "jet/format/schema.h"
#include "jet/write/page_sink.h"

namespace jet {

// Offset of the first entry and the room for entries on an index page.
inline size_t IndexFirstEntry(Version v) {
    return IndexLayout(v).first_entry;
}
inline size_t IndexEntrySpace(Version v) {
    return PageSize(v) - IndexFirstEntry(v);
}

class IndexBuilder {
  public:
    // `owner`: the table's TDEF page.
    IndexBuilder(Version version, PageSink* sink, uint32_t owner);
    IndexBuilder(const IndexBuilder&) = delete;
    IndexBuilder& operator=(const IndexBuilder&) = delete;

    // Adds the next entry. REQUIRES: entries come in index order; the entry fits a page.
    void Add(const uint8_t* key, size_t key_size, uint32_t row_pointer);

    // Writes the remaining pages and returns the root page. Call once.
    uint32_t Finish();

    // Every page of the index (leaves and intermediate pages), for its usage map.
    const std::vector<uint32_t>& pages() const { return pages_; }

  private:
    struct Child {
        Bytes last_entry;  // greatest leaf-form entry of the subtree
        uint32_t page;
    };

    void CloseLeaf(uint32_t next_page);
    void WriteLeaf(uint32_t page, uint32_t prev, uint32_t next);
    std::vector<Child> BuildLevel(const std::vector<Child>& children);
    // Opens page `number` in the sink, zeroed, with its header; returns its bytes.
    uint8_t* StartPage(uint32_t number, uint8_t type, uint32_t prev, uint32_t next, uint32_t tail);

    Version version_;
    PageSink* sink_;
    uint32_t owner_;
    size_t space_;
    size_t max_prefix_;

    // The leaf being filled.
    // Keeps the next entry of the leaf, in a buffer left from an earlier leaf where there is one.
    void Keep(const uint8_t* key, size_t key_size, uint32_t row_pointer);
    std::vector<Bytes> entries_;  // full leaf-form entries: the first used_, then spare buffers
    size_t used_ = 0;
    size_t key_min_ = 0;      // shortest key on the leaf
    size_t prefix_ = 0;       // common prefix of the keys on the leaf
    size_t total_ = 0;        // sum of entry sizes
    uint32_t leaf_page_ = 0;  // page number of the leaf being filled
    uint32_t prev_leaf_ = 0;

    // A complete leaf waiting for its successor's page number.
    std::vector<Child> leaves_;
    std::vector<uint32_t> pages_;
};

}  // namespace jet
