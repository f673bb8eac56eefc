// Layout of a resource pack, shared by the reader (Module.cpp) and the build
// tool that writes packs (tools/qrespack). Header-only and free of platform
// dependencies so the tool can be built before anything else.
//
// All numbers are little-endian.
//
//   header      "QRES", u16 version, u16 name count, u32 entry count   (12 bytes)
//   entries     entry count x { u16 type, u16 id, u32 offset, u32 size }   (12 bytes each)
//   type names  name count x { u16 length, length x UTF-16 unit }
//   data        what the entries point at; offsets are from the start of the file
//
// An entry's type is either a number (1 .. 0x7FFF, e.g. 10 for raw data) or,
// with kNamedTypeFlag set, an index into the type-name table ("IIMAGE").
//
// Typed payloads:
//   string       u16 count, count x UTF-16 unit (no terminator); the payload
//                starts on an even offset so the text can be viewed in place
//   menu         u16 item count, then per item { u16 command, u16 length, length x UTF-16 unit }
//   accelerators u16 count, then count x { u16 flags, u16 key, u16 command }
// Every payload starts on a 4-byte boundary; padding is zero.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat::pack {

inline constexpr char kMagic[4] = {'Q', 'R', 'E', 'S'};
inline constexpr uint16_t kVersion = 1;
inline constexpr size_t kHeaderSize = 12;
inline constexpr size_t kEntrySize = 12;
inline constexpr uint16_t kNamedTypeFlag = 0x8000;
inline constexpr size_t kAlignment = 4;

inline constexpr uint16_t kTypeMenu = 4;
inline constexpr uint16_t kTypeString = 6;
inline constexpr uint16_t kTypeAccelerator = 9;
inline constexpr uint16_t kTypeRcData = 10;

inline constexpr size_t kAccelEntrySize = 6;

// Accelerator flags, with the values the program's key tables use.
inline constexpr uint16_t kAccelVirtKey = 0x01;
inline constexpr uint16_t kAccelNoInvert = 0x02;
inline constexpr uint16_t kAccelShift = 0x04;
inline constexpr uint16_t kAccelControl = 0x08;
inline constexpr uint16_t kAccelAlt = 0x10;
inline constexpr uint16_t kAccelKnownFlags = 0x1F;

inline uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadU32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace plat::pack
