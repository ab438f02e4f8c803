// libFuzzer target for the read side: a database given as bytes is opened, its catalog listed,
// every table (system ones too) read row by row in both scan modes, and every usage map a
// definition names (table, index and long-value maps, the global map) decoded. Any input must
// end in rows or a JetError: never a crash, a hang, a leak or undefined behaviour. (check_fuzz
// covers the checker.)
//
// Build: CC=clang CXX=clang++ cmake -DCOMPACTADOR_FUZZ=ON -DCOMPACTADOR_SANITIZE=ON
//        -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link ...; run seeded with the corpus:
//        ./open_read_fuzz -max_len=400000 -timeout=20 FUZZ_DIR /path/to/corpus
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "jet/base/error.h"
#include "jet/format/header.h"
#include "jet/read/table_reader.h"
#include "jet/format/text_codec.h"
#include "jet/format/usage_map.h"

namespace {

constexpr char kPath[] = "/fuzz/input.mdb";

// One read-only file in memory.
class MemoryFile final : public jet::File {
  public:
    MemoryFile(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint64_t Size() override { return size_; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
        if (offset >= size_) return 0;
        const size_t count = std::min<uint64_t>(n, size_ - offset);
        std::memcpy(buffer, data_ + offset, count);
        return count;
    }
    void WriteAt(uint64_t, const void*, size_t) override {
        throw jet::OsError(EROFS, "write", kPath);
    }
    void Truncate(uint64_t) override { throw jet::OsError(EROFS, "truncate", kPath); }
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
        if (path != kPath || mode != jet::OpenMode::kRead) throw jet::OsError(EACCES, "open", path);
        return std::make_unique<MemoryFile>(data_, size_);
    }
    jet::FileStatus Stat(const std::string& path) override {
        jet::FileStatus s;
        if (path == kPath) {
            s.exists = s.is_regular = true;
            s.size = size_;
        } else if (path == "/fuzz") {
            s.exists = s.is_directory = true;
        }
        return s;
    }
    void Rename(const std::string& from, const std::string&) override {
        throw jet::OsError(EROFS, "rename", from);
    }
    void Remove(const std::string& path) override { throw jet::OsError(EROFS, "remove", path); }
    void SyncDirectory(const std::string&) override {}
    std::string HostName() override { return "fuzz"; }

  private:
    const uint8_t* data_;
    size_t size_;
};

// The password stored in the header, so password-protected inputs are explored too.
std::string StoredPassword(const uint8_t* data, size_t size) {
    try {
        return jet::Utf16ToUtf8(jet::DecodeHeader(jet::ByteSpan(data, size)).password);
    } catch (const jet::JetError&) {
        return {};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemoryEnv env(data, size);
    jet::OpenOptions options;
    options.password = StoredPassword(data, size);
    std::unique_ptr<jet::DatabaseView> db;
    try {
        db = jet::DatabaseView::Open(&env, kPath, options);
    } catch (const jet::JetError&) {
        return 0;
    }
    jet::MdbFile& file = db->file();
    auto try_map = [&](uint32_t pointer) {
        try {
            jet::ReadUsageMap(file, pointer);
        } catch (const jet::JetError&) {
        }
    };
    for (const std::string& name : db->TableNames(true)) {
        jet::TableDef table;
        try {
            table = db->ReadTable(name);
        } catch (const jet::JetError&) {
            continue;
        }
        for (bool salvage : {false, true}) {
            try {
                jet::ForEachRow(
                    file, table, [](const jet::RowLocation&, const jet::Row&) {},
                    jet::ScanOptions{salvage});
            } catch (const jet::JetError&) {
            }
        }
        try_map(table.free_map);
        for (const jet::RealIndexDef& index : table.real_indexes) try_map(index.usage_map);
        for (const jet::LongValueColumnMaps& maps : table.long_value_maps) {
            try_map(maps.owned_map);
            try_map(maps.free_map);
        }
    }
    try_map(jet::RowPointer{1, 0}.Packed());
    return 0;
}
