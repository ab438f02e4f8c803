// A repair whose reads of the file meet an error of the file system (an I/O error, a full
// disk, a refused read) stops with that error and leaves the file as it was. The salvaging read
// takes what it cannot read for damage, so such an error must never pass for damage: the rows
// of the pages it hit would be dropped from a "repaired" file that looks sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>

#include "jet/base/error.h"
#include "jet/rebuild/repair.h"
#include "jet/testing/fault_env.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/repair_sweep.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using jet::testkit::Snapshot;

// Table name -> its rows' images, sorted; tables whose rows hold object ids are left out.
std::map<std::string, std::vector<std::string>> Content(const std::string& path) {
    std::map<std::string, std::vector<std::string>> content;
    for (const auto& t : jet::testkit::TakeSnapshot(path).tables) {
        if (jet::testkit::HoldsObjectIds(t.name)) continue;
        auto& rows = content[t.name];
        for (const auto& r : t.rows) rows.push_back(r.image);
        std::sort(rows.begin(), rows.end());
    }
    return content;
}

// Page by page, so that the reads all along the repair are reached, and with the read-ahead of
// use; with the check of a sound file beside the salvaging read on a second thread, and one
// after the other.
TEST(RepairIo, AFailingReadOfTheFileStopsTheRepairAndNeverDropsRows) {
    for (const bool parallel : {false, true})
        for (const uint32_t read_ahead : {1u, jet::kScanReadAheadPages})
            for (const char* name : {jet::testkit::kSampleJet3, jet::testkit::kSampleJet4}) {
                SCOPED_TRACE(std::string(name) + ", read-ahead " + std::to_string(read_ahead) +
                             (parallel ? ", parallel reads" : ""));
                jet::RepairOptions options;
                options.read_ahead_pages = read_ahead;
                jet::testkit::TempDir dir;
                const std::string path = dir / name;
                ASSERT_TRUE(jet::testkit::PutTestFile(name, path));
                const auto before = jet::testkit::ReadAll(path);
                const std::string pristine = dir / "original.mdb";
                fs::copy_file(path, pristine);
                const auto content = Content(path);

                jet::FaultInjectingEnv env(jet::Env::Default());
                if (parallel) env.AllowThreads();
                {
                    const std::string other = dir / "contagem.mdb";
                    fs::copy_file(path, other);
                    jet::RepairDatabase(&env, other, options);
                }
                const uint64_t operations = env.operations();
                if (read_ahead == 1) {
                    ASSERT_GT(operations, 10u);
                }
                int failed = 0;
                // Every seventh operation, the error rotating: reads of the file all along the
                // repair.
                for (uint64_t nth = 1; nth <= operations; nth += 7) {
                    const int error = nth / 7 % 3 == 0 ? EIO : nth / 7 % 3 == 1 ? ENOSPC : EACCES;
                    env.Reset();
                    env.FailAt(nth, error);
                    try {
                        jet::RepairDatabase(&env, path, options);
                    } catch (const jet::JetError&) {
                        ++failed;
                        ASSERT_TRUE(jet::testkit::ReadAll(path) == before) << "operation " << nth;
                        continue;
                    }
                    ASSERT_TRUE(env.fired());
                    // The repair absorbed the failure: then it lost nothing.
                    ASSERT_EQ(Content(path), content) << "operation " << nth << " errno " << error;
                    fs::remove(path);
                    fs::copy_file(pristine, path);
                }
                EXPECT_GT(failed, 0);
            }
}

}  // namespace
