// Small Jet files built page by page, for tests of the reading layers that need exact damage
// (a long-value chain that loops, a usage map pointing past the end ...).
#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/format/data_page.h"
#include "jet/format/header.h"

namespace jet::testkit {

class SyntheticFile {
  public:
    SyntheticFile(jet::Version version, uint32_t pages) : version_(version) {
        jet::DatabaseHeader h;
        h.version = version;
        h.creation_date = version == jet::Version::kJet4 ? 40000.5 : 0;
        pages_.assign(pages, jet::Bytes(jet::PageSize(version), 0));
        pages_[0] = jet::EncodeHeader(h);
    }

    jet::Bytes& page(uint32_t n) { return pages_.at(n); }
    uint32_t page_size() const { return jet::PageSize(version_); }

    // Appends a row to data page n (made a data page of `owner` when blank); returns its number.
    uint16_t AddRow(uint32_t n, const jet::Bytes& row, uint32_t owner, uint16_t flags = 0) {
        jet::Bytes& p = pages_.at(n);
        const size_t count_at = jet::DataPageRowCountOffset(version_);
        if (p[0] != jet::kPageData) {
            p[0] = jet::kPageData;
            p[1] = 1;
            jet::PutU32(p, 4, owner);
        }
        const uint16_t count = jet::U16(p, count_at);
        const uint32_t end =
            count == 0 ? page_size() : (jet::U16(p, count_at + 2 * count) & jet::kRowOffsetMask);
        const auto start = static_cast<uint16_t>(end - row.size());
        std::copy(row.begin(), row.end(), p.begin() + start);
        jet::PutU16(p, count_at + 2 + 2 * count, static_cast<uint16_t>(start | flags));
        jet::PutU16(p, count_at, static_cast<uint16_t>(count + 1));
        return count;
    }

    void Write(const std::string& path) const {
        std::ofstream out(path, std::ios::binary);
        for (const jet::Bytes& p : pages_)
            out.write(reinterpret_cast<const char*>(p.data()),
                      static_cast<std::streamsize>(p.size()));
    }

  private:
    jet::Version version_;
    std::vector<jet::Bytes> pages_;
};

}  // namespace jet::testkit
