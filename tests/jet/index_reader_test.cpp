// Index pages and tree walking on hand-built trees: decoding (prefix compression, bitmap),
// tree order, and that every kind of damage is reported, never followed into a hang or crash.
#include "jet/read/index_reader.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>
#include <vector>

#include "jet/base/error.h"
#include "jet/format/index_page.h"

namespace jet {
namespace {

constexpr uint32_t kOwner = 42;

IndexEntry Entry(Bytes key, uint32_t page, uint8_t row, uint32_t child = 0) {
    IndexEntry e;
    e.key = std::move(key);
    e.data_page = page;
    e.data_row = row;
    e.child_page = child;
    return e;
}

IndexPage Page(uint8_t type, std::vector<IndexEntry> entries, uint32_t prev = 0, uint32_t next = 0,
               uint32_t tail = 0) {
    IndexPage p;
    p.type = type;
    p.owner = kOwner;
    p.prev_page = prev;
    p.next_page = next;
    p.tail_page = tail;
    p.entries = std::move(entries);
    return p;
}

// A file of pages kept in memory.
struct Pages {
    Version version;
    std::map<uint32_t, Bytes> pages;
    PageFetcher Fetcher() const {
        return [this](uint32_t n) {
            auto it = pages.find(n);
            if (it == pages.end()) Raise(kUnrecognizedFormat);
            return it->second;
        };
    }
    void Put(uint32_t n, const IndexPage& p) { pages[n] = EncodeIndexPage(version, p); }
};

TEST(IndexPageTest, RoundTripsWithAndWithoutSharedPrefix) {
    for (Version v : {Version::kJet3, Version::kJet4}) {
        const IndexPage page =
            Page(kPageIndexLeaf,
                 {Entry({0x7F, 0x80, 0, 0, 1}, 10, 0), Entry({0x7F, 0x80, 0, 0, 2}, 10, 1),
                  Entry({0x7F, 0x80, 0, 1, 0}, 0x123456, 254)},
                 3, 4);
        for (bool share : {false, true}) {
            const Bytes bytes = EncodeIndexPage(v, page, share);
            const IndexPage back = DecodeIndexPage(v, bytes);
            EXPECT_EQ(back.prefix_length, share ? 3 : 0);
            ASSERT_EQ(back.entries.size(), 3u);
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(back.entries[i].key, page.entries[i].key);
                EXPECT_EQ(back.entries[i].data_page, page.entries[i].data_page);
                EXPECT_EQ(back.entries[i].data_row, page.entries[i].data_row);
            }
            EXPECT_EQ(back.owner, kOwner);
            EXPECT_EQ(back.prev_page, 3u);
            EXPECT_EQ(back.next_page, 4u);
            EXPECT_EQ(back.free_space, PageSize(v) - back.entries_end);
        }
    }
}

// Jet 3 pages of short keys share prefixes that run into the row pointer (mdbtools-nwind.mdb).
TEST(IndexPageTest, SharedPrefixMayCoverTheRowPointer) {
    for (Version v : {Version::kJet3, Version::kJet4}) {
        const IndexPage page = Page(kPageIndexLeaf, {Entry({0x7F, 0x80, 0, 0, 1}, 0x0102, 1),
                                                     Entry({0x7F, 0x80, 0, 0, 1}, 0x0102, 2),
                                                     Entry({0x7F, 0x80, 0, 0, 1}, 0x0102, 3)});
        const Bytes bytes = EncodeIndexPage(v, page);
        const IndexPage back = DecodeIndexPage(v, bytes);
        EXPECT_EQ(back.prefix_length, 8);
        EXPECT_EQ(back.entries_end, IndexLayout(v).first_entry + 9 + 1 + 1);
        ASSERT_EQ(back.entries.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(back.entries[i].key, page.entries[i].key);
            EXPECT_EQ(back.entries[i].data_page, 0x0102u);
            EXPECT_EQ(back.entries[i].data_row, i + 1);
        }
    }
}

// A reader of many pages decodes each into the same PackedIndexPage: nothing of the page before
// may be left, after a larger or smaller page, a leaf or a node, or a page that was damaged.
TEST(IndexPageTest, PagesDecodedIntoOneBufferAreDecodedAlone) {
    for (Version v : {Version::kJet3, Version::kJet4}) {
        std::vector<Bytes> pages;
        std::vector<IndexEntry> many;
        for (uint8_t i = 0; i < 40; ++i)
            many.push_back(Entry({0x7F, 0x10, i, static_cast<uint8_t>(i * 3)}, 100 + i, i, 7 + i));
        pages.push_back(EncodeIndexPage(v, Page(kPageIndexLeaf, many, 3, 4)));
        pages.push_back(EncodeIndexPage(
            v, Page(kPageIndexNode, {Entry({0x7F, 2}, 9, 1, 11), Entry({0x7F, 3}, 9, 2, 12)}, 0, 0,
                    13)));
        pages.push_back(EncodeIndexPage(
            v, Page(kPageIndexLeaf,
                    {Entry({0x7F, 0x80, 0, 0, 1}, 10, 0), Entry({0x7F, 0x80, 0, 0, 1}, 10, 1)})));
        Bytes damaged = pages[0];
        damaged[IndexLayout(v).bitmap_offset] |= 0x01;  // an empty first entry
        pages.push_back(damaged);
        pages.push_back(EncodeIndexPage(v, Page(kPageIndexLeaf, {}, 5, 6)));
        pages.push_back(EncodeIndexPage(v, Page(kPageIndexNode, many, 0, 0, 8), false));
        PackedIndexPage packed;
        for (size_t n = 0; n < pages.size(); ++n) {
            SCOPED_TRACE(n);
            if (n == 3) {
                EXPECT_THROW(DecodeIndexPage(v, pages[n]), JetError);
                EXPECT_THROW(DecodeIndexPageTo(v, pages[n], packed), JetError);
                continue;
            }
            const IndexPage alone = DecodeIndexPage(v, pages[n]);
            DecodeIndexPageTo(v, pages[n], packed);
            const IndexPage& h = packed.header;
            EXPECT_TRUE(h.entries.empty());
            EXPECT_EQ(std::tie(h.type, h.free_space, h.owner, h.prev_page, h.next_page, h.tail_page,
                               h.prefix_length, h.level, h.entries_end),
                      std::tie(alone.type, alone.free_space, alone.owner, alone.prev_page,
                               alone.next_page, alone.tail_page, alone.prefix_length, alone.level,
                               alone.entries_end));
            ASSERT_EQ(packed.entries.size(), alone.entries.size());
            for (size_t i = 0; i < alone.entries.size(); ++i) {
                const PackedIndexEntry& e = packed.entries[i];
                const ByteSpan key = packed.key(e);
                EXPECT_EQ(Bytes(key.begin(), key.end()), alone.entries[i].key);
                EXPECT_EQ(e.data_page, alone.entries[i].data_page);
                EXPECT_EQ(e.data_row, alone.entries[i].data_row);
                EXPECT_EQ(e.child_page, alone.entries[i].child_page);
            }
        }
    }
}

TEST(IndexPageTest, EntriesAreStoredBigEndianAfterTheKey) {
    const Bytes bytes = EncodeIndexPage(
        Version::kJet4, Page(kPageIndexNode, {Entry({0x7F, 0x01}, 0x010203, 4, 0x0A0B0C0D)}),
        false);
    const uint8_t expected[] = {0x7F, 0x01, 0x01, 0x02, 0x03, 0x04, 0x0A, 0x0B, 0x0C, 0x0D};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), bytes.begin() + 0x1E0));
    EXPECT_EQ(bytes[0x1B + 1], 0x04);  // the entry ends 10 bytes after the first entry
}

TEST(IndexPageTest, DamageIsReportedNotFollowed) {
    const Version v = Version::kJet3;
    Bytes good = EncodeIndexPage(v, Page(kPageIndexLeaf, {Entry({0x7F, 1}, 1, 0)}));
    {
        Bytes b = good;
        b[0] = 0x01;
        EXPECT_THROW(DecodeIndexPage(v, b), JetError);
    }
    {
        Bytes b = good;
        b[0x16] |= 0x01;  // an entry ending where it starts
        EXPECT_THROW(DecodeIndexPage(v, b), JetError);
    }
    {
        Bytes b = good;
        b[0x16] = 0x04;  // a 2-byte entry: shorter than its row pointer
        EXPECT_THROW(DecodeIndexPage(v, b), JetError);
    }
    {
        Bytes b = good;
        b[0x14] = 200;  // shared prefix longer than the first key
        EXPECT_THROW(DecodeIndexPage(v, b), JetError);
    }
    {
        Bytes b = good;
        b[0x16 + 225] = 0x80;  // a bit past the usable area
        EXPECT_THROW(DecodeIndexPage(v, b), JetError);
    }
    EXPECT_THROW(DecodeIndexPage(v, Bytes(100, 0)), JetError);
}

// Root 5 (intermediate) with children 6 and 7 and tail 8; entries 1..9 spread over the leaves.
Pages TwoLevelTree(Version v) {
    Pages t{v, {}};
    t.Put(6, Page(kPageIndexLeaf, {Entry({0x7F, 1}, 20, 0), Entry({0x7F, 2}, 20, 1)}, 0, 7));
    t.Put(7,
          Page(kPageIndexLeaf,
               {Entry({0x7F, 3}, 20, 2), Entry({0x7F, 4}, 20, 3), Entry({0x7F, 4}, 21, 0)}, 6, 8));
    t.Put(8, Page(kPageIndexLeaf, {Entry({0x7F, 9}, 22, 0)}, 7, 0));
    t.Put(5,
          Page(kPageIndexNode, {Entry({0x7F, 2}, 20, 1, 6), Entry({0x7F, 4}, 21, 0, 7)}, 0, 0, 8));
    return t;
}

TEST(IndexReaderTest, WalksEntriesInOrder) {
    for (Version v : {Version::kJet3, Version::kJet4}) {
        const Pages t = TwoLevelTree(v);
        IndexWalkOptions opt;
        opt.page_count = 30;
        opt.owner = kOwner;
        std::vector<uint8_t> seen;
        const IndexWalkResult r =
            WalkIndex(v, t.Fetcher(), 5, opt,
                      [&](const IndexEntry& e, uint32_t) { seen.push_back(e.key[1]); });
        EXPECT_TRUE(r.ok()) << r.problems[0].what;
        EXPECT_EQ(seen, (std::vector<uint8_t>{1, 2, 3, 4, 4, 9}));
        EXPECT_EQ(r.entry_count, 6u);
        EXPECT_EQ(r.pages, (std::vector<uint32_t>{5, 6, 7, 8}));
        EXPECT_EQ(r.leaf_pages, (std::vector<uint32_t>{6, 7, 8}));
        EXPECT_EQ(ReadIndexEntries(v, t.Fetcher(), 5, opt).size(), 6u);
    }
}

TEST(IndexReaderTest, ReportsCyclesWrongOwnersAndBrokenLinks) {
    const Version v = Version::kJet4;
    IndexWalkOptions opt;
    opt.page_count = 30;
    opt.owner = kOwner;
    auto walk = [&](const Pages& t) { return WalkIndex(v, t.Fetcher(), 5, opt, nullptr); };

    Pages cycle = TwoLevelTree(v);  // the tail points back at the root
    cycle.Put(
        5, Page(kPageIndexNode, {Entry({0x7F, 2}, 20, 1, 6), Entry({0x7F, 4}, 21, 0, 7)}, 0, 0, 5));
    EXPECT_FALSE(walk(cycle).ok());

    Pages self = TwoLevelTree(v);  // a child that is its own parent, deeper than any bound
    self.Put(6, Page(kPageIndexNode, {Entry({0x7F, 2}, 20, 1, 6)}, 0, 0, 6));
    EXPECT_FALSE(walk(self).ok());

    Pages out_of_range = TwoLevelTree(v);
    out_of_range.Put(5, Page(kPageIndexNode, {Entry({0x7F, 2}, 20, 1, 999)}, 0, 0, 8));
    EXPECT_FALSE(walk(out_of_range).ok());
    EXPECT_THROW(ReadIndexEntries(v, out_of_range.Fetcher(), 5, opt), JetError);

    Pages foreign = TwoLevelTree(v);
    IndexPage other = Page(kPageIndexLeaf, {Entry({0x7F, 9}, 22, 0)}, 7, 0);
    other.owner = 43;
    foreign.Put(8, other);
    EXPECT_FALSE(walk(foreign).ok());

    Pages unlinked = TwoLevelTree(v);
    unlinked.Put(8, Page(kPageIndexLeaf, {Entry({0x7F, 9}, 22, 0)}, 0, 0));
    EXPECT_FALSE(walk(unlinked).ok());

    Pages missing = TwoLevelTree(v);
    missing.pages.erase(7);
    EXPECT_FALSE(walk(missing).ok());

    Pages not_index = TwoLevelTree(v);
    not_index.pages[7][0] = 0x01;
    EXPECT_FALSE(walk(not_index).ok());
}

TEST(IndexReaderTest, ReportsEntriesOutOfOrder) {
    const Version v = Version::kJet3;
    Pages t = TwoLevelTree(v);
    t.Put(7,
          Page(kPageIndexLeaf,
               {Entry({0x7F, 4}, 20, 3), Entry({0x7F, 3}, 20, 2), Entry({0x7F, 4}, 21, 0)}, 6, 8));
    IndexWalkOptions opt;
    opt.page_count = 30;
    size_t yielded = 0;
    const IndexWalkResult r =
        WalkIndex(v, t.Fetcher(), 5, opt, [&](const IndexEntry&, uint32_t) { ++yielded; });
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(yielded, 6u);  // still yielded, so a salvaging reader keeps them
}

}  // namespace
}  // namespace jet
