// The checker's per-table row store: keys kept exactly (across the buffer's chunk
// boundaries), lookups by location in and out of reading order, flags and entry counts; and its
// set of the long-value rows in use.
#include "jet/read/live_rows.h"

#include "jet/read/checker_impl.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>

#include <stdexcept>

namespace jet {
namespace {

Bytes KeyOf(uint32_t row, size_t k, size_t length) {
    Bytes key(length);
    for (size_t i = 0; i < length; ++i) key[i] = static_cast<uint8_t>(row * 7 + k * 31 + i);
    return key;
}

TEST(LiveRows, KeysComeBackExactlyAcrossChunks) {
    LiveRows rows;
    rows.Reset(3);
    // About 3 MB of keys, lengths varied so that keys straddle the 1 MB chunk boundaries, and
    // 60,000 keys, which the blocks of 4096 key ends divide.
    const uint32_t n = 20000;
    for (uint32_t r = 0; r < n; ++r) {
        const size_t slot = rows.Add(r << 8);
        ASSERT_EQ(slot, r);
        rows.SetKey(slot, 0, KeyOf(r, 0, 1 + r % 97));
        // Index 1 gets no key (an encoder that failed); index 2 a long one.
        rows.SetKey(slot, 2, KeyOf(r, 2, 60 + r % 131));
    }
    for (uint32_t r = 0; r < n; ++r) {
        EXPECT_EQ(rows.key(r, 0), KeyOf(r, 0, 1 + r % 97)) << r;
        EXPECT_FALSE(rows.has_key(r, 1));
        EXPECT_TRUE(rows.KeyEquals(r, 2, KeyOf(r, 2, 60 + r % 131))) << r;
        Bytes off = KeyOf(r, 2, 60 + r % 131);
        off.back() ^= 1;
        EXPECT_FALSE(rows.KeyEquals(r, 2, off));
        off.pop_back();
        EXPECT_FALSE(rows.KeyEquals(r, 2, off));
    }
    EXPECT_THROW(rows.SetKey(0, 1, {1}), std::logic_error) << "keys are set for the last row";
}

TEST(LiveRows, FindsRowsInAndOutOfReadingOrder) {
    LiveRows rows;
    rows.Reset(1);
    for (uint32_t loc : {0x300u, 0x301u, 0x705u}) rows.Add(loc);
    EXPECT_EQ(rows.Find(0x301), 1u);
    EXPECT_EQ(rows.Find(0x302), LiveRows::kNone);
    EXPECT_EQ(rows.Find(0x100), LiveRows::kNone);
    EXPECT_EQ(rows.Find(0x900), LiveRows::kNone);
    rows.Add(0x200);  // a map that lists pages out of order
    EXPECT_EQ(rows.Find(0x200), 3u);
    EXPECT_EQ(rows.Find(0x705), 2u);
    EXPECT_EQ(rows.Find(0x301), 1u);
    EXPECT_EQ(rows.Find(0x500), LiveRows::kNone);
    rows.Reset(2);
    EXPECT_EQ(rows.size(), 0u);
    EXPECT_EQ(rows.Find(0x300), LiveRows::kNone);

    // Rows in reading order, on pages close together and spread thinly over a large file:
    // every row is found at its slot, and nothing else is found.
    for (const uint32_t page_step : {1u, 3u, 5000u}) {
        SCOPED_TRACE("page step " + std::to_string(page_step));
        std::minstd_rand random(page_step);
        auto next = [&](uint32_t below) { return static_cast<uint32_t>(random() % below); };
        rows.Reset(1);
        std::map<uint32_t, size_t> slots;
        uint32_t page = 5;
        for (int p = 0; p < 300; ++p, page += 1 + next(page_step)) {
            // Pages with deleted rows and pages whose rows follow one another (as a lookup
            // expects first), from row 0 or later.
            const bool dense = p % 2 == 0;
            for (uint32_t row = dense ? next(3) * next(60) : 0; row < 255;
                 row += dense ? 1 : 1 + next(40)) {
                const uint32_t loc = page << 8 | row;
                slots[loc] = rows.Add(loc);
            }
        }
        for (int i = 0; i < 20000; ++i) {
            const uint32_t probe = next((page + 2) << 8);
            const auto it = slots.find(probe);
            EXPECT_EQ(rows.Find(probe), it == slots.end() ? LiveRows::kNone : it->second) << probe;
        }
        for (const auto& [loc, slot] : slots) EXPECT_EQ(rows.Find(loc), slot) << loc;
    }
}

TEST(LiveRows, FlagsAndEntryCountsStayPerRowAndIndex) {
    LiveRows rows;
    rows.Reset(2);
    rows.Add(1);
    rows.Add(2);
    EXPECT_FALSE(rows.decoded(0));
    EXPECT_TRUE(rows.included(0, 0) && rows.included(1, 1)) << "every row starts in every index";
    rows.set_decoded(1);
    rows.set_included(1, 0, false);
    rows.set_all_null(1, 0, true);
    EXPECT_TRUE(rows.decoded(1));
    EXPECT_FALSE(rows.decoded(0));
    EXPECT_FALSE(rows.included(1, 0));
    EXPECT_TRUE(rows.included(1, 1));
    EXPECT_TRUE(rows.all_null(1, 0));
    EXPECT_FALSE(rows.all_null(0, 0));
    // Counts 1, 2, then stays at 3; the flags beside it are untouched.
    EXPECT_EQ(rows.AddEntry(1, 0), 1u);
    EXPECT_EQ(rows.AddEntry(1, 0), 2u);
    for (int i = 0; i < 300; ++i) rows.AddEntry(1, 0);
    EXPECT_EQ(rows.entries(1, 0), 3u);
    EXPECT_EQ(rows.entries(1, 1), 0u);
    EXPECT_EQ(rows.entries(0, 0), 0u);
    EXPECT_FALSE(rows.included(1, 0));
    EXPECT_TRUE(rows.all_null(1, 0));
    rows.set_included(1, 0, true);
    EXPECT_EQ(rows.entries(1, 0), 3u);

    EXPECT_EQ(rows.alt_key(1, 1), nullptr);
    rows.SetAltKey(1, 1, {9, 8});
    ASSERT_NE(rows.alt_key(1, 1), nullptr);
    EXPECT_EQ(*rows.alt_key(1, 1), (Bytes{9, 8}));
    EXPECT_EQ(rows.alt_key(0, 1), nullptr);
}

// Every pointer is new once and only once, whether its page lies in the file, past it, or
// past it at first and in it once the file grew.
// The sums an index is first checked by: the entries the rows ask for, in any order, match;
// any entry lost, added, doubled, pointed at another row or given another key does not; and
// where the rows cannot say what the entries must be, there is nothing to match.
TEST(LiveRows, ExpectedEntriesMatchTheSameEntriesInAnyOrderAndNothingElse) {
    const uint32_t n = 300;
    auto fill = [&](LiveRows& rows) {
        rows.Reset(1);
        for (uint32_t r = 0; r < n; ++r) {
            const size_t slot = rows.Add(r << 8);
            rows.set_decoded(slot);
            rows.set_included(slot, 0, r % 10 != 3);    // an index that leaves some rows out
            rows.SetKey(slot, 0, KeyOf(r % 50, 0, 3));  // keys repeat across rows
        }
    };
    LiveRows rows;
    fill(rows);
    LiveRows::EntrySums expected;
    ASSERT_TRUE(rows.ExpectedEntries(0, expected));
    EXPECT_EQ(expected.count, n - n / 10);

    using Entry = std::pair<uint32_t, Bytes>;  // (location, key)
    std::vector<Entry> entries;
    for (uint32_t r = 0; r < n; ++r)
        if (r % 10 != 3) entries.emplace_back(r << 8, KeyOf(r % 50, 0, 3));
    auto sums_of = [](const std::vector<Entry>& es) {
        LiveRows::EntrySums s;
        for (const auto& [loc, key] : es) s.Add(loc, key);
        return s;
    };
    std::vector<Entry> shuffled = entries;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    EXPECT_EQ(sums_of(shuffled), expected);

    const std::vector<std::pair<const char*, std::function<void(std::vector<Entry>&)>>> faults = {
        {"an entry lost", [](auto& es) { es.pop_back(); }},
        {"an entry doubled", [](auto& es) { es.push_back(es.front()); }},
        {"an entry for a row left out", [](auto& es) { es.emplace_back(3 << 8, KeyOf(3, 0, 3)); }},
        {"an entry for no row", [](auto& es) { es.emplace_back(n << 8, KeyOf(0, 0, 3)); }},
        {"an entry on another row", [](auto& es) { es[5].first += 1u << 8; }},
        {"a key byte changed", [](auto& es) { es[5].second[2] ^= 1; }},
        {"a key cut short", [](auto& es) { es[5].second.pop_back(); }},
        {"two rows' keys swapped", [](auto& es) { std::swap(es[1].second, es[2].second); }},
    };
    for (const auto& [what, fault] : faults) {
        std::vector<Entry> es = entries;
        fault(es);
        EXPECT_FALSE(sums_of(es) == expected) << what;
    }

    // Rows that cannot say what the entries must be leave it to the entries one by one.
    LiveRows undecoded;
    fill(undecoded);
    undecoded.set_included(undecoded.Add(n << 8), 0, false);
    EXPECT_FALSE(undecoded.ExpectedEntries(0, expected)) << "a row that did not decode";
    LiveRows keyless;
    fill(keyless);
    keyless.set_decoded(keyless.Add(n << 8));
    EXPECT_FALSE(keyless.ExpectedEntries(0, expected)) << "an included row with no key";
    LiveRows ligature;
    fill(ligature);
    ligature.SetAltKey(n - 1, 0, KeyOf(1, 0, 4));
    EXPECT_FALSE(ligature.ExpectedEntries(0, expected)) << "a key by either ligature rule";
}

TEST(RowPointerSet, EachPointerIsNewOnce) {
    RowPointerSet set;
    std::set<uint32_t> seen;
    std::minstd_rand random(7);
    uint32_t pages = 50;
    for (int i = 0; i < 20000; ++i) {
        if (i % 5000 == 4999) pages += 100;
        const uint32_t pointer = static_cast<uint32_t>(random() % (400u << 8));
        EXPECT_EQ(set.Insert(pointer, pages), seen.insert(pointer).second) << pointer;
    }
}

}  // namespace
}  // namespace jet
