// libFuzzer target: open an arbitrary byte string as a database, read every table and run the
// checker over it. Any crash, hang, leak or undefined behaviour is a bug: damage must come out
// as a JetError or as findings. The file lives in memory behind a jet::Env.
//
// Build: CC=clang CXX=clang++ cmake -DCOMPACTADOR_FUZZ=ON -DCOMPACTADOR_SANITIZE=ON
//        -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link ...; seed with the corpus:
//        ./check_fuzz -max_len=1048576 CORPUS_COPY_DIR ../shared/corpus
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "jet/base/env.h"
#include "jet/base/error.h"
#include "jet/read/checker.h"
#include "jet/read/table_reader.h"
#include "jet/testing/memory_env.h"

namespace {

const std::string kPath = jet::MemoryEnv::kFolder + "/fuzz.mdb";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    jet::MemoryEnv env;
    env.Put(kPath, data, size);
    env.read_only = true;
    try {
        jet::CheckOptions options;
        options.max_findings = 50;
        const jet::CheckReport report = jet::CheckFile(&env, kPath, options);
        (void)jet::FormatReport(report);
    } catch (const jet::JetError&) {
    }
    try {
        auto db = jet::DatabaseView::Open(&env, kPath);
        for (const std::string& name : db->TableNames(true)) {
            try {
                const jet::TableDef t = db->ReadTable(name);
                (void)db->ReadRows(t);
            } catch (const jet::JetError&) {
            }
        }
    } catch (const jet::JetError&) {
    }
    return 0;
}
