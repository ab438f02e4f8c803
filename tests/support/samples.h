// The databases the tests write: the two versions the engine writes, by name, the sample
// databases of both (jet/testing/sample.h) as the writer tests go through them, and a
// database of one table.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/format/schema.h"
#include "jet/testing/sample.h"
#include "jet/write/new_database.h"
#include "tests/support/temp_dir.h"

namespace jet::testkit {

inline constexpr Version kVersions[] = {Version::kJet3, Version::kJet4};

// "Jet3" or "Jet4", for test names and traces.
std::string VersionName(Version v);

// A table to write: its name and columns, without indexes or rows yet.
NewTable TableOf(std::string name, std::vector<ColumnDef> columns);

// Writes at `path` (replacing it) a database of version `v` holding the one table `t`.
void CreateOneTable(const std::string& path, NewTable t, Version v = Version::kJet4);

// The sample of `rows` pedidos rows in version `v`, bloated or laid out afresh.
SampleOptions Sample(Version v, uint64_t rows, bool bloat = false);

// Writes the sample database with `rows` rows of pedidos at dir/sample.mdb in each version,
// laid out afresh and bloated (free pages left inside), and calls `check` on each under a trace
// that names it.
void ForEachSample(const TempDir& dir, uint64_t rows,
                   const std::function<void(const SampleOptions&, const std::string& path)>& check);

}  // namespace jet::testkit
