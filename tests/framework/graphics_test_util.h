// Surfaces the graphics tests draw on and read back, and the font pinning
// that keeps text metrics independent of the fonts a machine has.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

#include "framework/Graphics.h"
#include "platform/gdi/Gdi.h"
#include "platform/registry/Registry.h"

namespace gfx {

inline const std::filesystem::path kRegular = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
inline const std::filesystem::path kBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

inline bool PinTestFont() {
  if (!std::filesystem::exists(kRegular) || !std::filesystem::exists(kBold)) return false;
  constexpr plat::WChar kKey[] = u"Platform\\Linux\\FontFile";
  plat::WriteString(plat::HKEY_LOCAL_MACHINE, kKey, u"Tahoma", plat::FromUtf8(kRegular.string()));
  plat::WriteString(plat::HKEY_LOCAL_MACHINE, kKey, u"Tahoma Bold", plat::FromUtf8(kBold.string()));
  return true;
}

// A top-down DIB section: 32-bit B, G, R, A (a pixel reads as 0xAARRGGBB)
// or 16-bit RGB565.
class Surface {
 public:
  Surface(int32_t w, int32_t h, int bpp = 32) : m_w(w), m_h(h), m_bpp(bpp) {
    plat::BitmapInfo info;
    info.header.width = w;
    info.header.height = -h;
    info.header.bitCount = uint16_t(bpp);
    info.header.compression = plat::BI_BITFIELDS;
    if (bpp == 16) {
      info.masks[0] = 0xF800, info.masks[1] = 0x07E0, info.masks[2] = 0x001F;
    } else {
      info.masks[0] = 0x00FF0000, info.masks[1] = 0x0000FF00, info.masks[2] = 0x000000FF;
    }
    void* bits = nullptr;
    m_bitmap = plat::CreateDIBSection(nullptr, info, plat::DIB_RGB_COLORS, &bits);
    EXPECT_NE(m_bitmap, nullptr);
    m_bits = static_cast<uint8_t*>(bits);
    m_stride = ((w * bpp + 31) / 32) * 4;
  }
  ~Surface() {
    if (m_owned) plat::DeleteObject(m_bitmap);
  }
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  plat::HBITMAP Bitmap() const { return m_bitmap; }
  // Hands the handle to a CBitmap (which deletes it).
  CBitmap* ToBitmap(bool alpha) {
    m_owned = false;
    return CBitmap::FromHandle(m_bitmap, alpha);
  }
  int32_t W() const { return m_w; }
  int32_t H() const { return m_h; }
  uint32_t Px(int32_t x, int32_t y) const {
    uint32_t v = 0;
    std::memcpy(&v, m_bits + size_t(y) * size_t(m_stride) + size_t(x) * (m_bpp / 8), size_t(m_bpp / 8));
    return v;
  }
  void Set(int32_t x, int32_t y, uint32_t v) {
    std::memcpy(m_bits + size_t(y) * size_t(m_stride) + size_t(x) * (m_bpp / 8), &v, size_t(m_bpp / 8));
  }
  void Fill(uint32_t v) {
    for (int32_t y = 0; y < m_h; ++y)
      for (int32_t x = 0; x < m_w; ++x) Set(x, y, v);
  }
  std::vector<uint32_t> All() const {
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < m_h; ++y)
      for (int32_t x = 0; x < m_w; ++x) out.push_back(Px(x, y));
    return out;
  }

 private:
  int32_t m_w, m_h;
  int m_bpp;
  int32_t m_stride = 0;
  uint8_t* m_bits = nullptr;
  plat::HBITMAP m_bitmap = nullptr;
  bool m_owned = true;
};

// The pixels of a CBitmap, top row first, as 0xAARRGGBB, read through a copy
// so that the bitmap's own row order does not matter.
inline std::vector<uint32_t> Pixels(const CBitmap* bitmap) {
  const RECT size = bitmap->GetSize();
  Surface copy(size.right, size.bottom);
  plat::HDC from = plat::CreateCompatibleDC(nullptr);
  plat::HDC to = plat::CreateCompatibleDC(nullptr);
  plat::HGDIOBJ oldFrom = plat::SelectObject(from, bitmap->Handle());
  plat::HGDIOBJ oldTo = plat::SelectObject(to, copy.Bitmap());
  EXPECT_TRUE(plat::BitBlt(to, 0, 0, size.right, size.bottom, from, 0, 0, plat::SRCCOPY));
  plat::SelectObject(from, oldFrom);
  plat::SelectObject(to, oldTo);
  plat::DeleteDC(from);
  plat::DeleteDC(to);
  return copy.All();
}

// Drops one reference at the end of the scope.
template <class T>
struct Held {
  explicit Held(T* p) : ptr(p) {}
  ~Held() {
    if (ptr) ptr->removeReference();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  T* operator->() const { return ptr; }
  T* get() const { return ptr; }
  T* ptr;
};

}  // namespace gfx
