// The hives' text form: the regedit 5 subset a person can edit by hand.
//
//   ; comment
//   [HKEY_CURRENT_USER\SOFTWARE\Orlamet\Quorel]
//   "url"="http://example.org/a \"quoted\" \\ path"
//   "minimum_search_length"=dword:0000001e
//   "quorelGUID"=hex:01,02,03,04,05    (a long list continues on the next
//                                        line after a trailing backslash)
//   "odd"=hex(1):41,00,42
//   @="the key's default value"
//
// An exported hive's first line ("Windows Registry Editor Version 5.00" or
// "REGEDIT4") is taken as a comment.
//
// Internal to the registry module; the store is in Registry.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Strings.h"

namespace plat::regtext {

constexpr int kCurrentUser = 0;
constexpr int kLocalMachine = 1;
constexpr int kHiveCount = 2;

// "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE".
std::string_view RootName(int hive);

struct Value {
  WString name;  // empty for the key's default value ("@")
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// One key line or one value line, in file order. A value belongs to the key
// line before it, which the parser repeats in `hive` and `path`.
struct Item {
  int line = 0;
  int hive = 0;
  std::vector<WString> path;   // components below the root; empty = the root
  std::optional<Value> value;  // absent on a key line
};

struct Problem {
  int line = 0;
  std::string what;
};

struct Document {
  std::vector<Item> items;
  std::vector<Problem> problems;
};

// Never fails as a whole: a line it cannot take is left out and described in
// `problems`; every other line is kept.
Document Parse(std::string_view text);

// Limits shared by the parser and the store, so that whatever the store keeps
// can be written out and read back unchanged.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
// Empty when the name can be stored, else why not.
std::string CheckKeyName(WStringView name);
std::string CheckValueName(WStringView name);

void AppendKeyLine(std::string& out, int hive, const std::vector<WString>& path);
void AppendValueLine(std::string& out, const Value& value);

}  // namespace plat::regtext
