#include "jet/rebuild/header_recovery.h"

#include <chrono>
#include <cstring>
#include <optional>
#include <string_view>

#include "jet/base/error.h"
#include "jet/format/data_page.h"
#include "jet/format/mdb_file.h"
#include "jet/format/tdef.h"
#include "jet/format/text_codec.h"
#include "jet/read/catalog.h"
#include "jet/write/system_tables.h"

namespace jet {
namespace {

constexpr uint32_t kGlobalMapPage = 1;
// Pages looked at to judge whether the pages in use are well formed (spread over the file).
constexpr uint32_t kSampledPages = 4096;

// The ANSI code page Windows pairs with the primary language of an LCID (for the Jet 4
// header, whose text columns carry only the sort order).
uint16_t CodePageOfLanguage(uint16_t lcid) {
    switch (lcid & 0x3FF) {
        case 0x04:  // Chinese: Taiwan and Hong Kong traditional, the others simplified
            return (lcid == 0x0404 || lcid == 0x0C04 || lcid == 0x1404) ? 950 : 936;
        case 0x11:
            return 932;  // Japanese
        case 0x12:
            return 949;  // Korean
        case 0x1E:
            return 874;  // Thai
        case 0x05:
        case 0x0E:
        case 0x15:
        case 0x18:
        case 0x1A:
        case 0x1B:
        case 0x1C:
        case 0x24:
            return 1250;  // Central European
        case 0x19:
        case 0x22:
        case 0x23:
        case 0x02:
        case 0x2F:
            return 1251;  // Cyrillic
        case 0x08:
            return 1253;  // Greek
        case 0x1F:
        case 0x2C:
            return 1254;  // Turkish, Azeri
        case 0x0D:
            return 1255;  // Hebrew
        case 0x01:
        case 0x20:
        case 0x29:
            return 1256;  // Arabic, Urdu, Farsi
        case 0x25:
        case 0x26:
        case 0x27:
            return 1257;  // Baltic
        case 0x2A:
            return 1258;  // Vietnamese
        default:
            return 1252;
    }
}

// Days since 1899-12-30, now.
double Today() {
    using namespace std::chrono;
    const double seconds = duration<double>(system_clock::now().time_since_epoch()).count();
    return 25569.0 + seconds / 86400.0;  // 1970-01-01 is day 25569
}

// True when `def` has the columns of the catalog, by name and type, in their order.
bool ReadsAsCatalog(const TableDef& def, Version version) {
    const TableDef standard = SystemTableDef(SystemTable::kObjects, version);
    // The columns every catalog has had since Jet 3; later ones may be missing or differ.
    constexpr size_t kCore = 8;
    if (def.columns.size() < kCore) return false;
    for (size_t i = 0; i < kCore; ++i)
        if (!NamesEqual(def.columns[i].name, standard.columns[i].name) ||
            def.columns[i].type != standard.columns[i].type)
            return false;
    return true;
}

// True when most of the pages in use (a sample) are pages of a known type, well formed.
bool PagesWellFormed(MdbFile& file) {
    const uint32_t n = file.page_count();
    const uint32_t step = n / kSampledPages + 1;
    uint32_t used = 0, well_formed = 0;
    Bytes page;
    for (uint32_t p = 1; p < n; p += step) {
        try {
            file.ReadPage(p, page);
        } catch (const JetError&) {
            continue;
        }
        if (page[0] == 0) continue;  // never written, or zeroed
        ++used;
        // Types 01..05, and 08 and 09, which Jet leaves behind on pages nothing reaches.
        const bool known = (page[0] >= kPageData && page[0] <= kPageUsageBitmap) ||
                           page[0] == 0x08 || page[0] == 0x09;
        if (known && page[1] == 0x01) ++well_formed;
    }
    return used > 0 && well_formed * 4 >= used * 3;
}

// The sort order (and Jet 3 code page) of the catalog's text columns.
struct TextSettings {
    std::optional<uint16_t> sort_order, code_page;
    uint8_t sort_version = 0;
};
TextSettings CatalogTextSettings(const TableDef& def, Version version) {
    TextSettings s;
    for (const ColumnDef& c : def.columns) {
        if (c.type != ColumnType::kText) continue;
        if (c.sort_order != 0) {
            s.sort_order = c.sort_order;
            s.sort_version = c.sort_version;
        }
        if (version == Version::kJet3 && c.code_page != 0) s.code_page = c.code_page;
        if (s.sort_order) break;
    }
    return s;
}

// The header of a file read at `version`'s page size when the evidence shows one.
std::optional<RecoveredHeader> TryVersion(Env* env, const std::string& path, Version version,
                                          const std::string& password) {
    DatabaseHeader probe = NewDatabaseHeader(version);
    std::unique_ptr<MdbFile> file;
    try {
        file = MdbFile::OpenWithHeader(env, path, OpenOptions{}, probe);
        if (file->page_count() <= kCatalogPage) return std::nullopt;
        const Bytes map = file->ReadPage(kGlobalMapPage);
        if (!IsDataPageOf(map, kGlobalMapPage)) return std::nullopt;
        const Bytes catalog = file->ReadPage(kCatalogPage);
        if (catalog[0] != kPageTableDef || catalog[1] != 0x01) return std::nullopt;
        if (version == Version::kJet3 && (catalog[2] != 'V' || catalog[3] != 'C'))
            return std::nullopt;
        const TableDef def = ReadTableDef(*file, kCatalogPage);
        if (!ReadsAsCatalog(def, version) || !PagesWellFormed(*file)) return std::nullopt;

        RecoveredHeader r;
        DatabaseHeader& h = r.header;
        h = probe;
        const char* name = version == Version::kJet3 ? "Jet 3" : "Jet 4";
        r.fixes.push_back(std::string("page 0: lost; rebuilt as a ") + name +
                          " header (the pages are laid out at " +
                          std::to_string(PageSize(version)) + " bytes, page 2 is the catalog)");
        const TextSettings text = CatalogTextSettings(def, version);
        if (text.sort_order) {
            h.sort_order = *text.sort_order;
            h.sort_version = text.sort_version;
            r.fixes.push_back("page 0: sort order " + std::to_string(h.sort_order) +
                              ", as the catalog's text columns have it");
        } else {
            r.fixes.push_back("page 0: sort order General (1033): no column says another");
        }
        if (text.code_page) {
            h.code_page = *text.code_page;
            r.fixes.push_back("page 0: code page " + std::to_string(h.code_page) +
                              ", as the catalog's text columns have it");
        } else if (version == Version::kJet4) {
            h.code_page = CodePageOfLanguage(h.sort_order);
            r.fixes.push_back("page 0: code page " + std::to_string(h.code_page) +
                              ", the one of the sort order's language");
        } else {
            r.fixes.push_back("page 0: code page 1252: no column says another");
        }
        h.encryption_key = 0;
        r.fixes.push_back("page 0: pages in clear, as they read");
        if (version == Version::kJet4) {
            h.creation_date = Today();
            r.fixes.push_back("page 0: the original creation date is lost; today's is set");
        }
        if (!password.empty()) {
            h.password = Utf8ToUtf16(password);
            r.fixes.push_back("page 0: the password given is set");
        } else {
            r.fixes.push_back("page 0: a password the database had is lost");
        }
        // The raw page carries the fields just set, as EncodeHeader would write them.
        Bytes encoded = EncodeHeader(h);
        h = DecodeHeader(encoded);
        return r;
    } catch (const JetError&) {
        return std::nullopt;
    }
}

// True when what is left of page 0 (its commit words, at the end of the page) shows a
// database header at `version`'s page size (most entries 00 01) while pages 1 and 2, which
// would then be the global map and the catalog, do not read in clear.
bool EncodedRemainsOf(Env* env, const std::string& path, Version version) {
    const size_t size = PageSize(version);
    Bytes pages(3 * size);
    try {
        std::unique_ptr<File> f = env->Open(path, OpenMode::kRead);
        if (f->ReadAt(0, pages.data(), pages.size()) != pages.size()) return false;
    } catch (const OsError&) {
        return false;
    }
    for (size_t at : {size, 2 * size})
        if (pages[at + 1] == 0x01 && (pages[at] == kPageData || pages[at] == kPageTableDef))
            return false;
    const size_t commit = CommitWordsOffset(version);
    size_t clean = 0;
    for (size_t entry = kFirstUserCommitWord; entry < 256; ++entry)
        clean += pages[commit + 2 * entry] == kClosedCommitWord[0] &&
                 pages[commit + 2 * entry + 1] == kClosedCommitWord[1];
    return clean >= 200;
}

}  // namespace

// Page 0 with the fields that carry no information put back to what every Jet file holds, and
// the users' commit words closed.
DatabaseHeader RestoredHeader(const DatabaseHeader& source, std::vector<std::string>& fixes) {
    DatabaseHeader h = source;
    Bytes& p = h.raw;
    const Version v = h.version;
    const size_t commit = CommitWordsOffset(v);
    if (p.size() < commit + 512) return h;
    size_t restored = 0;
    auto put = [&](size_t at, uint8_t value) {
        if (p[at] != value) ++restored;
        p[at] = value;
    };
    if (h.engine_name == "Standard Jet DB") {
        static const uint8_t kConstant[24] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0,
                                              3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
        for (size_t i = 0; i < 24; ++i) put(0x18 + i, kConstant[i]);
        for (size_t at = 0x30; at < 0x38; ++at) put(at, 0);
        put(0x39, 0);
        if (v == Version::kJet4) {
            for (size_t at = 0x7A; at < 0x98; ++at) put(at, 0);
            static const uint8_t kBlock[8] = {0x54, 0x06, 0x00, 0x00, 0x34, 0x2E, 0x30, 0x00};
            for (size_t i = 0; i < 8; ++i) put(0x98 + i, kBlock[i]);
            for (size_t at = 0xA0; at < commit; ++at) put(at, 0);
        } else {
            for (size_t at = 0x58; at < commit; ++at) put(at, 0);
        }
    }
    if (restored > 0)
        fixes.push_back("page 0: " + std::to_string(restored) +
                        " byte(s) of fixed fields put back to their standard values");
    CloseUserCommitWords(p, v);
    const bool users_marked = UserCommitWordsMarked(source.raw, v);
    if (users_marked) fixes.push_back("page 0: the commit words marking open users cleared");
    return h;
}

bool PageZeroLost(Env* env, const std::string& path) {
    Bytes first(0x20);
    try {
        std::unique_ptr<File> f = env->Open(path, OpenMode::kRead);
        first.resize(f->ReadAt(0, first.data(), first.size()));
    } catch (const OsError&) {
        return false;
    }
    if (first.size() < 0x20) return false;  // too short to be any database
    if (first[0] != 0) return true;
    // An engine name of printable ASCII is a header, whatever engine it names ("Standard ACE
    // DB" is refused as what it is).
    for (size_t i = 4; i < 4 + 13; ++i)
        if (first[i] < 0x20 || first[i] > 0x7E) return true;
    return false;
}

RecoveredHeader RecoverHeader(Env* env, const std::string& path, const std::string& password) {
    for (Version v : {Version::kJet4, Version::kJet3})
        if (auto r = TryVersion(env, path, v, password)) return std::move(*r);
    for (Version v : {Version::kJet4, Version::kJet3})
        if (EncodedRemainsOf(env, path, v))
            RaiseWithDetail(kUnrecognizedFormat, path,
                            "Page 0 is lost, and no page reads in clear: the pages are encoded "
                            "under a key that was kept only on page 0.");
    Raise(kUnrecognizedFormat, path);
}

void RefuseAceCatalog(const std::string& table_name, const std::string& path) {
    if (NamesEqual(table_name, "MSysComplexColumns"))
        RaiseWithDetail(kUnrecognizedFormat, path,
                        "Page 0 is lost, and the catalog is that of an ACE (.accdb) database.");
}

}  // namespace jet
