// The index entry sorter against a plain sort of the same entries: keys that share their first
// 7 or 8 bytes, keys of every length around those, equal keys of different rows, zero bytes (the
// prefix's padding), keys that are prefixes of others, entries given in order, in reverse and
// shuffled, in memory and through sort runs.
#include "jet/write/external_sorter.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    for (const size_t budget : {size_t{0}, size_t{1} << 20}) {  // 0: the smallest, many runs
        for (const int arrangement : {0, 1, 2}) {               // shuffled, in order, reversed
            SCOPED_TRACE("budget " + std::to_string(budget) + ", arrangement " +
                         std::to_string(arrangement));
            std::vector<Entry> entries = Keys(random, 3000);
            std::vector<Entry> expected = entries;
            std::sort(expected.begin(), expected.end());
            if (arrangement == 1) entries = expected;
            if (arrangement == 2) entries.assign(expected.rbegin(), expected.rend());

            MemoryEnv env;
            std::vector<Entry> got;
            {
                ExternalSorter sorter(&env, MemoryEnv::kFolder + "/run", budget);
                for (const Entry& e : entries) sorter.Add(e.first, e.second);
                EXPECT_EQ(sorter.runs() > 0, budget == 0);
                sorter.Drain([&](const uint8_t* key, size_t size, uint32_t row) {
                    got.emplace_back(Bytes(key, key + size), row);
                });
            }
            EXPECT_TRUE(got == expected);
            EXPECT_TRUE(env.files.empty());  // the runs are gone with the sorter
        }
    }
}

}  // namespace
}  // namespace jet
