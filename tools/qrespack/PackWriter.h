// The in-memory pack the manifest readers fill, and its serialisation into
// the pack format the platform's module loader reads.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qrespack {

// A resource type: a number, or a name when `name` is not empty.
struct TypeKey {
  uint16_t number = 0;
  std::u16string name;
  auto operator<=>(const TypeKey&) const = default;
};

struct Accel {
  uint16_t flags = 0;
  uint16_t key = 0;
  uint16_t command = 0;
};

struct MenuEntry {
  uint16_t command = 0;
  std::u16string text;
};

class PackWriter {
 public:
  // Each Add fails (returns false and sets `error`) when the same type and id
  // were added before; `origin` names the source for that message.
  bool AddRaw(const TypeKey& type, uint16_t id, std::vector<uint8_t> data, const std::string& origin,
              std::string& error);
  bool AddString(uint16_t id, const std::u16string& text, const std::string& origin, std::string& error);
  bool AddMenu(uint16_t id, const std::vector<MenuEntry>& items, const std::string& origin,
               std::string& error);
  bool AddAccelerators(uint16_t id, const std::vector<Accel>& entries, const std::string& origin,
                       std::string& error);

  size_t Count() const { return m_resources.size(); }

  // The string resources added so far, for checks over a whole module.
  std::vector<uint16_t> StringIds() const;
  // The text of a string resource; nullopt when there is none.
  std::optional<std::u16string> String(uint16_t id) const;
  // Where a resource came from ("file:line"); empty when there is none.
  std::string Origin(const TypeKey& type, uint16_t id) const;
  // Adds a string or replaces the one already there.
  bool PutString(uint16_t id, const std::u16string& text, const std::string& origin, std::string& error);

  // The pack bytes: entries in type and id order, so the same input always
  // gives the same file. Fails only when the pack would exceed 4 GiB.
  bool Serialize(std::vector<uint8_t>& out, std::string& error) const;

 private:
  struct Resource {
    std::vector<uint8_t> data;
    std::string origin;
  };
  std::map<std::pair<TypeKey, uint16_t>, Resource> m_resources;
};

}  // namespace qrespack
