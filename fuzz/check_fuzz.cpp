// libFuzzer target for the checker: a patch program (fuzz_support.h) damages one of the bases
// and the checker runs over the result, its report formatted. Any crash, hang, leak or
// undefined behaviour is a bug: damage must come out as a JetError or as findings. (Reading
// the tables is open_read_fuzz's.)
//
// The file is opened with a read-ahead that holds it whole, so the checker's many reads of
// each page are copies from memory (and an encoded page is decoded once); a file that does
// not open is checked by CheckFile, which reports why.
//
// Build and run: scripts/fuzz_short.sh (every target) or, for this one,
//   FUZZ_TARGETS=check_fuzz scripts/fuzz_short.sh 600
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "jet/base/error.h"
#include "jet/format/mdb_file.h"
#include "jet/read/checker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Reader in(data, size);
    const fuzz::Base* base = nullptr;
    static const auto made = std::make_shared<fuzz::Blob>();  // one buffer for every input
    fuzz::ApplyPatches(in, &base, *made);
    fuzz::MemoryEnv env;
    env.files[fuzz::kDatabasePath] = made;
    env.read_only = true;
    jet::CheckOptions options;
    options.max_findings = 50;
    try {
        std::unique_ptr<jet::MdbFile> file;
        try {
            file = jet::MdbFile::Open(&env, fuzz::kDatabasePath, fuzz::WholeFileOpen(*base));
        } catch (const jet::JetError&) {
        }
        const jet::CheckReport report =
            file ? jet::CheckDatabase(*file, options)
                 : jet::CheckFile(&env, fuzz::kDatabasePath, options, base->password);
        (void)jet::FormatReport(report);
    } catch (const jet::JetError&) {
    }
    return 0;
}
