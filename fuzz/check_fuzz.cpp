// libFuzzer target for the checker: a patch program (fuzz_support.h) damages one of the bases
// and the checker runs over the result, its report formatted. Any crash, hang, leak or
// undefined behaviour is a bug: damage must come out as a JetError or as findings. (Reading
// the tables is open_read_fuzz's.)
//
// Build and run: scripts/fuzz_short.sh (every target) or, for this one,
//   FUZZ_TARGETS=check_fuzz scripts/fuzz_short.sh 600
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "jet/base/error.h"
#include "jet/read/checker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const fuzz::Base* base = nullptr;
    fuzz::MemoryEnv env;
    env.files[fuzz::kDatabasePath] = std::make_shared<fuzz::Blob>(fuzz::ApplyPatches(in, &base));
    env.read_only = true;
    try {
        jet::CheckOptions options;
        options.max_findings = 50;
        const jet::CheckReport report =
            jet::CheckFile(&env, fuzz::kDatabasePath, options, base->password);
        (void)jet::FormatReport(report);
    } catch (const jet::JetError&) {
    }
    return 0;
}
