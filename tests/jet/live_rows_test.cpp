// The checker's per-table row store: keys kept exactly (across the buffer's chunk
// boundaries), lookups by location in and out of reading order, flags and entry counts; and its
// set of the long-value rows in use.
#include "jet/read/live_rows.h"

#include "jet/read/checker_impl.h"

#include <gtest/gtest.h>
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
