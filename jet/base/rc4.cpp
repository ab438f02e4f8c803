#include "jet/base/rc4.h"

#include <cstring>
#include <utility>

namespace jet {

// Both steps work on a local copy of the state, as a plain array indexed by masked values:
// stores into the bytes (which may alias anything) would otherwise make the compiler reload the
// members after every byte, and checked builds check every index of a std::array.

Rc4::Rc4(std::span<const uint8_t> key) {
    uint8_t s[256];
    for (unsigned n = 0; n < 256; ++n) s[n] = static_cast<uint8_t>(n);
    if (!key.empty()) {
        unsigned j = 0;
        for (unsigned n = 0; n < 256; ++n) {
            j = (j + s[n] + key[n % key.size()]) & 255;
            std::swap(s[n], s[j]);
        }
    }
    std::memcpy(s_.data(), s, sizeof s);
}

void Rc4::Apply(std::span<uint8_t> data) {
    uint8_t s[256];
    std::memcpy(s, s_.data(), sizeof s);
    unsigned i = i_;
    unsigned j = j_;
    for (uint8_t& byte : data) {
        i = (i + 1) & 255;
        const unsigned si = s[i];
        j = (j + si) & 255;
        const unsigned sj = s[j];
        s[i] = static_cast<uint8_t>(sj);
        s[j] = static_cast<uint8_t>(si);
        byte = static_cast<uint8_t>(byte ^ s[(si + sj) & 255]);
    }
    std::memcpy(s_.data(), s, sizeof s);
    i_ = static_cast<uint8_t>(i);
    j_ = static_cast<uint8_t>(j);
}

void Rc4Apply(std::span<const uint8_t> key, std::span<uint8_t> data) {
    Rc4 rc4(key);
    rc4.Apply(data);
}

void CryptPage(uint32_t database_key, uint32_t page, std::span<uint8_t> bytes) {
    if (page == 0 || database_key == 0) return;
    const uint32_t k = database_key ^ page;
    const uint8_t key[4] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8),
                            static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 24)};
    Rc4Apply(key, bytes);
}

}  // namespace jet
