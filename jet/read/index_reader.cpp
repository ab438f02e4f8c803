// Index tree walker; the tree shape and the guarantees are described in index_reader.h.
#include "jet/read/index_reader.h"

#include <deque>
#include <unordered_set>
#include <utility>
#include <vector>

#include "jet/base/error.h"
#include "jet/keys/index_key.h"

namespace jet {
namespace {

class Walker {
  public:
    Walker(Version version, const PageViewer& view, const IndexWalkOptions& options,
           const IndexEntryVisitor& visit)
        : version_(version), view_(view), options_(options), visit_(visit) {}

    IndexWalkResult Run(uint32_t root) {
        Visit(root, 0, 0);
        if (options_.check_structure) CheckLevelLinks();
        return std::move(result_);
    }

  private:
    void Problem(uint32_t page, std::string what) {
        result_.problems.push_back({page, std::move(what)});
    }

    // Visits page `number` at `depth`; `parent` is 0 for the root.
    void Visit(uint32_t number, uint32_t depth, uint32_t parent) {
        // Said only with a problem: built for every page it would cost an allocation each.
        const auto from = [parent]() -> std::string {
            return parent ? " (child of page " + std::to_string(parent) + ")" : "";
        };
        if (number == 0 || (options_.page_count != 0 && number >= options_.page_count)) {
            Problem(parent,
                    "index page number " + std::to_string(number) + " is out of range" + from());
            return;
        }
        if (depth > options_.max_depth) {
            Problem(number, "index tree deeper than " + std::to_string(options_.max_depth));
            return;
        }
        if (!FirstVisit(number)) {
            Problem(number, "index page reached twice (a cycle or a shared child)" + from());
            return;
        }
        // One decoded page per level, its buffers reused by the next page of the level; a
        // deque, so that the pages above stay where they are as a deeper level is added.
        if (by_depth_.size() <= depth) by_depth_.resize(depth + 1);
        PackedIndexPage& packed = by_depth_[depth];
        try {
            // Decoded before the children are read, so one buffer serves the whole walk.
            DecodeIndexPageTo(version_, view_(number, scratch_), packed);
        } catch (const JetError& e) {
            Problem(number, std::string(e.what()) + from());
            return;
        }
        const IndexPage& page = packed.header;
        result_.pages.push_back(number);
        if (levels_.size() <= depth) levels_.resize(depth + 1);
        levels_[depth].push_back({number, page.prev_page, page.next_page});
        if (options_.owner != 0 && page.owner != options_.owner) {
            Problem(number, "index page belongs to table " + std::to_string(page.owner) +
                                ", expected " + std::to_string(options_.owner));
        }
        if (page.leaf()) {
            result_.leaf_pages.push_back(number);
            if (page.tail_page != 0 && options_.check_structure) {
                Problem(number, "leaf page has a tail page");
            }
            for (const PackedIndexEntry& p : packed.entries) {
                Unpack(packed, p, entry_);
                Yield(number);
            }
            return;
        }
        if (page.tail_page == 0) {
            Problem(number, "intermediate page has no tail page");
        }
        for (const PackedIndexEntry& p : packed.entries) {
            Visit(p.child_page, depth + 1, number);
            // Everything in the child's subtree is at most the separator.
            if (options_.check_structure && has_last_) {
                Unpack(packed, p, entry_);
                const IndexEntry& e = entry_;
                if (CompareIndexEntries(last_.key, last_.data_page, last_.data_row, e.key,
                                        e.data_page, e.data_row) > 0) {
                    Problem(number,
                            "intermediate entry is smaller than the last entry of its child");
                }
            }
        }
        if (page.tail_page != 0) Visit(page.tail_page, depth + 1, number);
    }

    // Whether page `number` is visited for the first time. With the file's size known, a bit
    // per page: one allocation for the walk instead of one per page.
    bool FirstVisit(uint32_t number) {
        if (options_.page_count == 0) return seen_.insert(number).second;
        if (seen_pages_.empty()) seen_pages_.assign(options_.page_count, false);
        if (seen_pages_[number]) return false;
        seen_pages_[number] = true;
        return true;
    }

    static void Unpack(const PackedIndexPage& page, const PackedIndexEntry& p, IndexEntry& e) {
        const ByteSpan key = page.key(p);
        e.key.assign(key.begin(), key.end());
        e.data_page = p.data_page;
        e.data_row = p.data_row;
        e.child_page = p.child_page;
    }

    // Yields entry_, then keeps it as the last entry (the two swap their buffers).
    void Yield(uint32_t leaf) {
        const IndexEntry& e = entry_;
        if (has_last_ && CompareIndexEntries(last_.key, last_.data_page, last_.data_row, e.key,
                                             e.data_page, e.data_row) >= 0) {
            Problem(leaf, "index entries out of order");
        }
        has_last_ = true;
        ++result_.entry_count;
        if (visit_) visit_(e, leaf);
        std::swap(last_, entry_);
    }

    // Pages of one level, in visiting (= key) order, must link to their neighbours.
    void CheckLevelLinks() {
        for (const auto& level : levels_) {
            for (size_t i = 0; i < level.size(); ++i) {
                const uint32_t want_prev = i == 0 ? 0 : level[i - 1].number;
                const uint32_t want_next = i + 1 == level.size() ? 0 : level[i + 1].number;
                if (level[i].prev != want_prev) {
                    Problem(level[i].number, "previous-page link is " +
                                                 std::to_string(level[i].prev) + ", expected " +
                                                 std::to_string(want_prev));
                }
                if (level[i].next != want_next) {
                    Problem(level[i].number, "next-page link is " + std::to_string(level[i].next) +
                                                 ", expected " + std::to_string(want_next));
                }
            }
        }
    }

    struct LevelPage {
        uint32_t number, prev, next;
    };

    Version version_;
    const PageViewer& view_;
    Bytes scratch_;
    const IndexWalkOptions& options_;
    const IndexEntryVisitor& visit_;
    IndexWalkResult result_;
    std::unordered_set<uint32_t> seen_;  // when the page count is not known
    std::vector<bool> seen_pages_;       // by page, when it is
    std::vector<std::vector<LevelPage>> levels_;
    std::deque<PackedIndexPage> by_depth_;
    IndexEntry entry_;  // the entry being looked at, its buffer reused
    IndexEntry last_;
    bool has_last_ = false;
};

}  // namespace

IndexWalkResult WalkIndex(Version version, const PageViewer& view, uint32_t root,
                          const IndexWalkOptions& options, const IndexEntryVisitor& visit) {
    return Walker(version, view, options, visit).Run(root);
}

IndexWalkResult WalkIndex(Version version, const PageFetcher& fetch, uint32_t root,
                          const IndexWalkOptions& options, const IndexEntryVisitor& visit) {
    const PageViewer view = [&fetch](uint32_t page, Bytes& scratch) -> ByteSpan {
        scratch = fetch(page);
        return scratch;
    };
    return WalkIndex(version, view, root, options, visit);
}

std::vector<IndexEntry> ReadIndexEntries(Version version, const PageFetcher& fetch, uint32_t root,
                                         const IndexWalkOptions& options) {
    std::vector<IndexEntry> entries;
    const IndexWalkResult r =
        WalkIndex(version, fetch, root, options,
                  [&](const IndexEntry& e, uint32_t) { entries.push_back(e); });
    if (!r.ok()) {
        RaiseWithDetail(
            kUnrecognizedFormat, "",
            "index at page " + std::to_string(r.problems[0].page) + ": " + r.problems[0].what);
    }
    return entries;
}

}  // namespace jet
