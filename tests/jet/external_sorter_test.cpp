// The index entry sorter against a plain sort of the same entries: keys that share their first
// 7 or 8 bytes, keys of every length around those, equal keys of different rows, zero bytes (the
// prefix's padding), keys that are prefixes of others, entries given in order, in reverse and
// shuffled, or shuffled keys on rows in order (as the writer adds them), in memory and through
// sort runs; several sorters drained in turn, each sorted by
// its drain or ahead of it (by the caller or on a second thread); a run of several megabytes.
#include "jet/write/external_sorter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <tuple>

#include "jet/testing/memory_env.h"

namespace jet {
namespace {

using Entry = std::pair<Bytes, uint32_t>;

std::vector<Entry> Keys(std::minstd_rand& random, size_t n) {
    // A few stems, so that many keys tie on their 8-byte prefix, with short tails of bytes
    // from {0, 1, 0xFF}, so that padding, prefixes and the high byte all meet.
    const std::vector<Bytes> stems = {{},
                                      {0},
                                      {0x41},
                                      {0x41, 0},
                                      {1, 2, 3, 4, 5, 6},
                                      {1, 2, 3, 4, 5, 6, 7},
                                      {1, 2, 3, 4, 5, 6, 7, 8},
                                      {1, 2, 3, 4, 5, 6, 7, 8, 9}};
    const uint8_t tail_bytes[] = {0, 1, 0xFF};
    std::vector<Entry> entries;
    for (size_t i = 0; i < n; ++i) {
        Bytes key = stems[random() % stems.size()];
        for (size_t t = random() % 4; t > 0; --t) key.push_back(tail_bytes[random() % 3]);
        entries.emplace_back(std::move(key), static_cast<uint32_t>(random() % 4096));
    }
    return entries;
}

TEST(ExternalSorter, GivesEveryEntryInKeyThenRowOrder) {
    std::minstd_rand random(30);
    constexpr size_t kSorters = 3;  // a table's indexes, drained one after another
    for (const size_t budget : {size_t{0}, size_t{1} << 20}) {  // 0: the smallest, many runs
        // shuffled, in order, reversed, shuffled keys of rows in order
        for (const int arrangement : {0, 1, 2, 3}) {
            // 0: each Drain sorts; 1: sorted ahead by the caller; 2: ahead, on a second thread
            for (const int ahead : {0, 1, 2}) {
                SCOPED_TRACE("budget " + std::to_string(budget) + ", arrangement " +
                             std::to_string(arrangement) + ", ahead " + std::to_string(ahead));
                MemoryEnv env;
                std::vector<std::vector<Entry>> expected(kSorters);
                std::vector<std::unique_ptr<ExternalSorter>> sorters;
                for (size_t s = 0; s < kSorters; ++s) {
                    std::vector<Entry> entries = Keys(random, 5000);
                    if (arrangement == 3)
                        for (size_t i = 0; i < entries.size(); ++i)
                            entries[i].second = static_cast<uint32_t>(2 * i + 1);
                    expected[s] = entries;
                    std::sort(expected[s].begin(), expected[s].end());
                    if (arrangement == 1) entries = expected[s];
                    if (arrangement == 2) entries.assign(expected[s].rbegin(), expected[s].rend());
                    sorters.push_back(std::make_unique<ExternalSorter>(
                        &env, MemoryEnv::kFolder + "/run" + std::to_string(s) + "-", budget));
                    for (const Entry& e : entries) sorters[s]->Add(e.first, e.second);
                    EXPECT_EQ(sorters[s]->runs() > 0, budget == 0);
                }
                {
                    std::unique_ptr<SortAhead> sort_ahead;
                    if (ahead > 0) sort_ahead = std::make_unique<SortAhead>(sorters, ahead == 2);
                    for (size_t s = 0; s < kSorters; ++s) {
                        if (sort_ahead) sort_ahead->Ready(s);
                        std::vector<Entry> got;
                        sorters[s]->Drain([&](const uint8_t* key, size_t size, uint32_t row) {
                            got.emplace_back(Bytes(key, key + size), row);
                        });
                        EXPECT_TRUE(got == expected[s]) << "sorter " << s;
                    }
                }
                sorters.clear();
                EXPECT_TRUE(env.files.empty());  // the runs are gone with the sorters
            }
        }
    }
}

// A buffer of megabytes: it grows at once to what the budget allows, and its run is written in
// several pieces, which must read back as one.
TEST(ExternalSorter, ARunOfSeveralPiecesReadsBackWhole) {
    std::minstd_rand random(31);
    MemoryEnv env;
    std::vector<Entry> entries = Keys(random, 500000);
    ExternalSorter sorter(&env, MemoryEnv::kFolder + "/run-", 12u << 20);
    for (const Entry& e : entries) sorter.Add(e.first, e.second);
    ASSERT_EQ(sorter.runs(), 1u);
    ASSERT_GT(env.files.begin()->second->size(), size_t{4} << 20);  // more than one piece
    std::sort(entries.begin(), entries.end());
    size_t at = 0;
    bool same = true;
    sorter.Drain([&](const uint8_t* key, size_t size, uint32_t row) {
        same = same && at < entries.size() && entries[at].second == row &&
               std::equal(key, key + size, entries[at].first.begin(), entries[at].first.end());
        ++at;
    });
    EXPECT_TRUE(same);
    EXPECT_EQ(at, entries.size());
}

}  // namespace
}  // namespace jet
