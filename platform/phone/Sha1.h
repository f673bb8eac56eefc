// SHA-1, for the device id only (not for anything that needs collision
// resistance).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace plat {

class Sha1 {
 public:
  Sha1();
  void Update(std::span<const uint8_t> data);
  // The digest; the object is spent afterwards.
  std::array<uint8_t, 20> Final();

 private:
  void Block(const uint8_t* block);

  uint32_t m_h[5];
  uint8_t m_buffer[64];
  size_t m_buffered = 0;
  uint64_t m_length = 0;  // bytes
};

}  // namespace plat
