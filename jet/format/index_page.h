// Index pages: the nodes of an index B-tree.
//
// On disk (offsets Jet 3 / Jet 4):
//   0x00 type: 0x03 intermediate ("node"), 0x04 leaf;  0x01 always 0x01
//   0x02 u16 free space = page_size - end of the last entry
//   0x04 u32 owning table (its TDEF page)
//   0x08 / 0x0C u32 previous page at this level, 0 = none
//   0x0C / 0x10 u32 next page at this level, 0 = none
//   0x10 / 0x14 u32 tail page (intermediate pages: the child holding everything greater than the
//               last entry; 0 on leaves)
//   0x14 (u8) / 0x18 (u16) shared-prefix length P
//   0x15 / 0x1A level byte (1 on intermediate pages, 0 on leaves)
//   0x16 / 0x1B entry-end bitmap (226 / 453 bytes): bit p set = an entry ends at first + p
//   0xF8 / 0x1E0 first entry; entries packed back to back
// An entry is key bytes, then the data row as a 3-byte big-endian page and a 1-byte row, then
// on intermediate pages a 4-byte big-endian child page. The first entry is stored whole; the
// later ones omit the first P bytes, which they share with it. P counts whole entry bytes, so
// it may reach into the row pointer (seen in real Jet 3 files with short keys).
//
// Invariant checked here: every entry lies inside the page and is long enough for its trailer;
// the prefix fits in the first entry. Anything else (order, links, owners) is the tree walker's
// and the checker's business.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/data_page.h"
#include "jet/format/schema.h"

namespace jet {

struct IndexEntry {
    Bytes key;               // with the shared prefix put back
    uint32_t data_page = 0;  // the row the entry points to
    uint8_t data_row = 0;
    uint32_t child_page = 0;  // intermediate pages only
};

struct IndexPage {
    uint8_t type = kPageIndexLeaf;
    uint16_t free_space = 0;
    uint32_t owner = 0;
    uint32_t prev_page = 0;
    uint32_t next_page = 0;
    uint32_t tail_page = 0;
    uint16_t prefix_length = 0;
    uint8_t level = 0;
    uint32_t entries_end = 0;  // offset just past the last entry (first-entry offset if none)
    std::vector<IndexEntry> entries;

    bool leaf() const { return type == kPageIndexLeaf; }
};

struct IndexPageLayout {
    uint32_t page_size;
    uint32_t prev_offset, next_offset, tail_offset;
    uint32_t prefix_offset, prefix_size;
    uint32_t level_offset;
    uint32_t bitmap_offset, bitmap_size;
    uint32_t first_entry;
};

const IndexPageLayout& IndexLayout(Version version);

// Encodes an index page from its header fields and entries (free_space, prefix_length and
// entries_end are computed). With `share_prefix` the longest prefix common to all keys is
// stored once, as Jet does; otherwise P = 0, which is just as valid. Throws JetError 3047 when
// the entries do not fit in one page.
Bytes EncodeIndexPage(Version version, const IndexPage& page, bool share_prefix = true);

// Decodes an index page. Throws JetError 3343 naming the damage when the page is not an index
// page or its entries do not fit.
IndexPage DecodeIndexPage(Version version, std::span<const uint8_t> page);

// An entry of a PackedIndexPage: its key is `key_size` bytes at `key_at` in the page's keys.
struct PackedIndexEntry {
    uint32_t key_at = 0;
    uint32_t key_size = 0;
    uint32_t data_page = 0;
    uint8_t data_row = 0;
    uint32_t child_page = 0;
};

// An index page as a reader of many pages holds it: the header as in IndexPage (whose `entries`
// stay empty), the keys back to back in one buffer (past them, what an earlier page left), so
// that decoding page after page into the same one allocates nothing once its buffers have grown.
struct PackedIndexPage {
    IndexPage header;
    Bytes keys;
    std::vector<PackedIndexEntry> entries;

    ByteSpan key(const PackedIndexEntry& e) const {
        return ByteSpan(keys).subspan(e.key_at, e.key_size);
    }
};

// DecodeIndexPage into `out`, replacing what it held; the same checks and errors.
void DecodeIndexPageTo(Version version, std::span<const uint8_t> page, PackedIndexPage& out);

}  // namespace jet
