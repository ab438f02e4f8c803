#include "tests/support/rows.h"

#include "jet/rebuild/salvage_source.h"  // RowImage

namespace jet::testkit {

std::vector<Row> ReadBack(const std::string& path, const std::string& table) {
    auto db = DatabaseView::Open(Env::Default(), path);
    return db->ReadRows(db->ReadTable(table));
}

std::map<std::string, std::multiset<std::string>> AllRowImages(const std::string& path,
                                                               const std::string& password,
                                                               const ScanOptions& scan) {
    OpenOptions open;
    open.password = password;
    auto db = DatabaseView::Open(Env::Default(), path, open);
    std::map<std::string, std::multiset<std::string>> out;
    for (const std::string& name : db->TableNames(true)) {
        auto& rows = out[name];
        for (const Row& r : db->ReadRows(db->ReadTable(name), scan)) rows.insert(RowImage(r));
    }
    return out;
}

}  // namespace jet::testkit
