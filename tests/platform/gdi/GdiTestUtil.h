// Small synthetic bitmaps for exact pixel tests: a DIB section selected into
// its own memory DC, addressed top row first whatever its memory order, and a
// comparison that checks a whole surface by hash and writes PNGs of both
// sides only when they differ.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/display/Display.h"
#include "platform/display/Headless.h"
#include "platform/gdi/Gdi.h"

namespace gt {

enum class Fmt { R565, R555, Bgra };

inline plat::BitmapInfo InfoFor(Fmt fmt, int w, int h, bool topDown, bool bitfields = true) {
  plat::BitmapInfo bi;
  bi.header.width = w;
  bi.header.height = topDown ? -h : h;
  bi.header.bitCount = fmt == Fmt::Bgra ? 32 : 16;
  bi.header.compression = (fmt == Fmt::R565 || bitfields) ? plat::BI_BITFIELDS : plat::BI_RGB;
  if (fmt == Fmt::R565) {
    bi.masks[0] = 0xF800, bi.masks[1] = 0x07E0, bi.masks[2] = 0x001F;
  } else if (fmt == Fmt::R555) {
    bi.masks[0] = 0x7C00, bi.masks[1] = 0x03E0, bi.masks[2] = 0x001F;
  } else {
    bi.masks[0] = 0x00FF0000, bi.masks[1] = 0x0000FF00, bi.masks[2] = 0x000000FF;
  }
  return bi;
}

// A DIB section in a memory DC of its own.
class Dib {
 public:
  Dib(Fmt fmt, int w, int h, bool topDown = true) : m_fmt(fmt), m_w(w), m_h(h), m_topDown(topDown) {
    m_dc = plat::CreateCompatibleDC(nullptr);
    m_bitmap = plat::CreateDIBSection(m_dc, InfoFor(fmt, w, h, topDown), plat::DIB_RGB_COLORS, &m_bits);
    EXPECT_NE(m_bitmap, nullptr);
    m_old = plat::SelectObject(m_dc, m_bitmap);
    m_stride = ((w * (fmt == Fmt::Bgra ? 32 : 16) + 31) / 32) * 4;
  }
  ~Dib() {
    plat::SelectObject(m_dc, m_old);
    plat::DeleteDC(m_dc);
    plat::DeleteObject(m_bitmap);
  }
  Dib(const Dib&) = delete;
  Dib& operator=(const Dib&) = delete;

  plat::HDC dc() const { return m_dc; }
  plat::HBITMAP bitmap() const { return m_bitmap; }
  int w() const { return m_w; }
  int h() const { return m_h; }
  Fmt fmt() const { return m_fmt; }
  int Bpp() const { return m_fmt == Fmt::Bgra ? 4 : 2; }

  uint8_t* Address(int x, int y) const {
    const int row = m_topDown ? y : m_h - 1 - y;
    return static_cast<uint8_t*>(m_bits) + static_cast<size_t>(row) * m_stride + static_cast<size_t>(x) * Bpp();
  }
  uint32_t Get(int x, int y) const {
    uint32_t v = 0;
    std::memcpy(&v, Address(x, y), Bpp());
    return v;
  }
  void Set(int x, int y, uint32_t v) { std::memcpy(Address(x, y), &v, Bpp()); }
  std::vector<uint32_t> Pixels() const {
    std::vector<uint32_t> out;
    for (int y = 0; y < m_h; ++y)
      for (int x = 0; x < m_w; ++x) out.push_back(Get(x, y));
    return out;
  }
  void Load(const std::vector<uint32_t>& px) {
    for (int y = 0; y < m_h; ++y)
      for (int x = 0; x < m_w; ++x) Set(x, y, px[static_cast<size_t>(y) * m_w + x]);
  }
  // Deterministic, different in every pixel and channel.
  void Pattern(uint32_t seed) {
    uint32_t s = seed * 2654435761u + 1;
    for (int y = 0; y < m_h; ++y)
      for (int x = 0; x < m_w; ++x) {
        s = s * 1664525u + 1013904223u;
        Set(x, y, m_fmt == Fmt::Bgra ? s : (s >> 16) & (m_fmt == Fmt::R555 ? 0x7FFF : 0xFFFF));
      }
  }

 private:
  Fmt m_fmt;
  int m_w, m_h;
  bool m_topDown;
  void* m_bits = nullptr;
  int m_stride = 0;
  plat::HDC m_dc = nullptr;
  plat::HBITMAP m_bitmap = nullptr;
  plat::HGDIOBJ m_old = nullptr;
};

inline uint64_t Hash(const std::vector<uint32_t>& px) {
  uint64_t h = 1469598103934665603ull;
  for (uint32_t v : px) {
    for (int i = 0; i < 4; ++i) h = (h ^ ((v >> (8 * i)) & 0xFF)) * 1099511628211ull;
  }
  return h;
}

// 8-bit channels of a pixel value of the given format, by the layer's rules,
// written out here independently of the code under test.
struct C8 {
  int r, g, b, a;
};
inline int Rep5(int v) { return (v << 3) | (v >> 2); }
inline int Rep6(int v) { return (v << 2) | (v >> 4); }
inline C8 Channels(Fmt f, uint32_t v) {
  switch (f) {
    case Fmt::R565: return {Rep5((v >> 11) & 31), Rep6((v >> 5) & 63), Rep5(v & 31), 255};
    case Fmt::R555: return {Rep5((v >> 10) & 31), Rep5((v >> 5) & 31), Rep5(v & 31), 255};
    case Fmt::Bgra: return {int((v >> 16) & 255), int((v >> 8) & 255), int(v & 255), int(v >> 24)};
  }
  return {};
}
inline uint32_t Pack(Fmt f, C8 c) {
  switch (f) {
    case Fmt::R565: return uint32_t((c.r >> 3) << 11 | (c.g >> 2) << 5 | (c.b >> 3));
    case Fmt::R555: return uint32_t((c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3));
    case Fmt::Bgra: return uint32_t(c.a) << 24 | uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | uint32_t(c.b);
  }
  return 0;
}
// A pixel copied from one format to another (opaque sources give alpha 255).
inline uint32_t Convert(Fmt from, uint32_t v, Fmt to) {
  if (from == to) return v;
  return Pack(to, Channels(from, v));
}

inline void WritePng(Fmt f, int w, int h, const std::vector<uint32_t>& px, const std::filesystem::path& path) {
  plat::FrameBuffer fb;
  fb.Reallocate(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) fb.Row(y)[x] = static_cast<uint16_t>(Convert(f, px[size_t(y) * w + x], Fmt::R565));
  plat::WriteFrameBufferPng(fb, path);
}

// Compares by hash; on a mismatch names the first differing pixel and leaves
// actual and expected PNGs in the test's temporary folder.
inline void ExpectPixels(const Dib& actual, const std::vector<uint32_t>& expected, const std::string& step) {
  const std::vector<uint32_t> got = actual.Pixels();
  if (Hash(got) == Hash(expected) && got == expected) return;
  size_t i = 0;
  while (i < got.size() && i < expected.size() && got[i] == expected[i]) ++i;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string base = std::string(info->test_suite_name()) + "." + info->name() + "." + step;
  for (char& c : base)
    if (!isalnum(static_cast<unsigned char>(c)) && c != '.') c = '_';
  const std::filesystem::path dir = ::testing::TempDir();
  WritePng(actual.fmt(), actual.w(), actual.h(), got, dir / (base + ".actual.png"));
  WritePng(actual.fmt(), actual.w(), actual.h(), expected, dir / (base + ".expected.png"));
  ADD_FAILURE() << step << ": pixels differ (hash " << std::hex << Hash(got) << " != " << Hash(expected)
                << "), first at (" << std::dec << (i % actual.w()) << ", " << (i / actual.w()) << "): got 0x"
                << std::hex << (i < got.size() ? got[i] : 0) << " expected 0x"
                << (i < expected.size() ? expected[i] : 0) << "; PNGs in " << dir.string();
}

}  // namespace gt
