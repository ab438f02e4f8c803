// Damage injectors: put one kind of damage into a copy of a database on purpose, the way disks,
// crashes and buggy writers damage real files, so that repair (repair.h) and the checker can be
// tested against it. Used by the tests, the fuzz target and `jetutil damage`.
//
// Every injector is deterministic: the same file, kind, seed and target give the same bytes.
// The random choices (which page, which bytes, which variant) come from a small generator
// seeded by DamageOptions::seed, never from the clock. Pages are changed through the page file
// (so an RC4-encoded database is damaged in its clear content) except where the damage is
// physical (zeroed and torn pages, random bytes, a cut file), which hits the bytes on disk.
//
// Kinds and what they target (the `page` of DamageOptions, when given, picks the target;
// otherwise the seed picks one of DamageTargets()):
//   zeroed-page          any page: all its bytes zero
//   torn-page            any page: its first or its second half zero (a write cut short)
//   random-bytes         a data page of a table: a run of 1..64 random bytes anywhere in it
//   wrong-row-count      a table (its TDEF page): the stored row count changed
//   broken-usage-map     a table (its TDEF page) or page 1 (the global map): the owned-pages
//                        map row filled with garbage, given an unknown type, or its pointer in
//                        the definition sent nowhere
//   broken-index-page    an index page (0x03/0x04): random bytes over its header or entries
//   broken-memo-chain    an LVAL page: a link into one of its long-value rows broken (the
//                        previous piece's next pointer, or the row's long-value header) so the
//                        chain loops, ends early, or leads outside the file
//   truncated-file       a page P >= 2: the file is cut at P, sometimes mid-page
//   header-garbage       page 0: random bytes in fields that hold no essential information
//                        (the constant block at 0x18, reserved zeros, the Jet 4 0x98 block)
//   inconsistent-state   page 0: the commit words marked as if users were still writing
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/env.h"

namespace jet {

enum class DamageKind : uint8_t {
    kZeroedPage,
    kTornPage,
    kRandomBytes,
    kWrongRowCount,
    kBrokenUsageMap,
    kBrokenIndexPage,
    kBrokenMemoChain,
    kTruncatedFile,
    kHeaderGarbage,
    kInconsistentState,
};

// "zeroed-page", "torn-page", ... as listed above.
const char* DamageKindName(DamageKind kind);
std::optional<DamageKind> ParseDamageKind(std::string_view name);
const std::vector<DamageKind>& AllDamageKinds();

struct DamageOptions {
    uint64_t seed = 0;
    std::optional<uint32_t> page;  // the target (see above); nothing = chosen by the seed
    std::string password;          // of a protected database
};

struct DamageResult {
    // False when the file offers no target for this kind (no index, no long value kept out of
    // its row, a page that is not of the kind asked): the file is then unchanged.
    bool applied = false;
    std::vector<uint32_t> pages;  // pages whose bytes changed or were cut off, ascending
    std::string what;             // what was done, for logs
};

// The targets a kind can hit in this file, ascending (pages, or TDEF pages for the kinds that
// target a table). Errors: those of opening the file (3024, 3343 when page 0 is unreadable,
// 3031); the survey itself tolerates damage already present.
std::vector<uint32_t> DamageTargets(Env* env, const std::string& path, DamageKind kind,
                                    const std::string& password = {});

// Damages the file in place. Errors as DamageTargets, and those of writing.
DamageResult InjectDamage(Env* env, const std::string& path, DamageKind kind,
                          const DamageOptions& options = {});

}  // namespace jet
