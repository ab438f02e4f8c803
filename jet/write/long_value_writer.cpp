#include "jet/write/long_value_writer.h"

#include <stdexcept>

#include "jet/base/error.h"
#include "jet/base/put_bytes.h"
#include "jet/write/row_encoder.h"

namespace jet {

namespace {
// Below this much room a page no longer counts as having space for another value.
constexpr size_t kRoomThreshold = 64;
}  // namespace

size_t MaxSingleLongValue(Version v) {
    return v == Version::kJet3 ? 2032 : 4076;
}
size_t ChainPieceData(Version v) {
    return v == Version::kJet3 ? 2032 : 4072;
}

LongValueWriter::LongValueWriter(Version version, PageSink* sink)
    : version_(version), sink_(sink), page_(version) {}

void LongValueWriter::CloseCurrent() {
    if (current_ == 0) return;
    if (page_.free_space() >= kRoomThreshold && page_.row_count() < kMaxRowsPerPage)
        with_room_.push_back(current_);
    sink_->Write(current_, page_.page());
    current_ = 0;
}

uint32_t LongValueWriter::Place(const uint8_t* row, size_t length) {
    if (current_ == 0 || !page_.Fits(length)) {
        CloseCurrent();
        current_ = sink_->Allocate();
        pages_.push_back(current_);
        page_.Reset(kLvalOwner);
    }
    uint8_t number = page_.Add(row, length);
    return PackRowPointer(current_, number);
}

Bytes LongValueWriter::Store(const Bytes& data) {
    if (data.empty()) throw std::logic_error("empty long value stored out of line");
    if (data.size() > 0x3FFFFFFFu) Raise(kRecordTooLarge);
    const auto length = static_cast<uint32_t>(data.size());
    if (data.size() <= MaxSingleLongValue(version_)) {
        uint32_t at = Place(data.data(), data.size());
        return LongValueHeader(length, kLongValueSingle, at);
    }
    // Chain: full pieces on pages of their own, the remainder on the shared page. The
    // remainder goes first so that its pointer is known when the full pieces are built.
    const size_t piece = ChainPieceData(version_);
    size_t full = (data.size() - 1) / piece;  // pieces before the last
    size_t tail = data.size() - full * piece;
    Bytes row(4 + tail);
    PutU32(row.data(), 0);
    std::copy(data.end() - static_cast<std::ptrdiff_t>(tail), data.end(), row.begin() + 4);
    uint32_t next = Place(row.data(), row.size());
    if (full > 0xFFFFFFu) Raise(kDatabaseFull);
    uint32_t first_page = sink_->Allocate(static_cast<uint32_t>(full));
    DataPageBuilder page(version_);
    for (size_t i = full; i-- > 0;) {
        uint32_t p = first_page + static_cast<uint32_t>(i);
        page.Reset(kLvalOwner);
        row.assign(4 + piece, 0);
        PutU32(row.data(), next);
        std::copy(data.begin() + static_cast<std::ptrdiff_t>(i * piece),
                  data.begin() + static_cast<std::ptrdiff_t>((i + 1) * piece), row.begin() + 4);
        page.Add(row);
        sink_->Write(p, page.page());
        next = PackRowPointer(p, 0);
    }
    for (size_t i = 0; i < full; ++i) pages_.push_back(first_page + static_cast<uint32_t>(i));
    return LongValueHeader(length, kLongValueChain, next);
}

void LongValueWriter::Finish() {
    CloseCurrent();
}

}  // namespace jet
