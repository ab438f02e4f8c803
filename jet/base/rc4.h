// RC4 stream cipher, as used by Jet twice: to mask a fixed region of page 0 (with a constant key)
// and to encrypt every other page of an "encoded" database (with a per-page key). Encrypting and
// decrypting are the same operation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace jet {

class Rc4 {
  public:
    explicit Rc4(std::span<const uint8_t> key);
    // XORs `data` in place with the next data.size() bytes of the key stream.
    void Apply(std::span<uint8_t> data);

  private:
    std::array<uint8_t, 256> s_{};
    uint8_t i_ = 0;
    uint8_t j_ = 0;
};

// One-shot: XORs `data` with the key stream of `key` from its start.
void Rc4Apply(std::span<const uint8_t> key, std::span<uint8_t> data);

// Encodes or decodes (the same operation) page `page` of a database whose page 0 holds the page
// key `database_key`: RC4 keyed with the 4 little-endian bytes of (database_key XOR page). Page 0
// and a zero key leave the bytes as they are.
void CryptPage(uint32_t database_key, uint32_t page, std::span<uint8_t> bytes);

}  // namespace jet
