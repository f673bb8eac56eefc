#include "tools/protocol-server/Xml.h"

#include <set>

#include "tools/protocol-server/Util.h"

namespace qps {

std::string XmlEscape(std::string_view s) {
  std::string clean = SanitizeUtf8(s);
  std::string out;
  out.reserve(clean.size());
  for (size_t i = 0; i < clean.size(); ++i) {
    char c = clean[i];
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          out += '?';
        } else if (clean.compare(i, 3, "\xEF\xBF\xBD") == 0) {
          out += '?';
          i += 2;
        } else {
          out += c;
        }
    }
  }
  return out;
}

XmlWriter::XmlWriter(bool declaration) {
  if (declaration) m_out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
}

void XmlWriter::EndStartTag() {
  if (m_tagOpen) {
    m_out += '>';
    m_tagOpen = false;
  }
}

XmlWriter& XmlWriter::Open(std::string_view name) {
  if (!m_stack.empty()) {
    EndStartTag();
    m_stack.back().hasChildren = true;
  }
  m_out += '<';
  m_out += name;
  m_stack.push_back({std::string(name)});
  m_tagOpen = true;
  return *this;
}

XmlWriter& XmlWriter::Attr(std::string_view name, std::string_view value) {
  if (m_tagOpen) {
    m_out += ' ';
    m_out += name;
    m_out += "=\"";
    m_out += XmlEscape(value);
    m_out += '"';
  }
  return *this;
}

XmlWriter& XmlWriter::Attr(std::string_view name, long long value) {
  return Attr(name, std::to_string(value));
}

XmlWriter& XmlWriter::Close() {
  if (m_stack.empty()) return *this;
  Frame frame = m_stack.back();
  m_stack.pop_back();
  if (!frame.hasChildren) {
    m_out += "/>";
    m_tagOpen = false;
  } else {
    EndStartTag();
    m_out += "</" + frame.name + ">";
  }
  return *this;
}

std::string XmlWriter::Finish() {
  while (!m_stack.empty()) Close();
  m_out += '\n';
  return m_out;
}

namespace {

const std::set<std::string, std::less<>> kIntegerAttributes = {
    "total_records", "records_start",  "records_end", "minimum_search_length",
    "maximum_search_length", "enabled", "views_count", "duration"};

bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':';
}
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

class Checker {
 public:
  Checker(std::string_view doc, const XmlCheckOptions& options) : m_doc(doc), m_options(options) {}

  std::string Run() {
    if (!IsValidUtf8(m_doc)) return "not valid UTF-8";
    static constexpr std::string_view kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    if (StartsWith(m_doc, kDecl)) {
      m_pos = kDecl.size();
    } else if (m_options.requireDeclaration) {
      return "missing the declaration <?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    }
    SkipSpace();
    if (AtEnd() || m_doc[m_pos] != '<') return Error("no root element");
    std::vector<std::string> stack;
    bool rootDone = false;
    while (true) {
      SkipSpace();
      if (AtEnd()) break;
      if (m_doc[m_pos] != '<') return Error("text outside attributes");
      if (rootDone) return Error("content after the root element");
      if (m_doc.compare(m_pos, 4, "<!--") == 0) return Error("comment");
      if (m_doc.compare(m_pos, 2, "<!") == 0) return Error("DOCTYPE or CDATA");
      if (m_doc.compare(m_pos, 2, "<?") == 0) return Error("processing instruction");
      if (m_doc.compare(m_pos, 2, "</") == 0) {
        m_pos += 2;
        std::string name;
        if (!ReadName(name)) return Error("bad end tag");
        SkipSpace();
        if (AtEnd() || m_doc[m_pos] != '>') return Error("unterminated end tag");
        ++m_pos;
        if (stack.empty() || stack.back() != name) return Error("mismatched end tag </" + name + ">");
        stack.pop_back();
        if (stack.empty()) rootDone = true;
        continue;
      }
      ++m_pos;
      std::string name;
      if (!ReadName(name)) return Error("bad element name");
      if (stack.empty() && name != "orlamet") return Error("root element is not orlamet");
      if (static_cast<int>(stack.size()) + 1 > m_options.maxDepth)
        return Error("nesting deeper than " + std::to_string(m_options.maxDepth));
      std::set<std::string> seen;
      while (true) {
        bool spaced = SkipSpace();
        if (AtEnd()) return Error("unterminated start tag");
        char c = m_doc[m_pos];
        if (c == '/') {
          if (m_doc.compare(m_pos, 2, "/>") != 0) return Error("stray '/'");
          m_pos += 2;
          if (stack.empty()) rootDone = true;
          break;
        }
        if (c == '>') {
          ++m_pos;
          stack.push_back(name);
          break;
        }
        if (!spaced) return Error("attributes must be separated by a blank");
        std::string attr;
        if (!ReadName(attr)) return Error("bad attribute name in <" + name + ">");
        if (!seen.insert(attr).second) return Error("duplicate attribute " + attr);
        SkipSpace();
        if (AtEnd() || m_doc[m_pos] != '=') return Error("attribute without '='");
        ++m_pos;
        SkipSpace();
        if (AtEnd() || (m_doc[m_pos] != '"' && m_doc[m_pos] != '\'')) return Error("unquoted attribute");
        char quote = m_doc[m_pos++];
        size_t end = m_doc.find(quote, m_pos);
        if (end == std::string_view::npos) return Error("unterminated attribute value");
        std::string_view raw = m_doc.substr(m_pos, end - m_pos);
        m_pos = end + 1;
        std::string problem = CheckValue(attr, raw);
        if (!problem.empty()) return Error(problem);
      }
    }
    if (!stack.empty()) return "unclosed element <" + stack.back() + ">";
    if (!rootDone) return "no root element";
    return {};
  }

 private:
  bool AtEnd() const { return m_pos >= m_doc.size(); }
  bool SkipSpace() {
    size_t start = m_pos;
    while (!AtEnd() && IsSpace(m_doc[m_pos])) ++m_pos;
    return m_pos != start;
  }
  bool ReadName(std::string& name) {
    if (AtEnd() || !IsNameStart(m_doc[m_pos])) return false;
    size_t start = m_pos;
    while (!AtEnd() && IsNameChar(m_doc[m_pos])) ++m_pos;
    name.assign(m_doc.substr(start, m_pos - start));
    return true;
  }
  std::string Error(const std::string& what) const {
    return what + " at byte " + std::to_string(m_pos);
  }
  static std::string CheckValue(const std::string& attr, std::string_view raw) {
    if (raw.find('<') != std::string_view::npos) return "'<' in attribute " + attr;
    std::string value;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '&') {
        value += raw[i];
        continue;
      }
      size_t semi = raw.find(';', i);
      if (semi == std::string_view::npos) return "bare '&' in attribute " + attr;
      std::string_view entity = raw.substr(i + 1, semi - i - 1);
      if (entity == "amp") value += '&';
      else if (entity == "lt") value += '<';
      else if (entity == "gt") value += '>';
      else if (entity == "quot") value += '"';
      else if (entity == "apos") value += '\'';
      else if (!entity.empty() && entity[0] == '#') return "numeric character reference in attribute " + attr;
      else return "unknown entity &" + std::string(entity) + "; in attribute " + attr;
      i = semi;
    }
    if (kIntegerAttributes.count(attr)) {
      long long n = 0;
      if (!ParseInt(value, n) || n < -2147483648LL || n > 2147483647LL)
        return "attribute " + attr + " is not a 32-bit decimal integer";
    }
    return {};
  }

  std::string_view m_doc;
  const XmlCheckOptions& m_options;
  size_t m_pos = 0;
};

}  // namespace

std::string CheckXmlDocument(std::string_view doc, const XmlCheckOptions& options) {
  return Checker(doc, options).Run();
}

}  // namespace qps
