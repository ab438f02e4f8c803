#include "tests/support/samples.h"

#include <utility>

#include <gtest/gtest.h>

#include "jet/base/env.h"

namespace jet::testkit {

std::string VersionName(Version v) {
    return v == Version::kJet3 ? "Jet3" : "Jet4";
}

NewTable TableOf(std::string name, std::vector<ColumnDef> columns) {
    NewTable t;
    t.def.name = std::move(name);
    t.def.columns = std::move(columns);
    return t;
}

void CreateOneTable(const std::string& path, NewTable t, Version v) {
    NewDatabase plan;
    plan.version = v;
    plan.replace_existing = true;
    plan.tables.push_back(std::move(t));
    CreateDatabase(Env::Default(), path, plan);
}

SampleOptions Sample(Version v, uint64_t rows, bool bloat) {
    SampleOptions options;
    options.version = v;
    options.rows = rows;
    options.bloat = bloat;
    return options;
}

void ForEachSample(
    const TempDir& dir, uint64_t rows,
    const std::function<void(const SampleOptions&, const std::string& path)>& check) {
    for (Version v : kVersions) {
        for (bool bloat : {false, true}) {
            SCOPED_TRACE(VersionName(v) + (bloat ? " bloated" : ""));
            const SampleOptions options = Sample(v, rows, bloat);
            const std::string path = dir / "sample.mdb";
            CreateSample(Env::Default(), path, options);
            check(options, path);
        }
    }
}

}  // namespace jet::testkit
