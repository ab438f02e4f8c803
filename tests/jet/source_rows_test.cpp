// The rows of a source read ahead on a thread of their own come over whole and in order, the
// reading thread runs no further ahead than its batches allow, and a failure on either side
// stops both where it happened.
#include "jet/rebuild/source_rows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>

namespace jet {
namespace {

// Tables of `rows_per_table` rows of one text value each ("table:row", padded to `width`),
// failing with a runtime_error before the row `fail_at` (counted over every table) when set.
class CountingSource final : public DatabaseSource {
  public:
    CountingSource(size_t tables, uint64_t rows_per_table, size_t width, uint64_t fail_at)
        : rows_per_table_(rows_per_table), width_(width), fail_at_(fail_at) {
        for (size_t t = 0; t < tables; ++t) {
            SourceTable table;
            table.id = static_cast<uint32_t>(t + 2);
            table.name = "t" + std::to_string(t);
            table.pages = 1;
            tables_.push_back(table);
        }
    }
    const std::string& path() const override { return path_; }
    const DatabaseHeader& header() const override { return header_; }
    uint32_t page_count() const override { return 0; }
    const std::vector<SourceTable>& tables() const override { return tables_; }
    void ReadRows(size_t index, const RowVisitor& visit, const PagesDone& pages_done) override {
        Row row;
        for (uint64_t r = 0; r < rows_per_table_; ++r) {
            if (fail_at_ != 0 && produced_ + 1 == fail_at_) throw std::runtime_error("damage");
            std::string text = std::to_string(index) + ":" + std::to_string(r);
            text.resize(width_, ' ');
            row.assign(1, std::u16string(text.begin(), text.end()));
            ++produced_;
            visit(row);
        }
        pages_done(1);
    }
    std::atomic<uint64_t> produced_{0};

  private:
    uint64_t rows_per_table_;
    size_t width_;
    uint64_t fail_at_;
    std::string path_ = "counting";
    DatabaseHeader header_;
    std::vector<SourceTable> tables_;
};

TEST(SourceRows, RowsComeWholeInOrderAndTheReaderStaysWithinItsBatches) {
    struct Case {
        size_t tables;
        uint64_t rows;
        size_t width;         // bytes of text per row, times two in memory
        uint64_t fail_at;     // a row the source fails before (0: none)
        uint64_t stop_after;  // the rows the taker takes before it throws (0: all)
    };
    const Case cases[] = {
        {3, 0, 8, 0, 0},        // empty tables
        {4, 1000, 8, 0, 0},     // many small rows: batches full by count
        {2, 30, 200000, 0, 0},  // large rows: batches full by bytes
        {3, 1000, 8, 1500, 0},  // the source fails in the second table
        {3, 1000, 8, 0, 700},   // the taker stops in the first table
        {1, 5000, 8, 0, 4999},  // ... at the last row
    };
    for (const bool read_ahead : {false, true})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.tables) + " tables of " + std::to_string(c.rows) +
                         " rows, fail at " + std::to_string(c.fail_at) + ", stop after " +
                         std::to_string(c.stop_after) + (read_ahead ? ", read ahead" : ""));
            CountingSource source(c.tables, c.rows, c.width, c.fail_at);
            uint64_t prepared = 0, taken = 0, pages = 0;
            // Rows held between the source and the taker: a whole batch per batch, or for large
            // rows as many as fit in a batch's bytes, plus the one the source is on.
            const uint64_t row_bytes = sizeof(Value) + 2 * c.width;
            const uint64_t per_batch =
                std::min<uint64_t>(SourceRows::kBatchRows, SourceRows::kBatchBytes / row_bytes + 1);
            const uint64_t ahead = SourceRows::kBatches * per_batch + 1;
            std::string error;
            {
                SourceRows rows(source, read_ahead, [&](size_t, Row& row) {
                    row.push_back(int64_t{1});  // seen by the taker
                    ++prepared;
                });
                try {
                    for (size_t t = 0; t < c.tables; ++t) {
                        uint64_t next = 0;
                        rows.ReadRows(
                            t,
                            [&](Row& row) {
                                if (c.stop_after != 0 && taken == c.stop_after)
                                    throw std::runtime_error("stopped");
                                ASSERT_EQ(row.size(), 2u);
                                std::string text = std::to_string(t) + ":" + std::to_string(next);
                                text.resize(c.width, ' ');
                                ASSERT_EQ(std::get<std::u16string>(row[0]),
                                          std::u16string(text.begin(), text.end()));
                                ++next;
                                ++taken;
                                ASSERT_LE(source.produced_.load(), taken + ahead);
                            },
                            [&](uint32_t n) { pages += n; });
                        EXPECT_EQ(next, c.rows);
                    }
                } catch (const std::runtime_error& e) {
                    error = e.what();
                }
            }
            if (c.fail_at != 0) {
                EXPECT_EQ(error, "damage");
                EXPECT_EQ(taken, c.fail_at - 1);  // every row before the failure
            } else if (c.stop_after != 0) {
                EXPECT_EQ(error, "stopped");
                EXPECT_EQ(taken, c.stop_after);
                EXPECT_LE(source.produced_.load(), taken + ahead);  // the reader stopped too
            } else {
                EXPECT_EQ(error, "");
                EXPECT_EQ(taken, c.tables * c.rows);
                EXPECT_EQ(prepared, taken);
                EXPECT_EQ(pages, c.tables);
            }
        }
}

}  // namespace
}  // namespace jet
