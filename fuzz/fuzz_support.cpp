#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <span>
#include <string>

#include "jet/base/error.h"
#include "jet/base/rc4.h"
#include "jet/format/header.h"
#include "jet/format/mdb_file.h"
#include "jet/read/checker.h"
#include "jet/read/table_reader.h"
#include "jet/testing/fixtures.h"
#include "jet/write/new_database.h"

namespace fuzz {

namespace {

using jet::Bytes;
using jet::ColumnType;
using jet::Row;
using jet::Value;
using jet::Version;

// The first table after the four system tables gets the TDEF page after theirs.
constexpr uint32_t kTavoTable = 6;
constexpr double kDate = 45306.0;  // 2024-01-15: the catalog date (no clock is read)

std::u16string Text(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// Letters from a small generator: text that Unicode compression keeps at a byte a letter.
std::u16string Letters(size_t n, uint32_t seed) {
    std::u16string s(n, u'a');
    for (char16_t& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char16_t>(u'a' + (seed >> 16) % 26);
    }
    return s;
}

Bytes Pattern(size_t n, uint8_t first) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(first + i * 7);
    return b;
}

jet::NewTable Tipos(Version v) {
    const bool jet4 = v == Version::kJet4;
    jet::NewTable t;
    t.def.name = "tipos";
    auto& c = t.def.columns;
    c = {jet::NewColumn("id", ColumnType::kLong, 0, true),
         jet::NewColumn("sim", ColumnType::kBoolean),
         jet::NewColumn("byte", ColumnType::kByte),
         jet::NewColumn("inteiro", ColumnType::kInteger),
         jet::NewColumn("moeda", ColumnType::kCurrency),
         jet::NewColumn("simples", ColumnType::kSingle),
         jet::NewColumn("duplo", ColumnType::kDouble),
         jet::NewColumn("data", ColumnType::kDateTime),
         jet::NewColumn("binario", ColumnType::kBinary, 16),
         jet::NewColumn("texto", ColumnType::kText, 40),
         jet::NewColumn("ole", ColumnType::kOle),
         jet::NewColumn("memo", ColumnType::kMemo),
         jet::NewColumn("guid", ColumnType::kGuid),
         jet::NewColumn("tavo", ColumnType::kLong)};
    if (jet4) {
        jet::ColumnDef numeric = jet::NewColumn("numerico", ColumnType::kNumeric);
        numeric.precision = 18;
        numeric.scale = 4;
        c.push_back(numeric);
    }
    jet::AddIndex(t.def, "PrimaryKey", {"id"}, jet::IndexKind::kPrimaryKey);
    jet::AddIndex(t.def, "texto", {"texto"}, jet::IndexKind::kNormal, true);
    jet::AddIndex(t.def, "data_duplo", {"data", "duplo"});
    t.def.real_indexes.back().columns.back().ascending = false;
    jet::AddIndex(t.def, "tavotipos", {"tavo"}, jet::IndexKind::kForeignKey);
    jet::LogicalIndexDef& foreign = t.def.indexes.back();
    foreign.rel_table_type = 2;
    foreign.rel_index = 0;
    foreign.rel_table_page = kTavoTable;

    const size_t chain = 5000;  // past a page in both versions: a chain of long-value pages
    jet::Guid guid{};
    for (size_t i = 0; i < guid.size(); ++i) guid[i] = static_cast<uint8_t>(0x10 + i);
    jet::Decimal big;
    big.magnitude = {0, 0, 0x00000DE0u, 0xB6B3A764u};
    jet::Decimal small;
    small.negative = true;
    small.magnitude = {0, 0, 0, 12345};
    auto row = [&](Row r, const Value& numeric) {
        if (jet4) r.push_back(numeric);
        t.rows.push_back(std::move(r));
    };
    row({int64_t{1}, true, int64_t{7}, int64_t{1000}, int64_t{123450000}, 1.5, 3.25, kDate + 0.5,
         Pattern(8, 1), Text("primeiro"), Pattern(100, 3), Letters(chain, 1), guid, int64_t{1}},
        big);
    row({int64_t{2}, false, int64_t{255}, int64_t{-32768}, std::numeric_limits<int64_t>::max(),
         3.4e38, -1.7e308, 0.0, Bytes(16, 0xFF), u"\u00e7\u00e3o \u20ac " + Letters(30, 2),
         Pattern(600, 5), Letters(300, 3), guid, int64_t{2}},
        small);
    row({int64_t{3}, false, Value{}, Value{}, Value{}, Value{}, Value{}, Value{}, Value{}, Value{},
         Value{}, Value{}, Value{}, Value{}},
        Value{});
    row({int64_t{4}, true, int64_t{0}, int64_t{-1}, int64_t{-1}, -0.0, 1e-300, -657434.0, Bytes{},
         u"", Bytes{0}, u"", jet::Guid{}, int64_t{4}},
        jet::Decimal{});
    // A row left deleted, as a used file holds them, and a free page with stale bytes.
    bool deleted_written = false;
    const Row deleted = t.rows[0];
    t.generate = [deleted, deleted_written](Row& r, bool* is_deleted) mutable {
        if (deleted_written) return false;
        r = deleted;
        *is_deleted = deleted_written = true;
        return true;
    };
    t.free_pages_after = 1;
    t.free_page_image = Pattern(jet::PageSize(v), 0x41);
    return t;
}

Base Write(const std::string& name, Version v, jet::TavoFlag flag, bool tipos, uint32_t key,
           const std::string& password) {
    MemoryEnv env;
    const std::string tavo_path = MemoryEnv::kFolder + "/tavo.mdb";
    jet::CreateTavoFixture(&env, tavo_path, v, flag);
    jet::NewDatabase plan;
    plan.version = v;
    plan.date = kDate;
    plan.encryption_key = key;
    {
        auto view = jet::DatabaseView::Open(&env, tavo_path);
        jet::NewTable tavo;
        tavo.def = view->ReadTable("tavo");
        tavo.layout_given = true;
        tavo.rows = view->ReadRows(tavo.def);
        // Every row unlocked, as the client's tables stand between runs: a lock and a release
        // then give back the file as it was (update_fuzz relies on it).
        const jet::Value unlocked =
            flag == jet::TavoFlag::kBoolean ? jet::Value{false} : jet::Value{int64_t{0}};
        for (Row& row : tavo.rows) row[2] = unlocked;
        plan.tables.push_back(std::move(tavo));
    }
    if (tipos) plan.tables.push_back(Tipos(v));
    const std::string path = MemoryEnv::kFolder + "/" + name + ".mdb";
    jet::CreateDatabase(&env, path, plan);

    Base base;
    base.name = name;
    base.version = v;
    base.page_size = jet::PageSize(v);
    base.page_key = key;
    base.password = password;
    Blob& stored = *env.files.at(path);
    if (!password.empty()) {
        Bytes page0(stored.begin(), stored.begin() + base.page_size);
        jet::DatabaseHeader header = jet::DecodeHeader(page0);
        header.password = Text(password);
        const Bytes encoded = jet::EncodeHeader(header);
        std::copy(encoded.begin(), encoded.end(), stored.begin());
    }
    base.stored = stored;
    base.clear = stored;
    jet::ApplyHeaderMask(base.clear, v);
    for (uint32_t p = 1; p < base.pages(); ++p)
        jet::CryptPage(key, p,
                       std::span<uint8_t>(&base.clear[size_t{p} * base.page_size], base.page_size));

    if (base.pages() > jet::kScanReadAheadPages)
        Bug("fuzz_support", name + ": more pages than one read-ahead holds");
    // Over a base that is not sound, the targets' invariants would mean nothing.
    jet::OpenOptions options;
    options.password = password;
    auto view = jet::DatabaseView::Open(&env, path, options);
    // The clear image must be what the engine reads, or patches would not land where meant.
    const auto page_of = [&](uint32_t p) {
        const auto from = base.clear.begin() + static_cast<ptrdiff_t>(size_t{p} * base.page_size);
        return Bytes(from, from + base.page_size);
    };
    if (jet::DecodeHeader(jet::ByteSpan(base.stored).first(base.page_size)).raw != page_of(0))
        Bug("fuzz_support", name + ": page 0 of the clear image is not the decoded header");
    for (uint32_t p = 1; p < base.pages(); ++p)
        if (view->file().ReadPage(p) != page_of(p))
            Bug("fuzz_support", name + ": page " + std::to_string(p) + " is not read as imaged");
    if (view->ReadTable("tavo").tdef_page != kTavoTable)
        Bug("fuzz_support", name + ": tavo is not the table the foreign key names");
    jet::CheckOptions strict;
    strict.strict = true;
    const jet::CheckReport report = jet::CheckFile(&env, path, strict, password);
    if (!report.clean())
        Bug("fuzz_support", name + " does not check clean:\n" + jet::FormatReport(report));
    return base;
}

std::vector<Base> WriteBases() {
    std::vector<Base> bases;
    bases.push_back(Write("jet3", Version::kJet3, jet::TavoFlag::kBoolean, true, 0, ""));
    bases.push_back(Write("jet4", Version::kJet4, jet::TavoFlag::kBoolean, true, 0, ""));
    // Every page read of an encoded file is decoded again: a base of few pages keeps it fast.
    bases.push_back(Write("jet4-encoded-password", Version::kJet4, jet::TavoFlag::kInteger, false,
                          0x0BADF00Du, "fuzz"));
    return bases;
}

// Which pages of the file being made are patched (kept from one input to the next).
std::vector<bool>& PatchedPages() {
    static std::vector<bool> patched;
    return patched;
}

}  // namespace

const std::vector<Base>& Bases() {
    static const std::vector<Base> bases = WriteBases();
    return bases;
}

void ApplyPatches(Reader& in, const Base** chosen, Blob& file) {
    const std::vector<Base>& bases = Bases();
    const Base& base = bases[in.Byte() % bases.size()];
    *chosen = &base;
    // The file starts as stored; a page is replaced by its clear image when first patched, and
    // stored again (masked or encoded) once every patch is made.
    file.assign(base.stored.begin(), base.stored.end());
    std::vector<bool>& patched = PatchedPages();
    patched.assign(base.pages(), false);
    const size_t size = base.clear.size();
    size_t cut = size;
    for (int i = 0; i < kMaxPatches && in.more(4); ++i) {
        const size_t page = in.Byte() % base.pages();
        const size_t offset = in.U16() % base.page_size;
        const uint8_t count = in.Byte();
        size_t at = page * base.page_size + offset;
        if (count == 0) {
            cut = std::min(cut, at);
            continue;
        }
        for (int k = 0; k < count && in.more(); ++k, ++at) {
            const uint8_t b = in.Byte();
            if (at >= size) continue;
            const size_t p = at / base.page_size;
            if (!patched[p]) {
                const auto from = static_cast<ptrdiff_t>(p * base.page_size);
                std::copy(base.clear.begin() + from, base.clear.begin() + from + base.page_size,
                          file.begin() + from);
                patched[p] = true;
            }
            file[at] = b;
        }
    }
    for (uint32_t p = 0; p < base.pages(); ++p) {
        if (!patched[p]) continue;
        const std::span<uint8_t> page(&file[size_t{p} * base.page_size], base.page_size);
        if (p == 0) {
            Blob header(page.begin(), page.end());
            jet::ApplyHeaderMask(header, base.version);
            std::copy(header.begin(), header.end(), page.begin());
        } else {
            jet::CryptPage(base.page_key, p, page);
        }
    }
    file.resize(cut);
}

jet::ByteSpan ClearPage(const Base& base, const Blob& file, uint32_t page, jet::Bytes& scratch) {
    const size_t from = size_t{page} * base.page_size;
    if (page == 0 || from + base.page_size > file.size()) return {};
    if (!PatchedPages()[page]) return jet::ByteSpan(base.clear).subspan(from, base.page_size);
    scratch.assign(file.begin() + static_cast<ptrdiff_t>(from),
                   file.begin() + static_cast<ptrdiff_t>(from + base.page_size));
    jet::CryptPage(base.page_key, page, scratch);
    return scratch;
}

void Bug(const char* target, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", target, what.c_str());
    std::abort();
}

}  // namespace fuzz
