// The server's own XML writer and well-formedness checker. Replies keep every
// value in attributes, so the writer knows elements and attributes only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qps {

// Escapes & < > and the double quote. Control characters and invalid UTF-8
// become '?': the client's parser must never see a character reference.
std::string XmlEscape(std::string_view s);

class XmlWriter {
 public:
  explicit XmlWriter(bool declaration = true);

  XmlWriter& Open(std::string_view name);
  XmlWriter& Attr(std::string_view name, std::string_view value);
  XmlWriter& Attr(std::string_view name, long long value);
  // Closes the innermost open element ("/>" when it has no children).
  XmlWriter& Close();
  // Closes whatever is still open and returns the document.
  std::string Finish();

 private:
  struct Frame {
    std::string name;
    bool hasChildren = false;
  };
  void EndStartTag();

  std::string m_out;
  std::vector<Frame> m_stack;
  bool m_tagOpen = false;
};

struct XmlCheckOptions {
  bool requireDeclaration = true;
  // The deepest reply the protocol defines is the grouped search reply:
  // orlamet/tracks_grouped/track_name_group/artist_name_group/tracks/track/
  // recordings/recording/users/user.
  int maxDepth = 10;
};

// Returns an empty string for a well-formed document in the reply style (root
// "orlamet", attributes only, the five named entities only, no comments,
// DOCTYPE or numeric references, no duplicate attributes, integer attributes
// in plain 32-bit decimal), else a description of the first problem.
std::string CheckXmlDocument(std::string_view doc, const XmlCheckOptions& options = {});

}  // namespace qps
