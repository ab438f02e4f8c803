// The checker's page ledger: what each page of a file serves, as the structures that reach it
// are read. At the end of a check every page must be used (by one structure, or by uses that
// may share a page), free, or leaked.
#pragma once

#include <cstdint>
#include <vector>

namespace jet {

enum class PageUse : uint8_t {
    kNone,
    kHeader,
    kTableDef,
    kData,       // rows of a table
    kLongValue,  // LVAL rows
    kIndex,
    kMapRows,  // rows holding usage maps (page 1 included)
    kBitmap,   // bitmap page of a reference usage map
};

// "a table definition", "long values" ...: for findings.
const char* PageUseName(PageUse use);

class PageLedger {
  public:
    explicit PageLedger(uint32_t page_count) { Grow(page_count); }

    // A file being written grows: the pages past the old end are not used yet.
    void Grow(uint32_t page_count);

    PageUse use(uint32_t page) const { return use_[page]; }
    // The definition page of the table the page serves (0: none, or not a table's).
    uint32_t owner(uint32_t page) const { return owner_[page]; }

    // Records that `page` serves `use` for the table at `owner`. False when it serves already
    // a use that may not share the page with this one (the first use is kept). Map rows live
    // on ordinary data pages: a page first seen holding them takes the other use.
    bool Claim(uint32_t page, PageUse use, uint32_t owner);

    // Whether the checks of a page that holds rows are done (each page is checked once).
    bool checked(uint32_t page) const { return checked_[page]; }
    void set_checked(uint32_t page) { checked_[page] = true; }

  private:
    std::vector<PageUse> use_;
    std::vector<uint32_t> owner_;
    std::vector<bool> checked_;
};

}  // namespace jet
