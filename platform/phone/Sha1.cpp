#include "platform/phone/Sha1.h"

#include <algorithm>
#include <cstring>

namespace plat {
namespace {

uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

}  // namespace

Sha1::Sha1() : m_h{0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u}, m_buffer{} {}

void Sha1::Block(const uint8_t* p) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = (uint32_t{p[4 * i]} << 24) | (uint32_t{p[4 * i + 1]} << 16) | (uint32_t{p[4 * i + 2]} << 8) | p[4 * i + 3];
  for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = m_h[0], b = m_h[1], c = m_h[2], d = m_h[3], e = m_h[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    uint32_t t = Rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = t;
  }
  m_h[0] += a;
  m_h[1] += b;
  m_h[2] += c;
  m_h[3] += d;
  m_h[4] += e;
}

void Sha1::Update(std::span<const uint8_t> data) {
  m_length += data.size();
  size_t i = 0;
  if (m_buffered > 0) {
    size_t take = std::min(data.size(), 64 - m_buffered);
    std::memcpy(m_buffer + m_buffered, data.data(), take);
    m_buffered += take;
    i = take;
    if (m_buffered < 64) return;
    Block(m_buffer);
    m_buffered = 0;
  }
  for (; i + 64 <= data.size(); i += 64) Block(data.data() + i);
  std::memcpy(m_buffer, data.data() + i, data.size() - i);
  m_buffered = data.size() - i;
}

std::array<uint8_t, 20> Sha1::Final() {
  uint64_t bits = m_length * 8;
  uint8_t pad[72] = {0x80};
  size_t padLength = (m_buffered < 56 ? 56 : 120) - m_buffered;
  for (int i = 0; i < 8; ++i) pad[padLength + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  Update(std::span<const uint8_t>(pad, padLength + 8));
  std::array<uint8_t, 20> out{};
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<uint8_t>(m_h[i] >> (24 - 8 * j));
  return out;
}

}  // namespace plat
