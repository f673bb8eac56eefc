// The PNG loader: PNG bytes (a resource of the program, or a picture
// downloaded from the server) into a 32-bit DIB section ready for AlphaBlend.
//
// The result is bottom-up (the first PNG row is the last row in memory), one
// pixel per four bytes B, G, R, A with B, G and R premultiplied by A
// (floor(c * A / 255)); pictures without an alpha channel or transparency
// chunk get A = 255. Every PNG colour type and bit depth is accepted; 16-bit
// samples are cut to 8 bits, palettes and grey are expanded to RGB, and
// interlaced pictures come out as their non-interlaced twins. No gamma
// correction is applied: colours come out as stored.
//
// Bad data never ends the program and never asks the user: the reason is
// written to the debug trace and the result is none. That covers data
// shorter than the signature, a wrong signature, a libpng error (corrupt or
// unsupported data), a picture above kMaxPngPixels, and data that ends before
// every row of the picture arrived.
//
// Each call decodes on its own state, so calls may overlap on several
// threads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/gdi/Gdi.h"

// The largest picture the loader decodes: 16 M pixels (64 MB as a DIB).
inline constexpr uint64_t kMaxPngPixels = uint64_t{1} << 24;

// A new DIB section owned by the caller (DeleteObject), or null.
plat::HBITMAP LoadPngImage(const uint8_t* pData, size_t nSize);

// The RT_RCDATA resource `nId` of the program's main module through
// LoadPngImage. Null when the resource is missing or does not decode.
plat::HBITMAP LoadPngResource(uint16_t nId);
