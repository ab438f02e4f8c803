// libFuzzer target for the one write in place: the client system's flag update. A patch
// program (fuzz_support.h) damages one of the bases, which is opened read/write in memory once,
// and `UPDATE tavo SET bloqueado = ...` is run (lock, then release). (Only whole numbers, True
// and False can be assigned, so no text column is set: such a statement fails in the parser.)
// Every row of the bases is unlocked, so the release gives back the file the lock was run on.
// Whatever the input:
//   - nothing crashes, hangs, leaks or meets undefined behaviour; failures are JetErrors;
//   - every page the update writes was, before it, a data page of the updated table: it never
//     writes over any other page (a sound one included);
//   - a database the checker finds clean before is still clean after the release, unless the
//     release gave back the file byte for byte;
//   - and still clean while locked, for one input in four (by a fingerprint of its bytes):
//     the checker is the slow part of an execution, and the update's own code is what this
//     target is for.
//
// Build and run: scripts/fuzz_short.sh (every target) or, for this one,
//   FUZZ_TARGETS=update_fuzz scripts/fuzz_short.sh 600
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "fuzz/fuzz_support.h"
#include "jet/base/bytes.h"
#include "jet/base/error.h"
#include "jet/database/database.h"
#include "jet/format/mdb_file.h"
#include "jet/read/checker.h"
#include "jet/read/content_checksum.h"
#include "jet/read/table_reader.h"

namespace {

const std::string& kPath = fuzz::kDatabasePath;

[[noreturn]] void Fail(const std::string& what) {
    fuzz::Bug("update_fuzz", what);
}

bool Clean(fuzz::MemoryEnv& env, const fuzz::Base& base) {
    try {
        jet::CheckOptions options;
        options.max_findings = 1;
        options.stop_at_first_error = true;  // the verdict is all that is asked
        auto file = jet::MdbFile::Open(&env, kPath, fuzz::WholeFileOpen(base));
        return jet::CheckDatabase(*file, options).clean();
    } catch (const std::exception&) {
        return false;
    }
}

// Fails when the update made a database the checker finds clean into one it does not: `env`'s
// file is checked only when it is no longer `before`, and `before` only when it is not clean.
void CheckKeptClean(fuzz::MemoryEnv& env, const fuzz::Blob& before, const fuzz::Base& base,
                    const char* state) {
    const auto now = env.files.find(kPath);
    const bool changed = now == env.files.end() || *now->second != before;
    if (!changed || Clean(env, base)) return;
    fuzz::MemoryEnv original;
    original.files[kPath] = std::make_shared<fuzz::Blob>(before);
    if (Clean(original, base))
        Fail(std::string("a clean database is damaged by the update (") + state + ")");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const fuzz::Base* base = nullptr;
    // The buffers are kept from one input to the next: no execution allocates a file's worth.
    static fuzz::Blob before;
    static const auto updated = std::make_shared<fuzz::Blob>();
    fuzz::ApplyPatches(in, &base, before);
    updated->assign(before.begin(), before.end());
    fuzz::MemoryEnv env;
    env.files[kPath] = updated;
    const std::string& password = base->password;

    // One open serves both statements, as one session of the client runs its updates;
    // each statement reads the table and plans its rows from the file again.
    std::unique_ptr<jet::Database> db;
    try {
        jet::DatabaseOptions options;
        options.password = password;
        db = jet::Database::Open(&env, kPath, options);
    } catch (const jet::JetError&) {
    }

    // The pages the update may write: the table's data pages, in clear. While the header
    // still gives the base's page size and key, they are taken as made, not read through the
    // engine, which would decode every page of an encoded file once more.
    std::set<uint64_t> allowed;
    uint32_t page_size = 0;
    if (db) {
        try {
            jet::MdbFile& file = db->view().file();
            page_size = file.page_size();
            const bool as_made =
                page_size == base->page_size && file.header().encryption_key == base->page_key;
            const uint32_t tdef = db->view().ReadTable("tavo").tdef_page;
            static jet::Bytes scratch;
            for (uint32_t n = 1; n < file.page_count(); ++n) {
                jet::ByteSpan page;
                if (as_made) {
                    page = fuzz::ClearPage(*base, before, n, scratch);
                } else {
                    file.ReadPage(n, scratch);
                    page = scratch;
                }
                if (page.empty()) break;
                // A data page of the table as the engine knows one: its type byte and its
                // owner (the byte after the type is not checked by any reader).
                if (page[0] == 0x01 && jet::U32(page, 4) == tdef) allowed.insert(n);
            }
        } catch (const std::exception&) {
            page_size = 0;
            allowed.clear();
        }
    }

    const char* const lock_then_release[] = {"update tavo set bloqueado = -1",
                                             "UPDATE [tavo] SET [tavo].[bloqueado] = False"};
    const bool check_locked = jet::BytesFingerprint(data, size) % 4 == 0;
    for (const char* sql : lock_then_release) {
        if (!db) break;
        if (sql == lock_then_release[1] && check_locked)
            CheckKeptClean(env, before, *base, "locked");
        env.writes.clear();
        try {
            db->Execute(sql);
        } catch (const jet::JetError&) {
        }
        for (const auto& w : env.writes) {
            if (w.path != kPath) continue;
            if (page_size == 0) Fail("wrote to a database whose table cannot be read");
            for (uint64_t page = w.offset / page_size; page * page_size < w.offset + w.length;
                 ++page) {
                if (!allowed.count(page))
                    Fail("wrote over page " + std::to_string(page) +
                         ", not a data page of the table");
            }
        }
    }
    if (db) {
        try {
            db->Close();
        } catch (const jet::JetError&) {
        }
    }
    CheckKeptClean(env, before, *base, "released");
    return 0;
}
