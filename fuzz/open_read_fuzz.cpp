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
#include "jet/format/text_codec.h"
#include "jet/format/usage_map.h"
#include "jet/read/table_reader.h"
#include "jet/testing/memory_env.h"

namespace {

const std::string kPath = jet::MemoryEnv::kFolder + "/input.mdb";

// One read-only file in memory.

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
    jet::MemoryEnv env;
    env.Put(kPath, data, size);
    env.read_only = true;
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
