#include "jet/write/index_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "jet/base/put_bytes.h"

namespace jet {

namespace {

constexpr uint8_t kLeafPage = 0x04;
constexpr uint8_t kNodePage = 0x03;

struct HeaderOffsets {
    size_t prev, next, tail, prefix, level, bitmap;
};

HeaderOffsets Offsets(Version v) {
    if (v == Version::kJet3) return {0x08, 0x0C, 0x10, 0x14, 0x15, 0x16};
    return {0x0C, 0x10, 0x14, 0x18, 0x1A, 0x1B};
}

void SetEndBit(uint8_t* page, size_t bitmap_at, size_t position) {
    page[bitmap_at + position / 8] |= static_cast<uint8_t>(1u << (position % 8));
}

}  // namespace

IndexBuilder::IndexBuilder(Version version, PageSink* sink, uint32_t owner)
    : version_(version),
      sink_(sink),
      owner_(owner),
      space_(IndexEntrySpace(version)),
      max_prefix_(version == Version::kJet3 ? 255 : 0xFFFF) {}

uint8_t* IndexBuilder::StartPage(uint32_t number, uint8_t type, uint32_t prev, uint32_t next,
                                 uint32_t tail) {
    const HeaderOffsets o = Offsets(version_);
    uint8_t* page = sink_->Buffer(number);
    std::memset(page, 0, PageSize(version_));
    page[0] = type;
    page[1] = 0x01;
    PutU32(&page[4], owner_);
    PutU32(&page[o.prev], prev);
    PutU32(&page[o.next], next);
    PutU32(&page[o.tail], tail);
    page[o.level] = type == kNodePage ? 1 : 0;
    return page;
}

void IndexBuilder::Add(const uint8_t* key, size_t key_size, uint32_t row_pointer) {
    const size_t size = key_size + 4;
    if (size > space_) throw std::invalid_argument("index entry larger than a page");

    if (used_ != 0) {
        size_t limit = std::min({prefix_, key_size});
        size_t lcp = 0;
        const Bytes& first = entries_.front();
        while (lcp < limit && first[lcp] == key[lcp]) ++lcp;
        const size_t n = used_ + 1;
        const size_t stored = total_ + size - (n - 1) * lcp;
        if (stored <= space_) {
            prefix_ = lcp;
            key_min_ = std::min(key_min_, key_size);
            total_ += size;
            Keep(key, key_size, row_pointer);
            return;
        }
        // The leaf is full: its successor's page is known once allocated.
        uint32_t next = sink_->Allocate();
        CloseLeaf(next);
        leaf_page_ = next;
    } else if (leaf_page_ == 0) {
        leaf_page_ = sink_->Allocate();
    }
    key_min_ = key_size;
    prefix_ = std::min(key_size, max_prefix_);
    total_ = size;
    Keep(key, key_size, row_pointer);
}

void IndexBuilder::Keep(const uint8_t* key, size_t key_size, uint32_t row_pointer) {
    if (used_ == entries_.size()) entries_.emplace_back();
    Bytes& entry = entries_[used_++];
    entry.resize(key_size + 4);
    if (key_size > 0) std::memcpy(entry.data(), key, key_size);
    PutU32BE(entry.data() + key_size, row_pointer);  // data page (3 bytes) and row
}

void IndexBuilder::CloseLeaf(uint32_t next_page) {
    WriteLeaf(leaf_page_, prev_leaf_, next_page);
    leaves_.push_back({entries_[used_ - 1], leaf_page_});
    prev_leaf_ = leaf_page_;
    used_ = 0;
}

void IndexBuilder::WriteLeaf(uint32_t page_number, uint32_t prev, uint32_t next) {
    const HeaderOffsets o = Offsets(version_);
    uint8_t* page = StartPage(page_number, kLeafPage, prev, next, 0);
    const size_t first = IndexFirstEntry(version_);
    const size_t prefix = used_ > 1 ? prefix_ : 0;
    if (version_ == Version::kJet3) {
        page[o.prefix] = static_cast<uint8_t>(prefix);
    } else {
        PutU16(&page[o.prefix], static_cast<uint16_t>(prefix));
    }
    size_t at = 0;
    for (size_t i = 0; i < used_; ++i) {
        const Bytes& e = entries_[i];
        size_t skip = i == 0 ? 0 : prefix;
        std::memcpy(&page[first + at], e.data() + skip, e.size() - skip);
        at += e.size() - skip;
        SetEndBit(page, o.bitmap, at);
    }
    PutU16(&page[2], static_cast<uint16_t>(space_ - at));
    pages_.push_back(page_number);
    sink_->Commit(page_number);
}

std::vector<IndexBuilder::Child> IndexBuilder::BuildLevel(const std::vector<Child>& children) {
    // Partition the children into pages: a page stores an entry for each child but its last.
    std::vector<std::vector<size_t>> groups;
    std::vector<size_t> current;
    size_t used = 0;
    for (size_t i = 0; i < children.size(); ++i) {
        if (!current.empty()) {
            size_t add = children[current.back()].last_entry.size() + 4;
            if (used + add > space_) {
                groups.push_back(std::move(current));
                current = {i};
                used = 0;
                continue;
            }
            used += add;
        }
        current.push_back(i);
    }
    groups.push_back(std::move(current));
    // A page needs at least one entry besides its tail: borrow from the page before.
    if (groups.size() > 1 && groups.back().size() == 1) {
        auto& before = groups[groups.size() - 2];
        groups.back().insert(groups.back().begin(), before.back());
        before.pop_back();
    }

    const HeaderOffsets o = Offsets(version_);
    const size_t first = IndexFirstEntry(version_);
    const uint32_t base = sink_->Allocate(static_cast<uint32_t>(groups.size()));
    std::vector<Child> level;
    for (size_t g = 0; g < groups.size(); ++g) {
        const auto& group = groups[g];
        const uint32_t number = base + static_cast<uint32_t>(g);
        const uint32_t prev = g == 0 ? 0 : number - 1;
        const uint32_t next = g + 1 == groups.size() ? 0 : number + 1;
        uint8_t* page = StartPage(number, kNodePage, prev, next, children[group.back()].page);
        size_t at = 0;
        for (size_t k = 0; k + 1 < group.size(); ++k) {
            const Child& c = children[group[k]];
            std::memcpy(&page[first + at], c.last_entry.data(), c.last_entry.size());
            PutU32BE(&page[first + at + c.last_entry.size()], c.page);
            at += c.last_entry.size() + 4;
            SetEndBit(page, o.bitmap, at);
        }
        PutU16(&page[2], static_cast<uint16_t>(space_ - at));
        pages_.push_back(number);
        sink_->Commit(number);
        level.push_back({children[group.back()].last_entry, number});
    }
    return level;
}

uint32_t IndexBuilder::Finish() {
    if (used_ == 0 && leaves_.empty()) {
        // Empty index: a root leaf without entries.
        if (leaf_page_ == 0) leaf_page_ = sink_->Allocate();
        WriteLeaf(leaf_page_, 0, 0);
        return leaf_page_;
    }
    if (used_ != 0) CloseLeaf(0);
    std::vector<Child> level = std::move(leaves_);
    while (level.size() > 1) level = BuildLevel(level);
    std::sort(pages_.begin(), pages_.end());
    return level.front().page;
}

}  // namespace jet
