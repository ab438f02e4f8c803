#include "jet/base/rc4.h"

#include <utility>

namespace jet {

Rc4::Rc4(std::span<const uint8_t> key) {
    for (size_t n = 0; n < 256; ++n) s_[n] = static_cast<uint8_t>(n);
    if (key.empty()) return;
    uint8_t j = 0;
    for (size_t n = 0; n < 256; ++n) {
        j = static_cast<uint8_t>(j + s_[n] + key[n % key.size()]);
        std::swap(s_[n], s_[j]);
    }
}

void Rc4::Apply(std::span<uint8_t> data) {
    // The state is worked on in locals: a store into `data` (bytes, which may alias anything)
    // would otherwise make the compiler reload the members after every byte.
    std::array<uint8_t, 256> s = s_;
    uint8_t i = i_;
    uint8_t j = j_;
    for (uint8_t& byte : data) {
        i = static_cast<uint8_t>(i + 1);
        const uint8_t si = s[i];
        j = static_cast<uint8_t>(j + si);
        const uint8_t sj = s[j];
        s[i] = sj;
        s[j] = si;
        byte ^= s[static_cast<uint8_t>(si + sj)];
    }
    s_ = s;
    i_ = i;
    j_ = j;
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
