// The device the kill target and its checker share: registry hives and the
// file system under one root with one storage card, as the program sets
// them up; the values the target writes, the previews it commits and what
// it reports after each step.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/base/Strings.h"
#include "platform/fs/FileSystem.h"
#include "platform/registry/Registry.h"

namespace killtest {

// The target writes one of these to its report pipe after each step, so the
// checker can place a kill by steps done rather than by time.
constexpr char kHiveWritten = 'h';
constexpr char kPieceWritten = 'p';
constexpr char kCommitted = 'c';

inline void UseDevice(const std::filesystem::path& root) {
  plat::RegistryConfig registry;
  registry.folder = root / "registry";
  plat::ConfigureRegistry(registry);
  plat::FileSystemConfig files;
  files.deviceRoot = root;
  files.cards.push_back({u"Storage Card", root / "cards" / "Storage Card", false});
  std::filesystem::create_directories(root / "cards" / "Storage Card");
  plat::ConfigureFileSystem(files);
}

// The interface language codes the target stores in turn, each as long as
// a settings page's worth of text so that a hive takes a while to write.
inline plat::WString LanguageValue(uint32_t i) {
  static const char16_t* const kCodes[] = {u"EN", u"FR", u"pt_BR", u"CHI_S", u"AR", u"DE"};
  const plat::WString code = kCodes[i % 6];
  plat::WString value = code;
  while (value.size() < 3000) value += u"|" + code;
  return value;
}

// A preview's body: its length in the first eight bytes, then a pattern, so
// a cut file shows.
inline std::string PreviewBody(uint32_t i) {
  const uint64_t size = 4000 + (i * 7919u) % 60000;
  std::string body(size, '\0');
  for (int b = 0; b < 8; ++b) body[b] = static_cast<char>((size >> (8 * b)) & 0xFF);
  for (uint64_t k = 8; k < size; ++k) body[k] = static_cast<char>('a' + k % 26);
  return body;
}

inline bool IsWholePreview(const std::string& bytes) {
  if (bytes.size() < 8) return false;
  uint64_t size = 0;
  for (int b = 0; b < 8; ++b) size |= uint64_t{static_cast<uint8_t>(bytes[b])} << (8 * b);
  if (size != bytes.size()) return false;
  for (uint64_t k = 8; k < size; ++k)
    if (bytes[k] != static_cast<char>('a' + k % 26)) return false;
  return true;
}

}  // namespace killtest
