#include "jet/testing/fixtures.h"

#include "jet/write/new_database.h"

namespace jet {

namespace {
// 2024-01-15, the catalog date of the fixtures (no clock is read, so they are reproducible).
constexpr double kFixtureDate = 45306.0;
}  // namespace

void CreateTavoFixture(Env* env, const std::string& path, Version version, TavoFlag flag,
                       int rows) {
    NewTable tavo;
    tavo.def.name = "tavo";
    tavo.def.columns = {NewColumn("id", ColumnType::kLong),
                        NewColumn("nome", ColumnType::kText, 50),
                        NewColumn("bloqueado", flag == TavoFlag::kBoolean ? ColumnType::kBoolean
                                                                          : ColumnType::kInteger)};
    AddIndex(tavo.def, "PrimaryKey", {"id"}, IndexKind::kPrimaryKey);
    for (int i = 1; i <= rows; ++i) {
        const bool locked = i % 2 == 0;
        Value flag_value = flag == TavoFlag::kBoolean
                               ? Value{locked}
                               : Value{static_cast<int64_t>(locked ? -1 : 0)};
        std::string name = "Tavo " + std::to_string(i);
        tavo.rows.push_back(
            {static_cast<int64_t>(i), std::u16string(name.begin(), name.end()), flag_value});
    }
    NewDatabase plan;
    plan.version = version;
    plan.date = kFixtureDate;
    plan.replace_existing = true;
    plan.tables.push_back(std::move(tavo));
    CreateDatabase(env, path, plan);
}

void CreateClientFixtures(Env* env, const std::string& folder, Version version) {
    CreateTavoFixture(env, folder + "/tavo.mdb", version, TavoFlag::kBoolean);
    CreateTavoFixture(env, folder + "/tavo1.mdb", version, TavoFlag::kInteger);
}

}  // namespace jet
