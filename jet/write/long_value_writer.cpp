#include "jet/write/long_value_writer.h"

#include <cstring>
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
    : version_(version), sink_(sink), page_(version), chain_page_(version) {}

void LongValueWriter::CloseCurrent() {
    if (current_ == 0) return;
    if (page_.free_space() >= kRoomThreshold && page_.row_count() < kMaxRowsPerPage)
        with_room_.push_back(current_);
    page_.Seal();
    sink_->Commit(current_);
    current_ = 0;
}

uint8_t* LongValueWriter::Space(size_t length) {
    if (current_ == 0 || !page_.Fits(length)) {
        CloseCurrent();
        current_ = sink_->Allocate();
        pages_.push_back(current_);
        page_.Reset(kLvalOwner, sink_->Buffer(current_));
    }
    return page_.AddSpace(length);
}

uint32_t LongValueWriter::Place(const uint8_t* data, size_t length) {
    std::memcpy(Space(length), data, length);
    return PackRowPointer(current_, static_cast<uint8_t>(page_.row_count() - 1));
}

uint32_t LongValueWriter::Place(uint32_t next, const uint8_t* data, size_t length) {
    uint8_t* row = Space(4 + length);
    PutU32(row, next);
    std::memcpy(row + 4, data, length);
    return PackRowPointer(current_, static_cast<uint8_t>(page_.row_count() - 1));
}

Bytes LongValueWriter::Store(const Bytes& data) {
    Bytes field(kLongValueHeaderSize);
    StoreTo(data.data(), data.size(), field.data());
    return field;
}

void LongValueWriter::StoreTo(const uint8_t* data, size_t size, uint8_t* field) {
    if (size == 0) throw std::logic_error("empty long value stored out of line");
    if (size > 0x3FFFFFFFu) Raise(kRecordTooLarge);
    const auto length = static_cast<uint32_t>(size);
    std::memset(field, 0, kLongValueHeaderSize);
    if (size <= MaxSingleLongValue(version_)) {
        PutLongValueHeader(field, length, kLongValueSingle, Place(data, size));
        return;
    }
    // Chain: full pieces on pages of their own, the remainder on the shared page. The
    // remainder goes first so that its pointer is known when the full pieces are built.
    const size_t piece = ChainPieceData(version_);
    size_t full = (size - 1) / piece;  // pieces before the last
    size_t tail = size - full * piece;
    const uint32_t last = Place(0, data + full * piece, tail);
    if (full > 0xFFFFFFu) Raise(kDatabaseFull);
    uint32_t first_page = sink_->Allocate(static_cast<uint32_t>(full));
    // Built last piece first, as the pointers lead; each straight into the sink's buffer.
    uint32_t next = last;
    for (size_t i = full; i-- > 0;) {
        const uint32_t p = first_page + static_cast<uint32_t>(i);
        chain_page_.Reset(kLvalOwner, sink_->Buffer(p));
        uint8_t* row = chain_page_.AddSpace(4 + piece);
        PutU32(row, next);
        std::memcpy(row + 4, data + i * piece, piece);
        chain_page_.Seal();
        sink_->Commit(p);
        next = PackRowPointer(p, 0);
    }
    for (size_t i = 0; i < full; ++i) pages_.push_back(first_page + static_cast<uint32_t>(i));
    PutLongValueHeader(field, length, kLongValueChain, next);
}

void LongValueWriter::Finish() {
    CloseCurrent();
}

}  // namespace jet
