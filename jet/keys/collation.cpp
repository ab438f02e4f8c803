// Lookup over the generated sort-order tables. Jet 4 codes are stored as runs (see
// tools/gen_collation.py); a lookup expands one run entry into the code of a single unit. The
// runs are expanded once into a flat array on first use, so keying a long text costs one
// indexed load per character.
#include "jet/keys/collation.h"

#include <vector>

namespace jet::collation {
namespace {

Jet4Code Expand(const detail::Jet4Run& run, char16_t unit) {
    Jet4Code code;
    code.cls = run.cls;
    code.inline_len = run.inline_len;
    const int64_t value =
        static_cast<int64_t>(run.inline_code) + static_cast<int64_t>(run.step) * (unit - run.first);
    for (int i = 0; i < run.inline_len; ++i) {
        code.inline_bytes[i] =
            static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * (run.inline_len - 1 - i)));
    }
    code.extra_len = run.extra_len;
    code.extra[0] = run.extra[0];
    code.extra[1] = run.extra[1];
    code.unprint_len = run.unprint_len;
    code.unprint = run.unprint;
    code.modifier = run.modifier;
    code.crazy = run.crazy;
    // Latin letters have the codes 0x4A (a) to 0x78 (z).
    code.ligature = code.inline_len >= 2;
    for (int i = 0; i < code.inline_len; ++i) {
        if (code.inline_bytes[i] < 0x4A || code.inline_bytes[i] > 0x78) code.ligature = false;
    }
    return code;
}

std::vector<Jet4Code> BuildJet4Table() {
    std::vector<Jet4Code> table(65536);
    for (size_t r = 0; r < detail::kJet4RunCount; ++r) {
        const auto& run = detail::kJet4Runs[r];
        for (uint32_t k = 0; k < run.count && run.first + k < 65536u; ++k) {
            const auto unit = static_cast<char16_t>(run.first + k);
            table[unit] = Expand(run, unit);
        }
    }
    return table;
}

}  // namespace

const Jet4Code& Jet4(char16_t unit) {
    static const std::vector<Jet4Code> table = BuildJet4Table();
    return table[unit];
}

const Jet3Code& Jet3(uint8_t byte) {
    return detail::kJet3Codes[byte];
}

}  // namespace jet::collation
