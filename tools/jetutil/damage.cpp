// jetutil damage KIND FILE: puts one kind of damage into a database on purpose (for testing
// repair and the checker on copies of real files).
#include <iostream>

#include "jet/base/error.h"
#include "jet/testing/damage.h"
#include "tools/jetutil/command.h"
#include "tools/jetutil/options.h"

namespace {

constexpr const char* kUsage =
    "usage: jetutil damage KIND FILE [--seed N] [--page P] [--password PW]\n"
    "       jetutil damage KIND FILE --targets\n\n"
    "Damages FILE in place, deterministically for a given seed. Work on a copy!\n\n"
    "Kinds:\n"
    "  zeroed-page         a page (P: any page) made all zeros\n"
    "  torn-page           half of a page zeroed, as a write cut short leaves it\n"
    "  random-bytes        random bytes in a data page of a table (P: any page)\n"
    "  wrong-row-count     the row count of a table (P: its definition page)\n"
    "  broken-usage-map    the owned-pages map of a table (P: its definition page) or, with\n"
    "                      P = 1, the global usage map\n"
    "  broken-index-page   random bytes in an index page\n"
    "  broken-memo-chain   a link into a long-value row on LVAL page P broken\n"
    "  truncated-file      the file cut at page P (sometimes mid-page)\n"
    "  header-garbage      random bytes in fields of page 0 that hold nothing essential\n"
    "  inconsistent-state  the commit words of page 0 marked as if users were writing\n\n"
    "  --seed N     seed of the random choices (default 0)\n"
    "  --page P     the target; without it the seed picks one\n"
    "  --targets    list the targets the kind has in FILE and change nothing\n\n"
    "Prints what was damaged and the pages changed. Exit status: 0 damaged, 1 no target for\n"
    "that kind in the file, 2 error.\n";

bool ParseNumber(const std::string& text, uint64_t& out) {
    try {
        size_t used = 0;
        out = std::stoull(text, &used, 0);
        return used == text.size();
    } catch (const std::exception&) {
        return false;
    }
}

int Run(const std::vector<std::string>& args) {
    jetutil::Options opts(args, {"--targets"}, {"--seed", "--page"});
    if (!opts.error().empty() || opts.positional().size() != 2) {
        if (!opts.error().empty()) std::cerr << "jetutil damage: " << opts.error() << "\n";
        std::cerr << kUsage;
        return 2;
    }
    const auto kind = jet::ParseDamageKind(opts.positional()[0]);
    if (!kind) {
        std::cerr << "jetutil damage: unknown kind '" << opts.positional()[0] << "'\n" << kUsage;
        return 2;
    }
    const std::string& path = opts.positional()[1];
    jet::DamageOptions options;
    options.password = opts.open_options().password;
    uint64_t number = 0;
    if (!opts.Value("--seed").empty()) {
        if (!ParseNumber(opts.Value("--seed"), number)) {
            std::cerr << "jetutil damage: --seed needs a number\n";
            return 2;
        }
        options.seed = number;
    }
    if (!opts.Value("--page").empty()) {
        if (!ParseNumber(opts.Value("--page"), number) || number > UINT32_MAX) {
            std::cerr << "jetutil damage: --page needs a page number\n";
            return 2;
        }
        options.page = static_cast<uint32_t>(number);
    }
    try {
        if (opts.Has("--targets")) {
            const auto targets =
                jet::DamageTargets(jet::Env::Default(), path, *kind, options.password);
            for (uint32_t t : targets) std::cout << t << "\n";
            return targets.empty() ? 1 : 0;
        }
        const jet::DamageResult r = jet::InjectDamage(jet::Env::Default(), path, *kind, options);
        std::cout << path << ": " << r.what << "\n";
        if (!r.applied) return 1;
        std::cout << "pages changed:";
        for (uint32_t p : r.pages) std::cout << " " << p;
        std::cout << "\n";
        return 0;
    } catch (const jet::JetError& e) {
        std::cerr << "jetutil damage: error " << e.number() << ": " << e.what() << "\n";
        return 2;
    }
}

const jetutil::Registration kDamage({"damage", "put one kind of damage into a database (tests)",
                                     kUsage, Run});

}  // namespace
