#include "jet/write/page_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "jet/base/put_bytes.h"

namespace jet {

DataPageBuilder::DataPageBuilder(Version version)
    : version_(version), page_size_(PageSize(version)), page_(page_size_, 0) {
    Reset(0);
}

void DataPageBuilder::Reset(uint32_t owner) {
    std::fill(page_.begin(), page_.end(), 0);
    Reset(owner, page_.data());
}

void DataPageBuilder::Seal() {
    const size_t offsets_end = DataPageHeaderSize(version_) + 2 * static_cast<size_t>(rows_);
    std::memset(at_ + offsets_end, 0, low_ - offsets_end);
}

void DataPageBuilder::Reset(uint32_t owner, uint8_t* buffer) {
    at_ = buffer;
    std::memset(at_, 0, DataPageHeaderSize(version_));
    at_[0] = 0x01;
    at_[1] = 0x01;
    PutU32(&at_[4], owner);
    rows_ = 0;
    low_ = page_size_;
    free_ = page_size_ - DataPageHeaderSize(version_);
    PutU16(&at_[2], static_cast<uint16_t>(free_));
}

uint8_t* DataPageBuilder::AddSpace(size_t length, uint16_t flags) {
    if (length == 0 || !Fits(length)) throw std::logic_error("data page row does not fit");
    size_t start = low_ - length;
    size_t count_at = DataPageHeaderSize(version_) - 2;
    PutU16(&at_[count_at + 2 + 2 * static_cast<size_t>(rows_)],
           static_cast<uint16_t>(start | flags));
    low_ = start;
    free_ -= length + 2;
    ++rows_;
    PutU16(&at_[count_at], static_cast<uint16_t>(rows_));
    PutU16(&at_[2], static_cast<uint16_t>(free_));
    return &at_[start];
}

uint8_t DataPageBuilder::Add(const uint8_t* row, size_t length, uint16_t flags) {
    std::memcpy(AddSpace(length, flags), row, length);
    return static_cast<uint8_t>(rows_ - 1);
}

}  // namespace jet
