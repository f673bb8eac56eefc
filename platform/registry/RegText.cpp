#include "platform/registry/RegText.h"

#include <cstdio>

namespace plat::regtext {
namespace {

constexpr uint32_t kTypeSz = 1;
constexpr uint32_t kTypeBinary = 3;
constexpr uint32_t kTypeDword = 4;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool StartsWithAsciiNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (LowerAscii(s[i]) != LowerAscii(prefix[i])) return false;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hex digits at the front of `s`; consumes them.
std::optional<uint32_t> TakeHexNumber(std::string_view& s) {
  uint32_t v = 0;
  size_t n = 0;
  while (n < s.size() && HexDigit(s[n]) >= 0) {
    if (n == 8) return std::nullopt;
    v = (v << 4) | static_cast<uint32_t>(HexDigit(s[n]));
    ++n;
  }
  if (n == 0) return std::nullopt;
  s.remove_prefix(n);
  return v;
}

// After a complete value only blanks and a ';' comment may follow.
bool OnlyCommentLeft(std::string_view s) {
  s = TrimLeft(s);
  return s.empty() || s.front() == ';';
}

// A quoted text starting just after its opening quote; `\\` and `\"` are the
// escapes. A backslash before anything else is kept as it stands, because a
// person typing a path by hand means exactly that backslash.
std::optional<std::string> TakeQuoted(std::string_view& s) {
  std::string out;
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"') {
      s.remove_prefix(i + 1);
      return out;
    }
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out += s[i + 1];
      i += 2;
      continue;
    }
    out += c;
    ++i;
  }
  return std::nullopt;
}

void AppendQuoted(std::string& out, WStringView text) {
  out += '"';
  for (char c : ToUtf8(text)) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

bool WellFormedUtf16(WStringView s) {
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

std::string CheckName(WStringView name, size_t maxLength, bool isKey) {
  if (name.size() > maxLength) return "name longer than " + std::to_string(maxLength) + " characters";
  for (char16_t c : name) {
    if (c < 0x20) return "name holds a control character";
    if (isKey && c == u'\\') return "key name holds a backslash";
  }
  if (!WellFormedUtf16(name)) return "name holds a lone surrogate";
  return {};
}

std::vector<uint8_t> StringBytes(WStringView text) {
  std::vector<uint8_t> out;
  out.reserve((text.size() + 1) * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

// A REG_SZ is written as readable text only when reading that text back gives
// the very same bytes: even length, one terminator at the end and nowhere
// else, nothing that would break the line, valid UTF-16. Anything else keeps
// its exact bytes as hex(1).
std::optional<WString> PlainText(const std::vector<uint8_t>& data) {
  if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
  WString text;
  size_t units = data.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    char16_t c = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (i + 1 == units) {
      if (c != 0) return std::nullopt;
    } else {
      if (c < 0x20 && c != u'\t') return std::nullopt;
      text += c;
    }
  }
  if (!WellFormedUtf16(text)) return std::nullopt;
  return text;
}

void AppendHex(std::string& out, size_t column, const std::vector<uint8_t>& data) {
  // Wrapped like regedit does, so a long value stays readable in an editor.
  constexpr size_t kWidth = 77;
  char buf[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", data[i]);
    size_t need = (i + 1 < data.size()) ? 3 : 2;
    if (i > 0 && column + need > kWidth) {
      out += "\\\n  ";
      column = 2;
    }
    out += buf;
    if (i + 1 < data.size()) out += ',';
    column += need;
  }
}

class Parser {
 public:
  explicit Parser(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      lines_.push_back(text.substr(start, end - start));
      start = end + 1;
    }
  }

  Document Run() {
    for (index_ = 0; index_ < lines_.size(); ++index_) {
      lineNo_ = static_cast<int>(index_ + 1);
      std::string_view s = TrimRight(TrimLeft(lines_[index_]));
      if (s.empty() || s.front() == ';') continue;
      // The first line of an exported hive names the exporting editor.
      if (index_ == 0 && (s == "Windows Registry Editor Version 5.00" || s == "REGEDIT4")) continue;
      if (s.front() == '[') {
        KeyLine(s);
      } else if (s.front() == '"' || s.front() == '@') {
        ValueLine(s);
      } else {
        Fail("not a key, value or comment line");
      }
    }
    return std::move(doc_);
  }

 private:
  void Fail(std::string what) { doc_.problems.push_back({lineNo_, std::move(what)}); }

  void KeyLine(std::string_view s) {
    haveKey_ = false;
    keyLine_ = lineNo_;
    if (s.back() != ']') return Fail("key line without a closing ']'");
    std::string_view inner = s.substr(1, s.size() - 2);
    if (!inner.empty() && inner.front() == '-') return Fail("deleting keys is not supported");
    size_t slash = inner.find('\\');
    std::string_view root = inner.substr(0, slash);
    int hive = -1;
    for (int h = 0; h < kHiveCount; ++h)
      if (root.size() == RootName(h).size() && StartsWithAsciiNoCase(root, RootName(h)))
        hive = h;
    if (hive < 0) return Fail("unknown root '" + std::string(root) + "'");
    std::vector<WString> path;
    if (slash != std::string_view::npos) {
      std::string_view rest = inner.substr(slash + 1);
      size_t pos = 0;
      while (true) {
        size_t next = rest.find('\\', pos);
        std::string_view part = rest.substr(pos, next == std::string_view::npos ? rest.npos : next - pos);
        if (part.empty()) return Fail("empty key name in the path");
        WString name = FromUtf8(part);
        if (std::string why = CheckKeyName(name); !why.empty()) return Fail(why);
        path.push_back(std::move(name));
        if (next == std::string_view::npos) break;
        pos = next + 1;
      }
    }
    haveKey_ = true;
    hive_ = hive;
    path_ = path;
    doc_.items.push_back({lineNo_, hive, std::move(path), std::nullopt});
  }

  void ValueLine(std::string_view s) {
    // A value of a rejected key is dropped with it; say so, so that the person
    // editing sees every line that did not make it.
    Value value;
    if (s.front() == '@') {
      s.remove_prefix(1);
    } else {
      s.remove_prefix(1);
      std::optional<std::string> name = TakeQuoted(s);
      if (!name) return Fail("value name without a closing quote");
      value.name = FromUtf8(*name);
      if (std::string why = CheckValueName(value.name); !why.empty()) return Fail(why);
    }
    s = TrimLeft(s);
    if (s.empty() || s.front() != '=') return Fail("value name not followed by '='");
    s = TrimLeft(s.substr(1));

    if (!s.empty() && s.front() == '"') {
      s.remove_prefix(1);
      std::optional<std::string> text = TakeQuoted(s);
      if (!text) return Fail("text without a closing quote");
      if (!OnlyCommentLeft(s)) return Fail("unexpected text after the value");
      value.type = kTypeSz;
      value.data = StringBytes(FromUtf8(*text));
    } else if (StartsWithAsciiNoCase(s, "dword:")) {
      s.remove_prefix(6);
      std::optional<uint32_t> v = TakeHexNumber(s);
      if (!v || !OnlyCommentLeft(s)) return Fail("dword needs 1 to 8 hex digits");
      value.type = kTypeDword;
      value.data = {static_cast<uint8_t>(*v), static_cast<uint8_t>(*v >> 8),
                    static_cast<uint8_t>(*v >> 16), static_cast<uint8_t>(*v >> 24)};
    } else if (StartsWithAsciiNoCase(s, "hex")) {
      s.remove_prefix(3);
      value.type = kTypeBinary;
      if (!s.empty() && s.front() == '(') {
        s.remove_prefix(1);
        std::optional<uint32_t> type = TakeHexNumber(s);
        if (!type || s.empty() || s.front() != ')') return Fail("hex(type) needs a hex type number");
        value.type = *type;
        s.remove_prefix(1);
      }
      if (s.empty() || s.front() != ':') return Fail("hex value without ':'");
      s.remove_prefix(1);
      std::optional<std::vector<uint8_t>> bytes = HexBytes(s);
      if (!bytes) return;
      value.data = std::move(*bytes);
    } else if (!s.empty() && s.front() == '-') {
      return Fail("deleting values is not supported");
    } else {
      return Fail("unrecognised value data");
    }

    if (!haveKey_) {
      if (keyLine_ == 0) return Fail("value before any key line");
      return Fail("value of the rejected key on line " + std::to_string(keyLine_));
    }
    doc_.items.push_back({lineNo_, hive_, path_, std::move(value)});
  }

  // Comma-separated bytes; a trailing '\' continues the list on the next line.
  // Reports its own problem and returns nothing when the list is bad.
  std::optional<std::vector<uint8_t>> HexBytes(std::string_view s) {
    std::string joined;
    while (true) {
      size_t comment = s.find(';');
      if (comment != std::string_view::npos) s = s.substr(0, comment);
      s = TrimRight(s);
      if (s.empty() || s.back() != '\\') {
        joined += s;
        break;
      }
      s.remove_suffix(1);
      joined += s;
      if (index_ + 1 >= lines_.size()) {
        Fail("hex list continued past the end of the file");
        return std::nullopt;
      }
      s = TrimLeft(lines_[++index_]);
    }
    std::vector<uint8_t> out;
    std::string_view rest = joined;
    while (true) {
      size_t comma = rest.find(',');
      std::string_view item = TrimRight(TrimLeft(rest.substr(0, comma)));
      bool last = comma == std::string_view::npos;
      if (item.empty()) {
        // Only an empty list or a single trailing comma may leave an item empty.
        if (last && (out.empty() || joined.find_last_not_of(" \t") == joined.rfind(','))) break;
        Fail("empty item in a hex list");
        return std::nullopt;
      }
      if (item.size() > 2 || HexDigit(item[0]) < 0 || (item.size() == 2 && HexDigit(item[1]) < 0)) {
        Fail("'" + std::string(item) + "' is not a hex byte");
        return std::nullopt;
      }
      int v = HexDigit(item[0]);
      if (item.size() == 2) v = v * 16 + HexDigit(item[1]);
      out.push_back(static_cast<uint8_t>(v));
      if (last) break;
      rest.remove_prefix(comma + 1);
    }
    return out;
  }

  std::vector<std::string_view> lines_;
  size_t index_ = 0;
  int lineNo_ = 0;
  Document doc_;
  bool haveKey_ = false;
  int keyLine_ = 0;
  int hive_ = 0;
  std::vector<WString> path_;
};

}  // namespace

std::string_view RootName(int hive) {
  return hive == kLocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

std::string CheckKeyName(WStringView name) {
  if (name.empty()) return "empty key name";
  return CheckName(name, kMaxKeyNameLength, true);
}

std::string CheckValueName(WStringView name) { return CheckName(name, kMaxValueNameLength, false); }

Document Parse(std::string_view text) { return Parser(text).Run(); }

void AppendKeyLine(std::string& out, int hive, const std::vector<WString>& path) {
  out += '[';
  out += RootName(hive);
  for (const WString& part : path) {
    out += '\\';
    out += ToUtf8(part);
  }
  out += "]\n";
}

void AppendValueLine(std::string& out, const Value& value) {
  size_t start = out.size();
  if (value.name.empty())
    out += '@';
  else
    AppendQuoted(out, value.name);
  out += '=';
  if (value.type == kTypeSz) {
    if (std::optional<WString> text = PlainText(value.data)) {
      AppendQuoted(out, *text);
      out += '\n';
      return;
    }
  }
  if (value.type == kTypeDword && value.data.size() == 4) {
    char buf[16];
    uint32_t v = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                 (static_cast<uint32_t>(value.data[3]) << 24);
    std::snprintf(buf, sizeof buf, "dword:%08x", v);
    out += buf;
    out += '\n';
    return;
  }
  if (value.type == kTypeBinary) {
    out += "hex:";
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
    out += buf;
  }
  AppendHex(out, out.size() - start, value.data);
  out += '\n';
}

}  // namespace plat::regtext
