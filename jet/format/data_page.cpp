#include "jet/format/data_page.h"

#include <string>

namespace jet {

DataPage::DataPage(ByteSpan page, Version version) : page_(page), version_(version) {
    if (page.size() != PageSize(version) || page[0] != kPageData) Corrupt("expected a data page");
    row_count_ = U16(page, DataPageRowCountOffset(version));
    if (row_count_ > kMaxRowsPerPage || DataPageHeaderSize(version) + 2u * row_count_ > page.size())
        Corrupt("data page row table too large");
}

uint16_t DataPage::entry(uint16_t i) const {
    if (i >= row_count_) Corrupt("row number " + std::to_string(i) + " not on page");
    return U16(page_, DataPageHeaderSize(version_) + 2u * i);
}

uint32_t DataPage::row_end(uint16_t i) const {
    return i == 0 ? static_cast<uint32_t>(page_.size()) : row_start(static_cast<uint16_t>(i - 1));
}

ByteSpan DataPage::row(uint16_t i) const {
    const uint32_t start = row_start(i);
    const uint32_t end = row_end(i);
    const size_t table_end = DataPageHeaderSize(version_) + 2u * row_count_;
    if (start < table_end || end > page_.size() || start > end)
        Corrupt("row " + std::to_string(i) + " has bad bounds");
    return page_.subspan(start, end - start);
}

bool IsDataPageOf(ByteSpan page, uint32_t owner) {
    return page.size() >= 8 && page[0] == kPageData && U32(page, 4) == owner;
}

}  // namespace jet
