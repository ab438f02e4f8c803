#include "tests/support/rows.h"

#include <type_traits>
#include <variant>

namespace jet::testkit {

std::string RowImage(const Row& row) {
    std::string image;
    auto put = [&image](const void* data, size_t n) {
        image.append(static_cast<const char*>(data), n);
    };
    for (const Value& v : row) {
        image.push_back(static_cast<char>(v.index()));
        std::visit(
            [&](const auto& x) {
                using T = std::decay_t<decltype(x)>;
                if constexpr (std::is_same_v<T, std::monostate>) {
                } else if constexpr (std::is_same_v<T, std::u16string>) {
                    const uint64_t n = x.size();
                    put(&n, sizeof n);
                    put(x.data(), x.size() * sizeof(char16_t));
                } else if constexpr (std::is_same_v<T, Bytes>) {
                    const uint64_t n = x.size();
                    put(&n, sizeof n);
                    put(x.data(), x.size());
                } else if constexpr (std::is_same_v<T, Guid>) {
                    put(x.data(), x.size());
                } else if constexpr (std::is_same_v<T, Decimal>) {
                    image.push_back(x.negative ? 1 : 0);
                    put(x.magnitude.data(), sizeof x.magnitude);
                } else {
                    put(&x, sizeof x);
                }
            },
            v);
    }
    return image;
}

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
