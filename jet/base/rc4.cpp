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
    for (uint8_t& byte : data) {
        i_ = static_cast<uint8_t>(i_ + 1);
        j_ = static_cast<uint8_t>(j_ + s_[i_]);
        std::swap(s_[i_], s_[j_]);
        byte ^= s_[static_cast<uint8_t>(s_[i_] + s_[j_])];
    }
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
