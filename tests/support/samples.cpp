#include "tests/support/samples.h"

#include <gtest/gtest.h>

#include "jet/base/env.h"

namespace jet::testkit {

std::string VersionName(Version v) {
    return v == Version::kJet3 ? "Jet3" : "Jet4";
}

void ForEachSample(
    const TempDir& dir, uint64_t rows,
    const std::function<void(const SampleOptions&, const std::string& path)>& check) {
    for (Version v : kVersions) {
        for (bool bloat : {false, true}) {
            SCOPED_TRACE(VersionName(v) + (bloat ? " bloated" : ""));
            SampleOptions options;
            options.version = v;
            options.rows = rows;
            options.bloat = bloat;
            const std::string path = dir / "sample.mdb";
            CreateSample(Env::Default(), path, options);
            check(options, path);
        }
    }
}

}  // namespace jet::testkit
