#include "platform/module/Module.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>

#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"
#include "platform/kernel/Kernel.h"

// String resources are viewed in place as UTF-16LE.
static_assert(std::endian::native == std::endian::little, "resource packs are little-endian");

namespace plat {
namespace {

using pack::ReadU16;
using pack::ReadU32;

struct Module {
  WString key;
  int references = 1;
  // The file's bytes live in UTF-16 storage: that keeps string payloads
  // suitably aligned and lets them be read as text without aliasing tricks
  // (byte access to any object is always allowed, the reverse is not).
  std::unique_ptr<char16_t[]> storage;
  size_t size = 0;
  std::vector<WString> typeNames;
  std::map<std::pair<uint16_t, uint16_t>, std::span<const uint8_t>> resources;

  const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(storage.get()); }
};

struct ModuleTable {
  std::mutex lock;
  std::map<uintptr_t, std::unique_ptr<Module>> byHandle;
  std::map<WString, uintptr_t> byKey;
  uintptr_t nextHandle = 0x10000;
  uintptr_t mainModule = 0;
};

ModuleTable& Table() {
  static ModuleTable table;
  return table;
}

// Handles are never reused, so a freed handle stays invalid for good.
ModuleHandle ToHandle(uintptr_t value) { return reinterpret_cast<ModuleHandle>(value); }
uintptr_t FromHandle(ModuleHandle h) { return reinterpret_cast<uintptr_t>(h); }

// One key per file, whatever the spelling: the device's names are
// case-insensitive and a path without a leading backslash is rooted.
WString NormalisedKey(WStringView path) {
  WString key;
  key.reserve(path.size() + 1);
  for (WChar c : path) {
    if (c == u'/') c = u'\\';
    if (c == u'\\' && !key.empty() && key.back() == u'\\') continue;
    if (key.empty() && c != u'\\') key.push_back(u'\\');
    key.push_back(FoldCase(c));
  }
  return key;
}

struct NoCaseLess {
  bool operator()(const WString& a, const WString& b) const { return CompareNoCase(a, b) < 0; }
};

// Checks the whole pack before anything is looked up, so lookups never need
// to check bounds again.
bool ParsePack(Module& m) {
  const uint8_t* p = m.Bytes();
  const uint64_t size = m.size;
  if (size < pack::kHeaderSize || std::memcmp(p, pack::kMagic, 4) != 0) return false;
  if (ReadU16(p + 4) != pack::kVersion) return false;
  const uint16_t nameCount = ReadU16(p + 6);
  const uint64_t entryCount = ReadU32(p + 8);
  uint64_t pos = pack::kHeaderSize + entryCount * pack::kEntrySize;
  if (pos > size) return false;

  // Names are told apart without regard to case; a set keeps that check
  // linear in the count, which a pack may put at 65 535.
  std::set<WString, NoCaseLess> seen;
  for (uint16_t i = 0; i < nameCount; ++i) {
    if (pos + 2 > size) return false;
    const uint16_t length = ReadU16(p + pos);
    pos += 2;
    if (length == 0 || pos + uint64_t{length} * 2 > size) return false;
    WString name(length, u'\0');
    for (uint16_t k = 0; k < length; ++k) name[k] = ReadU16(p + pos + 2 * k);
    pos += uint64_t{length} * 2;
    if (!seen.insert(name).second) return false;
    m.typeNames.push_back(std::move(name));
  }
  const uint64_t dataStart = pos;

  for (uint64_t i = 0; i < entryCount; ++i) {
    const uint8_t* e = p + pack::kHeaderSize + i * pack::kEntrySize;
    const uint16_t type = ReadU16(e);
    const uint16_t id = ReadU16(e + 2);
    const uint64_t offset = ReadU32(e + 4);
    const uint64_t length = ReadU32(e + 8);
    if (type & pack::kNamedTypeFlag) {
      if ((type & ~pack::kNamedTypeFlag) >= nameCount) return false;
    } else if (type == 0) {
      return false;
    }
    if (offset < dataStart || offset + length > size) return false;
    const uint8_t* data = p + offset;

    switch (type) {
      case pack::kTypeString:
        if (length < 2 || offset % 2 != 0 || 2 + uint64_t{ReadU16(data)} * 2 != length) return false;
        break;
      case pack::kTypeAccelerator:
        if (length < 2 || 2 + uint64_t{ReadU16(data)} * pack::kAccelEntrySize != length) return false;
        break;
      case pack::kTypeMenu: {
        if (length < 2) return false;
        const uint16_t items = ReadU16(data);
        uint64_t at = 2;
        for (uint16_t k = 0; k < items; ++k) {
          if (at + 4 > length) return false;
          at += 4 + uint64_t{ReadU16(data + at + 2)} * 2;
          if (at > length) return false;
        }
        if (at != length) return false;
        break;
      }
      default:
        break;
    }
    if (!m.resources.emplace(std::pair{type, id}, std::span<const uint8_t>(data, length)).second)
      return false;  // the same resource twice: which one would be meant?
  }
  return true;
}

// Reads the whole file through the device's file system. Sets the last error
// and returns null on failure.
std::unique_ptr<Module> ReadPack(WStringView path) {
  Handle file = CreateFile(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  if (file == INVALID_HANDLE_VALUE) return nullptr;  // the file system's code stands
  struct Closer {
    Handle h;
    ~Closer() {
      const uint32_t saved = GetLastError();
      CloseHandle(h);
      SetLastError(saved);
    }
  } closer{file};

  uint32_t high = 0;
  SetLastError(ERROR_SUCCESS);
  const uint32_t low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return nullptr;
  if (high != 0) {
    SetLastError(ERROR_BAD_FORMAT);
    return nullptr;
  }
  auto m = std::make_unique<Module>();
  m->size = low;
  m->storage.reset(new (std::nothrow) char16_t[(m->size + 1) / 2 + 1]);
  if (!m->storage) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* bytes = reinterpret_cast<uint8_t*>(m->storage.get());
  size_t got = 0;
  while (got < m->size) {
    uint32_t done = 0;
    if (!ReadFile(file, bytes + got, static_cast<uint32_t>(m->size - got), &done)) return nullptr;
    if (done == 0) break;
    got += done;
  }
  if (got != m->size || !ParsePack(*m)) {
    SetLastError(ERROR_BAD_FORMAT);
    return nullptr;
  }
  return m;
}

// Finds a loaded module; the caller holds the table lock.
Module* Resolve(ModuleTable& t, ModuleHandle h) {
  const uintptr_t value = h ? FromHandle(h) : t.mainModule;
  auto it = t.byHandle.find(value);
  if (it == t.byHandle.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second.get();
}

std::optional<std::span<const uint8_t>> Lookup(ModuleHandle h, const ResType& type, uint16_t id) {
  ModuleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  Module* m = Resolve(t, h);
  if (!m) return std::nullopt;
  uint16_t key = type.Number();
  if (type.IsNamed()) {
    auto it = std::find_if(m->typeNames.begin(), m->typeNames.end(),
                           [&](const WString& n) { return EqualsNoCase(n, type.Name()); });
    if (it == m->typeNames.end()) {
      SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
      return std::nullopt;
    }
    key = static_cast<uint16_t>(pack::kNamedTypeFlag | (it - m->typeNames.begin()));
  } else if (key & pack::kNamedTypeFlag) {
    // Such numbers encode named types inside the pack; no numbered type uses them.
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return std::nullopt;
  }
  auto found = m->resources.find({key, id});
  if (found == m->resources.end()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return std::nullopt;
  }
  return found->second;
}

}  // namespace

ModuleHandle LoadLibrary(WStringView virtualPath) {
  if (virtualPath.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  WString key = NormalisedKey(virtualPath);
  ModuleTable& t = Table();
  {
    std::lock_guard<std::mutex> guard(t.lock);
    if (auto it = t.byKey.find(key); it != t.byKey.end()) {
      ++t.byHandle.at(it->second)->references;
      return ToHandle(it->second);
    }
  }
  // Read outside the lock; another thread may have loaded the same file
  // meanwhile, in which case its copy wins and ours is dropped.
  std::unique_ptr<Module> fresh = ReadPack(virtualPath);
  if (!fresh) return nullptr;
  std::lock_guard<std::mutex> guard(t.lock);
  if (auto it = t.byKey.find(key); it != t.byKey.end()) {
    ++t.byHandle.at(it->second)->references;
    return ToHandle(it->second);
  }
  const uintptr_t handle = t.nextHandle;
  t.nextHandle += 0x10;
  fresh->key = key;
  t.byKey.emplace(std::move(key), handle);
  t.byHandle.emplace(handle, std::move(fresh));
  return ToHandle(handle);
}

bool FreeLibrary(ModuleHandle module) {
  ModuleTable& t = Table();
  std::unique_ptr<Module> doomed;
  {
    std::lock_guard<std::mutex> guard(t.lock);
    auto it = module ? t.byHandle.find(FromHandle(module)) : t.byHandle.end();
    if (it == t.byHandle.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    if (--it->second->references > 0) return true;
    doomed = std::move(it->second);
    t.byKey.erase(doomed->key);
    t.byHandle.erase(it);
    if (t.mainModule == FromHandle(module)) t.mainModule = 0;
  }
  return true;
}

ModuleHandle MainModule() {
  ModuleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  return t.mainModule ? ToHandle(t.mainModule) : nullptr;
}

void SetMainModule(ModuleHandle module) {
  ModuleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  t.mainModule = FromHandle(module);
}

std::optional<std::span<const uint8_t>> FindResource(ModuleHandle module, const ResType& type,
                                                     uint16_t id) {
  return Lookup(module, type, id);
}

std::optional<WStringView> LoadStringRef(ModuleHandle module, uint16_t id) {
  auto data = Lookup(module, RT_STRING, id);
  if (!data) return std::nullopt;
  // Validated on load: the count fits and the payload is aligned.
  const auto* text = reinterpret_cast<const WChar*>(data->data() + 2);
  return WStringView(text, ReadU16(data->data()));
}

int LoadString(ModuleHandle module, uint16_t id, WChar* buf, int cap) {
  if (!buf || cap <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto text = LoadStringRef(module, id);
  if (!text) {
    buf[0] = u'\0';
    return 0;
  }
  size_t n = std::min(text->size(), static_cast<size_t>(cap - 1));
  // A cut between the halves of a surrogate pair would leave half a character.
  if (n < text->size() && n > 0 && ((*text)[n - 1] & 0xFC00) == 0xD800) --n;
  std::copy_n(text->data(), n, buf);
  buf[n] = u'\0';
  return static_cast<int>(n);
}

std::optional<Accelerators> LoadAccelerators(ModuleHandle module, uint16_t id) {
  auto data = Lookup(module, RT_ACCELERATOR, id);
  if (!data) return std::nullopt;
  const uint8_t* p = data->data();
  Accelerators table;
  const uint16_t count = ReadU16(p);
  table.entries.reserve(count);
  for (uint16_t i = 0; i < count; ++i) {
    const uint8_t* e = p + 2 + i * pack::kAccelEntrySize;
    table.entries.push_back({ReadU16(e), ReadU16(e + 2), ReadU16(e + 4)});
  }
  return table;
}

std::optional<MenuTemplate> LoadMenu(ModuleHandle module, uint16_t id) {
  auto data = Lookup(module, RT_MENU, id);
  if (!data) return std::nullopt;
  const uint8_t* p = data->data();
  MenuTemplate menu;
  const uint16_t count = ReadU16(p);
  size_t at = 2;
  for (uint16_t i = 0; i < count; ++i) {
    MenuItem item;
    item.command = ReadU16(p + at);
    const uint16_t length = ReadU16(p + at + 2);
    at += 4;
    item.text.resize(length);
    for (uint16_t k = 0; k < length; ++k) item.text[k] = ReadU16(p + at + 2 * k);
    at += size_t{length} * 2;
    menu.items.push_back(std::move(item));
  }
  return menu;
}

}  // namespace plat
