#include "protocol/ReplyXml.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ReplyXml, IntegersKeepTheNumericPrefixAndRefuseOutOfRange) {
  const std::pair<const char*, int64_t> cases[] = {  // INT64_MIN: not an integer
      {"12abc", 12}, {" 7", 7}, {"\t\n8", 8}, {"+5", 5}, {"-3", -3}, {"0x10", 0},
      {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"2147483648", INT64_MIN},
      {"-2147483649", INT64_MIN}, {"4294967296", INT64_MIN}, {"99999999999999999999999", INT64_MIN},
      {"abc", INT64_MIN}, {"", INT64_MIN}, {"-", INT64_MIN}, {"- 4", INT64_MIN}, {nullptr, INT64_MIN}};
  for (const auto& [text, expected] : cases) {
    int32_t value = 77;
    EXPECT_EQ(ReplyXml::ReadInt(text, value), expected != INT64_MIN) << (text ? text : "null");
    EXPECT_EQ(value, expected != INT64_MIN ? expected : 77) << (text ? text : "null");
  }
}

TEST(ReplyXml, NestingCountsOnlyWhatTinyXmlWouldNest) {
  const std::pair<const char*, bool> cases[] = {  // within a limit of 3?
      {"<a><b><c></c></b></a>", true},
      {"<a><b><c><d>", false},
      {"<a><b><c><d/><d/></c></b></a>", true},           // empty elements add nothing
      {"<a><b></b><b></b><b><c></c></b></a>", true},     // siblings do not add up
      {"<a b='/'><b><c><d>", false},                     // a '/' in a value does not close
      {"<a><!-- </a></a></a> --><b><c><d>", false},      // nor closers in comments,
      {"<a><![CDATA[</a></a></a>]]><b><c><d>", false},   // in CDATA,
      {"<a x='</a></a></a>'><b><c><d>", false},          // in attribute values,
      {"<a x=\"'</a></a>'\"><b><c><d>", false},          // behind the other quote,
      {"<?xml version='</a></a>'?><a><b><c><d>", false}, // or in the declaration
      {"<?xml version='>'?><a/>", false},                 // a declaration reading past '>'
      {"<a><!-- <b><c><d> --></a>", true},               // opens in comments do not count
      {"<a><!DOCTYPE x><?pi <b><c>?></a>", true},        // other markup ends at its first '>'
      {"<a><b><c>text > more</c></b></a>", true},
      {"<a><\xC3\xA9><x><y>", false},                     // a non-ASCII name starts an element
      {"<a>< b><c><d>", true},                            // "< b" does not
      // A character reference runs to the next ';' when the characters before
      // it back to the nearest 'x' (or '#') are digits, swallowing what lies
      // between: a closing quote,
      {"<a x='&#x1_'&#x4E;'><b><c><d>", false},
      {"<a x='&#12'&#34;'><b><c><d>", false},
      // or an end tag in text.
      {"<a><b>&#x</b></a><c>&#x41;<d><e>", false},
      {"<a><b>&#x</b></a><c>&#xg;<d></d>", true},          // a non-digit ends no reference
      {"<a><b>&#</b></a><c>&#1x;<d></d>", true},
      {"<a x='&amp;'><b><c></c></b></a>", true},
      {"<?xml version='&#x1;'?><a/>", false},             // nor is one guessed at in the declaration
  };
  for (const auto& [text, bWithin] : cases) EXPECT_EQ(ReplyXml::NestingWithin(text, 3), bWithin) << text;
}

TEST(ReplyXml, SizeAndDepthLimits) {
  // Refused documents stay empty; TinyXML keeps the part it read of others.
  for (int depth : {ReplyXml::kMaxDepth, ReplyXml::kMaxDepth + 1, 100000}) {
    std::string nested;
    for (int i = 0; i < depth; ++i) nested += "<a>";
    TiXmlDocument doc;
    EXPECT_FALSE(ReplyXml::Parse(doc, nested.data(), nested.size()));
    EXPECT_EQ(ReplyXml::Root(doc) != nullptr, depth <= ReplyXml::kMaxDepth) << depth;
  }
  std::string big = "<orlamet/>";
  big.resize(ReplyXml::kMaxBytes, ' ');
  TiXmlDocument atLimit, beyond;
  EXPECT_TRUE(ReplyXml::Parse(atLimit, big.data(), big.size()));
  big += ' ';
  EXPECT_FALSE(ReplyXml::Parse(beyond, big.data(), big.size()));
}

TEST(ReplyXml, ReferencesCannotHideEndTags) {
  // TinyXML reads "&#x</a>&#x1;" as one reference, so each unit below opens an
  // element it never closes: nesting beyond the limit (and, with enough of
  // them, beyond the stack) unless the check reads references as TinyXML
  // does.
  std::string hidden = "<orlamet>";
  for (int i = 0; i < 1000; ++i) hidden += "<a>&#x</a>&#x1;";
  TiXmlDocument doc;
  EXPECT_FALSE(ReplyXml::Parse(doc, hidden.data(), hidden.size()));
  EXPECT_EQ(ReplyXml::Root(doc), nullptr);
}

TEST(ReplyXml, AttributeAndNodeLimits) {
  ReplyXml::Limits limits;
  limits.maxAttributes = 2;
  limits.maxNodes = 6;
  using V = ReplyXml::Verdict;
  const std::pair<const char*, V> cases[] = {
      {"<r a='1' b='2'/>", V::kWithin},
      {"<r a='1' b='2' c='3'/>", V::kTooManyAttributes},
      {"<r a='=' b=\"=\"/>", V::kWithin},                  // '=' in values is no attribute
      {"<r a=1=2 b=3/>", V::kTooManyAttributes},           // an unquoted '=' errs towards refusing
      {"<r a='1'><s b='2'/><s c='3'/></r>", V::kWithin},    // the limit is per element
      {"<r><a/><!--c--><?p?><![CDATA[x]]></r>", V::kWithin},  // five nodes; end tags count nothing
      {"<r><a/><a/><a/><a/><a/><a/></r>", V::kTooManyNodes},
      {"<r x='1' y='2'><a z='3'/><a/><a/></r>", V::kTooManyNodes},  // attributes are nodes too
      {"<r><!-- <a/><a/><a/><a/><a/><a/> --></r>", V::kWithin},
      {"<r/></a></a></a></a></a>", V::kWithin},        // outside the root an end tag is a node
      {"<r/></a></a></a></a></a></a>", V::kTooManyNodes},
  };
  for (const auto& [text, verdict] : cases) EXPECT_EQ(ReplyXml::CheckMarkup(text, limits), verdict) << text;
}

TEST(ReplyXml, ARepairedBodyIsBoundLikeAnyOther) {
  // Each malformed byte becomes a three-byte U+FFFD.
  for (size_t bad : {size_t{1000}, ReplyXml::kMaxBytes / 3}) {
    const std::string body = "<r v='" + std::string(bad, '\xFF') + "'/>";
    TiXmlDocument doc;
    EXPECT_EQ(ReplyXml::Parse(doc, body.data(), body.size()), bad == 1000) << bad;
    EXPECT_EQ(ReplyXml::Text(ReplyXml::Root(doc), "v").size(), bad == 1000 ? bad : 0u);
  }
}

TEST(ReplyXml, MalformedUtf8CannotHideMarkup) {
  // In UTF-8 mode TinyXML reads a stray lead byte and the "</" after it as one
  // character, nesting every <a> in the one before: deep enough to overflow
  // the stack unless the bytes are repaired first.
  std::string hidden = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><orlamet>";
  for (int i = 0; i < 200000; ++i) hidden += "<a>\xE0</b>";
  TiXmlDocument doc;
  EXPECT_FALSE(ReplyXml::Parse(doc, hidden.data(), hidden.size()));
  int depth = 0;
  for (const TiXmlElement* e = ReplyXml::Root(doc); e; e = ReplyXml::Child(e, "a")) ++depth;
  EXPECT_LE(depth, ReplyXml::kMaxDepth);

  // Repaired bytes read as U+FFFD, with or without a declaration; a lead byte
  // at the very end no longer reaches past the terminator.
  for (const std::string& text : {std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r a=\"x\xE9y\" b=\"\xE0\"/>"),
                                  std::string("<r a=\"x\xE9y\" b=\"\xE0\"/>\xF0")}) {
    TiXmlDocument repaired;
    ReplyXml::Parse(repaired, text.data(), text.size());
    EXPECT_EQ(ReplyXml::Text(ReplyXml::Root(repaired), "a"), u"x\uFFFDy") << text;
    EXPECT_EQ(ReplyXml::Text(ReplyXml::Root(repaired), "b"), u"\uFFFD") << text;
  }
}

}  // namespace
