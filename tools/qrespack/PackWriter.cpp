#include "tools/qrespack/PackWriter.h"

#include <limits>

#include "platform/module/PackFormat.h"

namespace qrespack {
namespace {

namespace pack = plat::pack;

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void SetU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutText(std::vector<uint8_t>& out, const std::u16string& text) {
  PutU16(out, static_cast<uint16_t>(text.size()));
  for (char16_t c : text) PutU16(out, c);
}

std::string Describe(const TypeKey& type, uint16_t id) {
  std::string name;
  if (!type.name.empty()) {
    name = "\"";
    for (char16_t c : type.name) name.push_back(static_cast<char>(c));
    name += "\"";
  } else {
    switch (type.number) {
      case pack::kTypeString: name = "string"; break;
      case pack::kTypeMenu: name = "menu"; break;
      case pack::kTypeAccelerator: name = "accelerator table"; break;
      case pack::kTypeRcData: name = "rcdata"; break;
      default: name = "type " + std::to_string(type.number); break;
    }
  }
  return name + " " + std::to_string(id);
}

bool TooLong(size_t units) { return units > std::numeric_limits<uint16_t>::max(); }

}  // namespace

bool PackWriter::AddRaw(const TypeKey& type, uint16_t id, std::vector<uint8_t> data,
                        const std::string& origin, std::string& error) {
  if (type.name.empty() && (type.number == 0 || (type.number & pack::kNamedTypeFlag))) {
    error = "resource type number " + std::to_string(type.number) + " is out of range";
    return false;
  }
  auto [it, added] = m_resources.try_emplace({type, id});
  if (!added) {
    error = Describe(type, id) + " already comes from " + it->second.origin;
    return false;
  }
  it->second.data = std::move(data);
  it->second.origin = origin;
  return true;
}

bool PackWriter::AddString(uint16_t id, const std::u16string& text, const std::string& origin,
                           std::string& error) {
  if (TooLong(text.size())) {
    error = "string " + std::to_string(id) + " is longer than 65535 UTF-16 units";
    return false;
  }
  std::vector<uint8_t> data;
  PutText(data, text);
  return AddRaw({pack::kTypeString, {}}, id, std::move(data), origin, error);
}

bool PackWriter::PutString(uint16_t id, const std::u16string& text, const std::string& origin,
                           std::string& error) {
  // A text too long for the pack leaves the old one in place.
  if (TooLong(text.size())) return AddString(id, text, origin, error);
  m_resources.erase({TypeKey{pack::kTypeString, {}}, id});
  return AddString(id, text, origin, error);
}

std::vector<uint16_t> PackWriter::StringIds() const {
  std::vector<uint16_t> ids;
  for (const auto& [key, resource] : m_resources)
    if (key.first == TypeKey{pack::kTypeString, {}}) ids.push_back(key.second);
  return ids;
}

std::optional<std::u16string> PackWriter::String(uint16_t id) const {
  const auto it = m_resources.find({TypeKey{pack::kTypeString, {}}, id});
  if (it == m_resources.end()) return std::nullopt;
  const std::vector<uint8_t>& data = it->second.data;
  std::u16string text;
  for (size_t i = 2; i + 1 < data.size(); i += 2)
    text.push_back(static_cast<char16_t>(pack::ReadU16(&data[i])));
  return text;
}

std::string PackWriter::Origin(const TypeKey& type, uint16_t id) const {
  const auto it = m_resources.find({type, id});
  return it == m_resources.end() ? std::string() : it->second.origin;
}

bool PackWriter::AddMenu(uint16_t id, const std::vector<MenuEntry>& items, const std::string& origin,
                         std::string& error) {
  if (TooLong(items.size())) {
    error = "menu " + std::to_string(id) + " has more than 65535 items";
    return false;
  }
  std::vector<uint8_t> data;
  PutU16(data, static_cast<uint16_t>(items.size()));
  for (const MenuEntry& item : items) {
    if (TooLong(item.text.size())) {
      error = "a text of menu " + std::to_string(id) + " is longer than 65535 UTF-16 units";
      return false;
    }
    PutU16(data, item.command);
    PutText(data, item.text);
  }
  return AddRaw({pack::kTypeMenu, {}}, id, std::move(data), origin, error);
}

bool PackWriter::AddAccelerators(uint16_t id, const std::vector<Accel>& entries, const std::string& origin,
                                 std::string& error) {
  if (TooLong(entries.size())) {
    error = "accelerator table " + std::to_string(id) + " has more than 65535 entries";
    return false;
  }
  std::vector<uint8_t> data;
  PutU16(data, static_cast<uint16_t>(entries.size()));
  for (const Accel& a : entries) {
    PutU16(data, a.flags);
    PutU16(data, a.key);
    PutU16(data, a.command);
  }
  return AddRaw({pack::kTypeAccelerator, {}}, id, std::move(data), origin, error);
}

bool PackWriter::Serialize(std::vector<uint8_t>& out, std::string& error) const {
  std::map<std::u16string, uint16_t> nameIndex;
  for (const auto& [key, resource] : m_resources)
    if (!key.first.name.empty()) nameIndex.emplace(key.first.name, 0);
  if (nameIndex.size() > pack::kNamedTypeFlag) {
    error = "too many named resource types";
    return false;
  }
  uint16_t next = 0;
  for (auto& [name, index] : nameIndex) index = next++;

  out.clear();
  for (char c : pack::kMagic) out.push_back(static_cast<uint8_t>(c));
  PutU16(out, pack::kVersion);
  PutU16(out, static_cast<uint16_t>(nameIndex.size()));
  PutU32(out, static_cast<uint32_t>(m_resources.size()));

  // Entries first with their offsets left blank, then the names, then the data.
  const size_t entries = out.size();
  for (const auto& [key, resource] : m_resources) {
    const TypeKey& type = key.first;
    PutU16(out, type.name.empty() ? type.number
                                  : static_cast<uint16_t>(pack::kNamedTypeFlag | nameIndex.at(type.name)));
    PutU16(out, key.second);
    PutU32(out, 0);
    PutU32(out, static_cast<uint32_t>(resource.data.size()));
  }
  for (const auto& [name, index] : nameIndex) PutText(out, name);

  size_t entry = entries;
  for (const auto& [key, resource] : m_resources) {
    while (out.size() % pack::kAlignment) out.push_back(0);
    const uint64_t offset = out.size();
    if (offset + resource.data.size() > std::numeric_limits<uint32_t>::max()) {
      error = "the pack would exceed 4 GiB";
      return false;
    }
    SetU32(out, entry + 4, static_cast<uint32_t>(offset));
    out.insert(out.end(), resource.data.begin(), resource.data.end());
    entry += pack::kEntrySize;
  }
  return true;
}

}  // namespace qrespack
