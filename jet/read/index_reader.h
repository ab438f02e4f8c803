// Walking an index B-tree from its root, yielding the leaf entries in key order.
//
// Tree shape (docs/format.md 9.5): an intermediate page with n entries has n + 1 children,
// each entry's child page (whose greatest entry is at most the entry itself) plus the page's
// tail page (everything greater than its last entry). Leaf pages hold the entries that point to
// rows. Pages of one level are doubly linked through prev/next in key order.
//
// The walker trusts nothing: every page number is range-checked, a page reached twice (a cycle
// or two parents) is reported and not entered again, depth is bounded, so a damaged tree yields
// problems, never a hang or a crash. It reports what it finds and keeps going where it can; the
// checker turns the problems into findings, readers that want all-or-nothing use
// ReadIndexEntries.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/base/value.h"
#include "jet/format/index_page.h"
#include "jet/format/schema.h"

namespace jet {

// Fetches one page's bytes (decrypted). May throw JetError for pages it cannot read.
using PageFetcher = std::function<Bytes(uint32_t page)>;
// Same, as a view: of the page's bytes where the reader holds them, else read into `scratch`;
// valid until the next call (MdbFile::ViewPage).
using PageViewer = std::function<ByteSpan(uint32_t page, Bytes& scratch)>;

struct IndexWalkProblem {
    uint32_t page = 0;  // index page where it was found (0 = the definition)
    std::string what;
};

struct IndexWalkResult {
    uint64_t entry_count = 0;
    std::vector<uint32_t> pages;  // every index page reached, in visiting order
    std::vector<uint32_t> leaf_pages;
    std::vector<IndexWalkProblem> problems;
    bool ok() const { return problems.empty(); }
};

struct IndexWalkOptions {
    uint32_t page_count = 0;  // pages in the file; page numbers at or past it are damage
    uint32_t owner = 0;       // TDEF page the index pages must name; 0 = do not check
    uint32_t max_depth = 32;  // deeper trees are damage (Jet's are a handful of levels)
    // Intermediate entries must bound their subtrees and leaves must be linked in order.
    bool check_structure = true;
};

// Called for each leaf entry in tree order, with the leaf page that holds it.
using IndexEntryVisitor = std::function<void(const IndexEntry& entry, uint32_t leaf_page)>;

// Walks the tree rooted at `root`. Entries out of order are reported as problems but still
// yielded.
IndexWalkResult WalkIndex(Version version, const PageFetcher& fetch, uint32_t root,
                          const IndexWalkOptions& options, const IndexEntryVisitor& visit);
IndexWalkResult WalkIndex(Version version, const PageViewer& view, uint32_t root,
                          const IndexWalkOptions& options, const IndexEntryVisitor& visit);

// All leaf entries of the tree in order. Throws JetError 3343 describing the first problem.
std::vector<IndexEntry> ReadIndexEntries(Version version, const PageFetcher& fetch, uint32_t root,
                                         const IndexWalkOptions& options);

}  // namespace jet
