// libFuzzer target for the read side: a database is opened, its catalog listed, every table
// (system ones too) read row by row in both scan modes, and every usage map a definition names
// (table, index and long-value maps, the global map) decoded. Any input must end in rows or a
// JetError: never a crash, a hang, a leak or undefined behaviour. (check_fuzz covers the
// checker.)
//
// The input is a patch program over the bases (fuzz_support.h) or, when its first byte is
// kRawFile, the whole file itself (what patches cannot make: files of any length, pages of
// any size, a header from nothing). A file made from a base is read through a read-ahead that
// holds it whole (each page read once from the file); a raw one page by page.
//
// Build and run: scripts/fuzz_short.sh (every target) or, for this one,
//   FUZZ_TARGETS=open_read_fuzz scripts/fuzz_short.sh 600
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "jet/base/error.h"
#include "jet/format/header.h"
#include "jet/format/text_codec.h"
#include "jet/format/usage_map.h"
#include "jet/read/table_reader.h"

namespace {

constexpr uint8_t kRawFile = 0xFF;

// The password stored in the header, so password-protected inputs are explored too.
std::string StoredPassword(const fuzz::Blob& file) {
    try {
        return jet::Utf16ToUtf8(jet::DecodeHeader(jet::ByteSpan(file)).password);
    } catch (const jet::JetError&) {
        return {};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    static const auto file = std::make_shared<fuzz::Blob>();  // one buffer for every input
    jet::OpenOptions options;
    if (size > 0 && data[0] == kRawFile) {
        file->assign(data + 1, data + size);
    } else {
        const fuzz::Base* base = nullptr;
        fuzz::ApplyPatches(in, &base, *file);
        options = fuzz::WholeFileOpen(*base);
    }
    fuzz::MemoryEnv env;
    env.files[fuzz::kDatabasePath] = file;
    env.read_only = true;
    options.password = StoredPassword(*file);
    std::unique_ptr<jet::DatabaseView> db;
    try {
        db = jet::DatabaseView::Open(&env, fuzz::kDatabasePath, options);
    } catch (const jet::JetError&) {
        return 0;
    }
    jet::MdbFile& mdb = db->file();
    auto try_map = [&](uint32_t pointer) {
        try {
            jet::ReadUsageMap(mdb, pointer);
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
                    mdb, table, [](const jet::RowLocation&, const jet::Row&) {},
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
