#include "jet/format/mdb_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <numeric>
#include <random>

#include "jet/base/error.h"
#include "jet/read/table_reader.h"
#include "jet/testing/fault_env.h"
#include "tests/support/corpus.h"
#include "tests/support/files.h"
#include "tests/support/synthetic_file.h"
#include "tests/support/temp_dir.h"

namespace jet {
namespace {

using jet::testkit::TempDir;
namespace fs = std::filesystem;

int OpenError(Env* env, const std::string& path, const OpenOptions& options = {}) {
    try {
        MdbFile::Open(env, path, options);
    } catch (const JetError& e) {
        return e.number();
    }
    return 0;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// A test file (corpus.h) in `dir`; empty when the corpus lacks it.
std::string TestFile(const TempDir& dir, const std::string& name) {
    const std::string path = dir / name;
    return testkit::PutTestFile(name, path) ? path : "";
}

TEST(MdbFile, OpenErrorsCarryJetNumbers) {
    TempDir dir;
    Env* env = Env::Default();
    EXPECT_EQ(OpenError(env, dir / "missing.mdb"), kFileNotFound);
    EXPECT_EQ(OpenError(env, dir / "no_folder/x.mdb"), kNotValidPath);
    EXPECT_EQ(OpenError(env, dir.path().string()), kNotValidPath);
    // Not Jet: text, too short, an empty file, ACE.
    WriteBytes(dir / "text.mdb", Bytes(8192, 'x'));
    EXPECT_EQ(OpenError(env, dir / "text.mdb"), kUnrecognizedFormat);
    WriteBytes(dir / "empty.mdb", {});
    EXPECT_EQ(OpenError(env, dir / "empty.mdb"), kUnrecognizedFormat);
    const Bytes real = jet::testkit::ReadAll(TestFile(dir, testkit::kSampleJet4));
    WriteBytes(dir / "short.mdb", Bytes(real.begin(), real.begin() + 1000));
    EXPECT_EQ(OpenError(env, dir / "short.mdb"), kUnrecognizedFormat);
    Bytes ace = real;
    ace[0x14] = 2;
    WriteBytes(dir / "ace.mdb", ace);
    EXPECT_EQ(OpenError(env, dir / "ace.mdb"), kUnrecognizedFormat);
    // Permission and a full disk, injected at the open.
    WriteBytes(dir / "ok.mdb", real);
    FaultInjectingEnv faults(env);
    faults.FailFrom(1, EACCES);
    EXPECT_EQ(OpenError(&faults, dir / "ok.mdb"), kCannotOpenFile);
    faults.Reset();
    faults.FailFrom(2, ENOSPC);
    EXPECT_EQ(OpenError(&faults, dir / "ok.mdb"), kDiskFull);
    EXPECT_EQ(OpenError(env, dir / "ok.mdb"), 0);
}

// As the engine writes the password, and as Access did (the corpus file, when present).
TEST(MdbFile, PasswordIsCheckedAgainstTheHeader) {
    TempDir dir;
    for (const char* name : {testkit::kSampleWithPassword, "mdbreader-V2003_with-password.mdb"}) {
        SCOPED_TRACE(name);
        const std::string path = TestFile(dir, name);
        if (path.empty()) continue;
        EXPECT_EQ(OpenError(Env::Default(), path), kNotValidPassword);
        EXPECT_EQ(OpenError(Env::Default(), path, {"Password", false}), kNotValidPassword);
        auto file = MdbFile::Open(Env::Default(), path, {"password", false});
        EXPECT_EQ(file->header().password, u"password");
        EXPECT_EQ(file->version(), Version::kJet4);
    }
}

TEST(MdbFile, TruncatedFileKeepsItsWholePagesReadable) {
    TempDir dir;
    const std::string source = TestFile(dir, testkit::kSampleJet3);
    const Bytes real = jet::testkit::ReadAll(source);
    auto full = DatabaseView::Open(Env::Default(), source);
    const uint32_t pages = full->file().page_count();
    // Cut the file in the middle of its last page.
    WriteBytes(dir / "cut.mdb", Bytes(real.begin(), real.end() - 1000));
    auto cut = MdbFile::Open(Env::Default(), dir / "cut.mdb");
    EXPECT_EQ(cut->page_count(), pages - 1);
    EXPECT_NO_THROW(cut->ReadPage(pages - 2));
    try {
        cut->ReadPage(pages - 1);
        ADD_FAILURE() << "read past the end";
    } catch (const JetError& e) {
        EXPECT_EQ(e.number(), kUnrecognizedFormat);
    }
    EXPECT_THROW(cut->ReadPage(UINT32_MAX), JetError);
}

// Whatever order the pages are asked in and however many a read fetches, a page served from
// the read-ahead is the page read alone: also past a chunk that the file's end cuts short.
TEST(MdbFile, ReadAheadServesEachPageAsItsOwnReadInAnyOrder) {
    TempDir dir;
    for (const char* name : {testkit::kSampleJet3, testkit::kSampleJet4}) {
        const std::string source = TestFile(dir, name);
        const Bytes real = jet::testkit::ReadAll(source);
        WriteBytes(dir / "cut.mdb", Bytes(real.begin(), real.end() - 1000));
        for (const std::string& path : {source, dir / "cut.mdb"}) {
            auto alone = MdbFile::Open(Env::Default(), path);
            std::vector<uint32_t> order(alone->page_count());
            std::iota(order.begin(), order.end(), 0u);
            std::shuffle(order.begin(), order.end(), std::mt19937(7));
            for (const uint32_t read_ahead : {2u, 5u, kScanReadAheadPages}) {
                SCOPED_TRACE(path + ", read-ahead " + std::to_string(read_ahead));
                OpenOptions options;
                options.read_ahead_pages = read_ahead;
                auto ahead = MdbFile::Open(Env::Default(), path, options);
                Bytes scratch, page;
                for (size_t i = 0; i < order.size(); ++i) {
                    const uint32_t n = order[i];
                    const Bytes expected = alone->ReadPage(n);
                    if (i % 2 == 0) {
                        const ByteSpan view = ahead->ViewPage(n, scratch);
                        EXPECT_TRUE(
                            std::equal(view.begin(), view.end(), expected.begin(), expected.end()))
                            << "page " << n;
                    } else {
                        ahead->ReadPage(n, page);
                        EXPECT_EQ(page, expected) << "page " << n;
                    }
                }
            }
        }
    }
}

TEST(MdbFile, EncryptedPagesRoundTrip) {
    // Re-encode a file in clear with a page key: every page goes through WritePage, and reading
    // it back must give the same tables.
    TempDir dir;
    const std::string source = TestFile(dir, testkit::kSampleJet4);
    fs::copy_file(source, dir / "enc.mdb");
    {
        auto plain = MdbFile::Open(Env::Default(), source);
        DatabaseHeader h = plain->header();
        h.encryption_key = 0x6B39DAC7;
        WriteBytes(dir / "enc.mdb", EncodeHeader(h));
        auto enc = MdbFile::Open(Env::Default(), dir / "enc.mdb", {"", true});
        ASSERT_TRUE(enc->encrypted());
        for (uint32_t n = 1; n < plain->page_count(); ++n) enc->WritePage(n, plain->ReadPage(n));
        EXPECT_NE(jet::testkit::ReadAll(dir / "enc.mdb"), jet::testkit::ReadAll(source));
    }
    auto a = DatabaseView::Open(Env::Default(), source);
    auto b = DatabaseView::Open(Env::Default(), dir / "enc.mdb");
    const TableDef ta = a->ReadTable("pedidos");
    const TableDef tb = b->ReadTable("PEDIDOS");
    EXPECT_EQ(a->ReadRows(ta), b->ReadRows(tb));
    EXPECT_EQ(b->file().ReadPage(3), a->file().ReadPage(3));
    // A file opened for reading refuses writes.
    EXPECT_THROW(a->file().WritePage(3, a->file().ReadPage(3)), JetError);
}

}  // namespace
}  // namespace jet
