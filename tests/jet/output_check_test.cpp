// A rebuild checks its output while it writes it. That check must judge the output at least as
// strictly as the check of the whole finished file: whichever byte of whichever page is damaged
// on its way to the file, the compaction is refused whenever the finished file, checked whole
// afterwards and its rows read back, is found damaged or holding other rows; and it is refused
// otherwise only when a table definition holds something other than what was written (which
// the whole-file check cannot know).
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "jet/base/env.h"
#include "jet/base/error.h"
#include "jet/read/checker.h"
#include "jet/read/content_checksum.h"
#include "jet/read/table_reader.h"
#include "jet/rebuild/compact.h"
#include "jet/testing/sample.h"
#include "jet/write/index_builder.h"
#include "tests/support/files.h"
#include "tests/support/rebuild_compare.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Damages one byte of the output as the writer writes it, and keeps the output a failed
// rebuild would remove, so that it can be checked afterwards.
class DamagingEnv final : public EnvWrapper {
  public:
    DamagingEnv(Env* target, bool threads, uint64_t at, std::string kept)
        : EnvWrapper(target), threads_(threads), at_(at), kept_(std::move(kept)) {}
    bool AllowsThreads() const override { return threads_ && target()->AllowsThreads(); }

    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
        std::unique_ptr<File> file = EnvWrapper::Open(path, mode);
        if (!EndsWith(path, ".writing")) return file;
        return std::make_unique<DamagingFile>(std::move(file), at_);
    }
    void Remove(const std::string& path) override {
        if (EndsWith(path, ".writing") || EndsWith(path, ".rebuilding")) {
            EnvWrapper::Rename(path, kept_);
        } else {
            EnvWrapper::Remove(path);
        }
    }

  private:
    class DamagingFile final : public FileWrapper {
      public:
        DamagingFile(std::unique_ptr<File> file, uint64_t at)
            : FileWrapper(std::move(file)), at_(at) {}
        void WriteAt(uint64_t offset, const void* buffer, size_t n) override {
            if (at_ < offset || at_ >= offset + n) return FileWrapper::WriteAt(offset, buffer, n);
            Bytes copy(static_cast<const uint8_t*>(buffer),
                       static_cast<const uint8_t*>(buffer) + n);
            copy[at_ - offset] ^= 0x5A;
            FileWrapper::WriteAt(offset, copy.data(), n);
        }

      private:
        uint64_t at_;
    };

    bool threads_;
    uint64_t at_;
    std::string kept_;
};

// The rows of every table, system tables included, by name; nullopt when they cannot be read.
std::optional<std::map<std::string, ContentChecksum>> RowsOf(Env* env, const std::string& path) {
    try {
        std::unique_ptr<DatabaseView> view = DatabaseView::Open(env, path);
        std::map<std::string, ContentChecksum> rows;
        for (const std::string& name : view->TableNames(true)) {
            ContentChecksum& digest = rows[name];
            for (const Row& row : view->ReadRows(view->ReadTable(name))) digest.Add(row);
        }
        return rows;
    } catch (const JetError&) {
        return std::nullopt;
    }
}

// Whether the whole-file check passes `path` as a faithful copy of `source`.
bool SoundCopy(Env* env, const std::string& path, const std::string& source) {
    CheckOptions strict;
    strict.strict = true;
    if (!CheckFile(env, path, strict).clean()) return false;
    const auto rows = RowsOf(env, path);
    return rows && rows == RowsOf(env, source);
}

TEST(OutputCheck, RefusesEveryDamagedOutputTheWholeFileCheckWouldAndNoSoundOne) {
    Env* env = Env::Default();
    for (const Version version : {Version::kJet4, Version::kJet3}) {
        testkit::TempDir folder;
        const std::string source = folder / "source.mdb";
        SampleOptions sample;
        sample.version = version;
        sample.rows = 120;  // long values over several pages, indexes with two levels
        CreateSample(env, source, sample);
        const std::string clean = folder / "clean.mdb";
        CompactDatabase(env, source, clean);
        const uint64_t page_size = PageSize(version);
        const Bytes clean_bytes = testkit::ReadAll(clean);
        const uint64_t pages = clean_bytes.size() / page_size;
        size_t refused = 0, cases = 0;
        for (uint64_t page = 0; page < pages; ++page) {
            // Its first byte (the page's type), then bytes spread over the page; a table
            // definition, whose every field the rows depend on, gets many in its first part.
            const bool definition = page >= 2 && clean_bytes[page * page_size] == 0x02;
            const uint64_t spread = definition ? 48 : 6;
            const uint64_t span = definition ? 1024 : page_size;
            for (uint64_t n = 0; n <= spread; ++n) {
                const uint64_t within = n == 0 ? 0 : (n * span / (spread + 1) + page * 7) % span;
                const bool threads = (cases % 2) == 1;
                const std::string out = folder / "out.mdb";
                const std::string kept = folder / "kept.mdb";
                DamagingEnv damaging(env, threads, page * page_size + within, kept);
                std::string refusal;
                try {
                    CompactDatabase(&damaging, source, out);
                } catch (const JetError& e) {
                    refusal = e.what();
                    EXPECT_EQ(e.number(), kUnrecognizedFormat) << refusal;
                }
                const bool compacted = refusal.empty();
                const std::string result = compacted ? out : kept;
                ASSERT_TRUE(env->Stat(result).exists) << "page " << page;
                const bool sound = SoundCopy(env, result, source);
                const std::string where =
                    std::string(version == Version::kJet4 ? "Jet 4" : "Jet 3") + ", page " +
                    std::to_string(page) + " byte " + std::to_string(within) +
                    (threads ? ", checked on a thread" : "");
                EXPECT_TRUE(sound || !compacted) << where;
                // Refused while the whole-file check passes it: only for a definition that
                // holds other than what was written, which that check cannot know.
                if (sound && !compacted) {
                    EXPECT_TRUE(definition) << where << ": " << refusal;
                    EXPECT_NE(refusal.find("the stored definition differs"), std::string::npos)
                        << where << ": " << refusal;
                }
                refused += compacted ? 0 : 1;
                ++cases;
                env->Remove(result);
            }
        }
        // Much damage lands in free space, which nothing reads; the rest is found.
        EXPECT_GT(refused, cases / 3);
    }
}

// Keys carried from the source (a sort order the engine has no tables for) are compared with
// the source's own: one of them changed on its way to the file, in a way that keeps the index
// in order and equal values with equal keys (so that the whole-file check, which cannot
// compute such keys, passes it), still makes the compaction fail.
TEST(OutputCheck, RefusesACarriedKeyChangedOnItsWayToTheFile) {
    Env* env = Env::Default();
    for (const Version version : {Version::kJet4, Version::kJet3}) {
        testkit::TempDir folder;
        const std::string source = folder / "thai.mdb", clean = folder / "clean.mdb";
        testkit::CreateForeignSortOrderDatabase(source, version, 20);  // one leaf per index
        CompactDatabase(env, source, clean);
        // The last byte of the greatest key of the index on Nome: changing it keeps the order.
        uint64_t at = 0;
        {
            auto view = DatabaseView::Open(env, clean);
            const TableDef t = view->ReadTable("Pessoas");
            const uint32_t root = t.real_indexes.at(t.indexes.at(1).real_index).root_page;
            ASSERT_EQ(t.indexes.at(1).name, "Nome");
            const Bytes leaf = view->file().ReadPage(root);
            ASSERT_EQ(leaf[0], 0x04);  // a leaf: the index is one page
            const size_t used = IndexEntrySpace(version) - (leaf[2] | leaf[3] << 8);
            at = uint64_t{root} * PageSize(version) + IndexFirstEntry(version) + used - 5;
        }
        for (const bool threads : {false, true}) {
            const std::string out = folder / "out.mdb", kept = folder / "kept.mdb";
            DamagingEnv damaging(env, threads, at, kept);
            try {
                CompactDatabase(&damaging, source, out);
                ADD_FAILURE() << "a changed carried key was let through";
            } catch (const JetError& e) {
                EXPECT_NE(std::string(e.what()).find("[index key]"), std::string::npos) << e.what();
            }
            ASSERT_TRUE(env->Stat(kept).exists);
            EXPECT_TRUE(SoundCopy(env, kept, source));
            env->Remove(kept);
        }
    }
}

}  // namespace
}  // namespace jet
