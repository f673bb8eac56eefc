// Fuzz target for the resource pack reader: any bytes as the main pack or a
// language module are refused as a bad format or load, and then every
// resource the entry table names is found with the size and bytes it names,
// and every string, menu and accelerator table reads back within its bounds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"
#include "platform/module/Module.h"
#include "platform/module/PackFormat.h"
#include "support/ScratchFolder.h"

namespace {

namespace fs = std::filesystem;
namespace pack = plat::pack;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "pack fuzz invariant broken: %s\n", what);
  std::abort();
}

void Prepare() {
  const fs::path& folder = fuzzsupport::ScratchFolder();
  fs::create_directories(folder / "program");
  plat::FileSystemConfig config;
  config.deviceRoot = folder / "device";
  config.programFolder = folder / "program";
  Check(plat::ConfigureFileSystem(config), "no file system");
}

// Reads every byte, so that a view reaching past its module's memory is an
// address fault.
uint32_t Touch(const void* data, size_t size) {
  uint32_t sum = 0;
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) sum += p[i];
  return sum;
}

void CheckString(plat::ModuleHandle module, uint16_t id, size_t size) {
  const std::optional<plat::WStringView> text = plat::LoadStringRef(module, id);
  Check(text && 2 + text->size() * 2 == size, "a string's view does not match its entry");
  Touch(text->data(), text->size() * sizeof(char16_t));
  for (int cap : {1, 2, 3, static_cast<int>(text->size()) + 1}) {
    std::vector<char16_t> buffer(static_cast<size_t>(cap), u'#');
    const int copied = plat::LoadString(module, id, buffer.data(), cap);
    Check(copied >= 0 && copied < cap && buffer[static_cast<size_t>(copied)] == u'\0', "a copy overran its buffer");
    Check(text->substr(0, static_cast<size_t>(copied)) == plat::WStringView(buffer.data(), static_cast<size_t>(copied)),
          "a copy differs from the view");
    const size_t cut = static_cast<size_t>(copied);
    if (cut > 0 && cut < text->size())
      Check((buffer[cut - 1] & 0xFC00) != 0xD800 || ((*text)[cut] & 0xFC00) != 0xDC00, "a copy split a surrogate pair");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool s_bReady = (Prepare(), true);
  (void)s_bReady;
  // Both kinds of module go through the one reader.
  const std::u16string name = size % 2 ? u"Quorel.exe.0409.mui" : u"Quorel.res";
  const fs::path file = fuzzsupport::ScratchFolder() / "program" / (size % 2 ? "Quorel.exe.0409.mui" : "Quorel.res");
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  plat::SetLastError(0);
  plat::ModuleHandle module = plat::LoadLibrary(u"\\Program Files\\Quorel\\" + name);
  if (!module) {
    Check(plat::GetLastError() == plat::ERROR_BAD_FORMAT, "a refused pack is not reported as a bad format");
    return 0;
  }

  // Loaded, so the header, the entry table and the type names are whole.
  const uint16_t nameCount = pack::ReadU16(data + 6);
  const uint32_t entryCount = pack::ReadU32(data + 8);
  size_t at = pack::kHeaderSize + size_t{entryCount} * pack::kEntrySize;
  std::vector<std::u16string> typeNames;
  for (uint16_t i = 0; i < nameCount; ++i) {
    std::u16string typeName(pack::ReadU16(data + at), u'\0');
    for (size_t k = 0; k < typeName.size(); ++k) typeName[k] = pack::ReadU16(data + at + 2 + 2 * k);
    at += 2 + typeName.size() * 2;
    typeNames.push_back(std::move(typeName));
  }
  for (uint32_t i = 0; i < entryCount; ++i) {
    const uint8_t* entry = data + pack::kHeaderSize + size_t{i} * pack::kEntrySize;
    const uint16_t type = pack::ReadU16(entry), id = pack::ReadU16(entry + 2);
    const uint32_t offset = pack::ReadU32(entry + 4), length = pack::ReadU32(entry + 8);
    const plat::ResType resType = type & pack::kNamedTypeFlag
                                      ? plat::ResType(plat::WStringView(typeNames.at(type & ~pack::kNamedTypeFlag)))
                                      : plat::ResType(type);
    const auto bytes = plat::FindResource(module, resType, id);
    Check(bytes && bytes->size() == length, "a resource is missing or has another size");
    Check(length == 0 || std::memcmp(bytes->data(), data + offset, length) == 0, "a resource has other bytes");
    switch (type) {
      case pack::kTypeString:
        CheckString(module, id, length);
        break;
      case pack::kTypeMenu: {
        const auto menu = plat::LoadMenu(module, id);
        Check(menu && menu->items.size() == pack::ReadU16(data + offset), "a menu lost items");
        break;
      }
      case pack::kTypeAccelerator: {
        const auto table = plat::LoadAccelerators(module, id);
        Check(table && table->entries.size() == pack::ReadU16(data + offset), "an accelerator table lost entries");
        break;
      }
      default:
        break;
    }
  }
  Check(plat::FreeLibrary(module), "a loaded module cannot be freed");
  Check(!plat::FreeLibrary(module), "a freed module is freed again");
  return 0;
}
