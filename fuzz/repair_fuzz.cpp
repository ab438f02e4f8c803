// libFuzzer target: random damage to databases, then repair, then check.
//
// The input picks one of the bases (fuzz_support.h; the folder REPAIR_FUZZ_FILES names, the
// corpus for instance, adds more) and a short program of damage: injectors of damage.h with
// fuzzed seeds and targets, and raw patches of fuzzed bytes at fuzzed offsets. The damaged
// file is repaired; then exactly one of two things must hold:
//   - the repair succeeded and our checker finds the result clean, even in strict mode;
//   - the repair failed with a JetError and the file is byte-identical to the damaged one, with
//     nothing left beside it.
// Anything else (a crash, a hang, a leak, undefined behaviour, another exception, a dirty
// result) is a bug. Files live in memory behind a jet::Env, so runs are fast and repeatable.
//
// Build and run: scripts/fuzz_short.sh (every target) or, for this one,
//   FUZZ_TARGETS=repair_fuzz scripts/fuzz_short.sh 600
// REPAIR_FUZZ_FILES names a folder of further databases (*.mdb; "with-password" in a name:
// the password is "password").
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "jet/base/error.h"
#include "jet/read/checker.h"
#include "jet/rebuild/repair.h"

namespace {

using fuzz::Blob;
using fuzz::MemoryEnv;

struct Seed {
    std::string name;
    Blob bytes;
    std::string password;
};

std::vector<Seed> LoadSeeds() {
    namespace fs = std::filesystem;
    std::vector<Seed> seeds;
    for (const fuzz::Base& base : fuzz::Bases())
        seeds.push_back({base.name, base.stored, base.password});
    const char* dir = std::getenv("REPAIR_FUZZ_FILES");
    if (dir == nullptr) return seeds;
    std::vector<Seed> more;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        if (e.path().extension() != ".mdb") continue;
        std::ifstream in(e.path(), std::ios::binary);
        Seed s;
        s.name = e.path().filename().string();
        s.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (s.name.find("with-password") != std::string::npos) s.password = "password";
        more.push_back(std::move(s));
    }
    std::sort(more.begin(), more.end(),
              [](const Seed& a, const Seed& b) { return a.name < b.name; });
    if (more.empty()) std::fprintf(stderr, "repair_fuzz: no databases in %s\n", dir);
    seeds.insert(seeds.end(), more.begin(), more.end());
    return seeds;
}

const std::vector<Seed>& Seeds() {
    static const std::vector<Seed> seeds = LoadSeeds();
    return seeds;
}

[[noreturn]] void Bug(const std::string& what) {
    fuzz::Bug("repair_fuzz", what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    fuzz::Reader in(data, size);
    const Seed& seed = Seeds()[in.Byte() % Seeds().size()];
    MemoryEnv env;
    const std::string& path = fuzz::kDatabasePath;
    auto file = std::make_shared<Blob>(seed.bytes);
    env.files[path] = file;

    // Up to eight steps of damage.
    for (int step = 0; step < 8 && in.more(5); ++step) {
        const uint8_t op = in.Byte();
        if (op & 1) {
            const auto& kinds = jet::AllDamageKinds();
            jet::DamageOptions options;
            options.seed = in.U32();
            options.password = seed.password;
            if (op & 2) options.page = in.U32() % 4096;
            try {
                jet::InjectDamage(&env, path, kinds[(op >> 2) % kinds.size()], options);
            } catch (const jet::JetError&) {
                // The file is already past what that injector can survey.
            }
        } else if (!env.files[path]->empty()) {
            Blob& bytes = *env.files[path];
            const size_t offset = in.U32() % bytes.size();
            const size_t length = 1 + (op >> 1) % 16;
            for (size_t i = 0; i < length && offset + i < bytes.size() && in.more(); ++i)
                bytes[offset + i] = in.Byte();
        }
    }

    const Blob damaged = *env.files[path];
    jet::RepairOptions options;
    options.password = seed.password;
    options.sort_memory = 1u << 20;
    try {
        jet::RepairDatabase(&env, path, options);
    } catch (const jet::JetError&) {
        if (*env.files[path] != damaged) Bug("a failed repair changed the file");
        if (env.files.size() != 1) Bug("a failed repair left files behind");
        return 0;
    } catch (const std::exception& e) {
        Bug(std::string("repair threw something else than a JetError: ") + e.what());
    }
    jet::CheckOptions strict;
    strict.strict = true;
    const jet::CheckReport report = jet::CheckFile(&env, path, strict, seed.password);
    if (!report.clean())
        Bug("the repaired file does not check clean:\n" + jet::FormatReport(report));
    if (env.files.size() != 1) Bug("a repair left files behind");
    return 0;
}
