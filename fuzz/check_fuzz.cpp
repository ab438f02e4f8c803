// libFuzzer target: open an arbitrary byte string as a database, read every table and run the
// checker over it. Any crash, hang, leak or undefined behaviour is a bug: damage must come out
// as a JetError or as findings. The file lives in memory behind a jet::Env.
//
// Build: CC=clang CXX=clang++ cmake -DCOMPACTADOR_FUZZ=ON -DCOMPACTADOR_SANITIZE=ON
//        -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link ...; seed with the corpus:
//        ./check_fuzz -max_len=1048576 CORPUS_COPY_DIR ../shared/corpus
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "jet/read/checker.h"
#include "jet/base/env.h"
#include "jet/base/error.h"
#include "jet/read/table_reader.h"

namespace {

class MemoryFile final : public jet::File {
public:
    MemoryFile(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() override { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
        if (offset >= size_) return 0;
        const size_t got = std::min<uint64_t>(n, size_ - offset);
        std::memcpy(buffer, data_ + offset, got);
        return got;
    }
    void WriteAt(uint64_t, const void*, size_t) override {
        throw jet::OsError(EROFS, "write", "fuzz.mdb");
    }
    void Truncate(uint64_t) override { throw jet::OsError(EROFS, "truncate", "fuzz.mdb"); }
    void Sync() override {}
    bool TryLock(uint64_t, uint64_t, bool) override { return true; }
    void Unlock(uint64_t, uint64_t) override {}
    bool IsLockedByOther(uint64_t, uint64_t) override { return false; }

private:
    const uint8_t* data_;
    size_t size_;
};

class MemoryEnv final : public jet::Env {
public:
    MemoryEnv(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    std::unique_ptr<jet::File> Open(const std::string& path, jet::OpenMode mode) override {
        if (path != kPath) throw jet::OsError(ENOENT, "open", path);
        if (mode != jet::OpenMode::kRead) throw jet::OsError(EROFS, "open", path);
        return std::make_unique<MemoryFile>(data_, size_);
    }
    jet::FileStatus Stat(const std::string& path) override {
        jet::FileStatus s;
        if (path == kPath) {
            s.exists = s.is_regular = true;
            s.size = size_;
        } else {
            s.exists = s.is_directory = true;  // the folder holding it
        }
        return s;
    }
    void Rename(const std::string& from, const std::string&) override {
        throw jet::OsError(EROFS, "rename", from);
    }
    void Remove(const std::string& path) override { throw jet::OsError(EROFS, "remove", path); }
    void SyncDirectory(const std::string&) override {}
    std::string HostName() override { return "fuzz"; }

    static constexpr const char* kPath = "/fuzz/fuzz.mdb";

private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryEnv env(data, size);
    try {
        jet::CheckOptions options;
        options.max_findings = 50;
        const jet::CheckReport report = jet::CheckFile(&env, MemoryEnv::kPath, options);
        (void)jet::FormatReport(report);
    } catch (const jet::JetError&) {
    }
    try {
        auto db = jet::DatabaseView::Open(&env, MemoryEnv::kPath);
        for (const std::string& name : db->TableNames(true)) {
            try {
                const jet::TableDef t = db->ReadTable(name);
                (void)db->ReadRows(t);
            } catch (const jet::JetError&) {
            }
        }
    } catch (const jet::JetError&) {
    }
    return 0;
}
