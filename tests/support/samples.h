// The two versions the engine writes, by name, and the sample databases of both
// (jet/testing/sample.h) as the writer tests go through them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "jet/format/schema.h"
#include "jet/testing/sample.h"
#include "tests/support/temp_dir.h"

namespace jet::testkit {

inline constexpr Version kVersions[] = {Version::kJet3, Version::kJet4};

// "Jet3" or "Jet4", for test names and traces.
std::string VersionName(Version v);

// Writes the sample database with `rows` rows of pedidos at dir/sample.mdb in each version,
// laid out afresh and bloated (free pages left inside), and calls `check` on each under a trace
// that names it.
void ForEachSample(const TempDir& dir, uint64_t rows,
                   const std::function<void(const SampleOptions&, const std::string& path)>& check);

}  // namespace jet::testkit
