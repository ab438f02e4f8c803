#include "jet/read/page_ledger.h"

namespace jet {
namespace {

// Whether two uses may share a page: map rows live on ordinary data pages, and LVAL pages may
// serve several long-value columns.
bool Compatible(PageUse a, PageUse b) {
    auto data_like = [](PageUse u) {
        return u == PageUse::kData || u == PageUse::kLongValue || u == PageUse::kMapRows;
    };
    if (a == PageUse::kMapRows || b == PageUse::kMapRows) return data_like(a) && data_like(b);
    return a == PageUse::kLongValue && b == PageUse::kLongValue;
}

}  // namespace

const char* PageUseName(PageUse use) {
    switch (use) {
        case PageUse::kNone:
            return "unused";
        case PageUse::kHeader:
            return "the header";
        case PageUse::kTableDef:
            return "a table definition";
        case PageUse::kData:
            return "table data";
        case PageUse::kLongValue:
            return "long values";
        case PageUse::kIndex:
            return "an index";
        case PageUse::kMapRows:
            return "usage maps";
        case PageUse::kBitmap:
            return "a usage-map bitmap";
    }
    return "?";
}

void PageLedger::Grow(uint32_t page_count) {
    if (page_count <= use_.size()) return;
    use_.resize(page_count, PageUse::kNone);
    owner_.resize(page_count, 0);
    checked_.resize(page_count, false);
}

bool PageLedger::Claim(uint32_t page, PageUse use, uint32_t owner) {
    PageUse& cur = use_[page];
    if (cur == PageUse::kNone) {
        cur = use;
        owner_[page] = owner;
        return true;
    }
    if (cur == use && owner_[page] == owner &&
        (use == PageUse::kMapRows || use == PageUse::kLongValue || use == PageUse::kData))
        return true;
    if (!Compatible(cur, use)) return false;
    if (cur == PageUse::kMapRows) {
        cur = use;
        owner_[page] = owner;
    }
    return true;
}

}  // namespace jet
