#include "protocol/ReplyXml.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <string>
#include <vector>

namespace {

TEST(ReplyXmlNumbers, IntegersKeepTheNumericPrefixAndRefuseOutOfRange) {
  struct Case {
    const char* text;
    bool bInt;
    int32_t value;
  };
  const Case cases[] = {
      {"12abc", true, 12},         {" 7", true, 7},          {"\t\n8", true, 8},
      {"+5", true, 5},             {"-3", true, -3},         {"0x10", true, 0},
      {"2147483647", true, INT32_MAX}, {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0},    {"-2147483649", false, 0}, {"4294967296", false, 0},
      {"99999999999", false, 0},   {"99999999999999999999999", false, 0},
      {"abc", false, 0},           {"", false, 0},           {"-", false, 0},
      {" ", false, 0},             {"- 4", false, 0},
  };
  for (const Case& c : cases) {
    int32_t value = 77;
    EXPECT_EQ(ReplyXml::ReadInt(c.text, value), c.bInt) << c.text;
    EXPECT_EQ(value, c.bInt ? c.value : 77) << c.text;  // untouched when not an integer
  }
  int32_t value = 77;
  EXPECT_FALSE(ReplyXml::ReadInt(nullptr, value));
}

TEST(ReplyXmlNumbers, RealsAreClampedToTheFloatRange) {
  const std::string text = "<v a='4.5' b='abc' c='nan' d='1e999' e='-1e999' f='inf' g='3.25xyz' h='-nan' i=' 2'/>";
  TiXmlDocument doc;
  ASSERT_TRUE(ReplyXml::Parse(doc, text.data(), text.size()));
  const TiXmlElement* v = ReplyXml::Root(doc);
  EXPECT_FLOAT_EQ(ReplyXml::Real(v, "a"), 4.5f);
  EXPECT_EQ(ReplyXml::Real(v, "b"), 0.0f);
  EXPECT_EQ(ReplyXml::Real(v, "c"), 0.0f);
  EXPECT_EQ(ReplyXml::Real(v, "d"), FLT_MAX);
  EXPECT_EQ(ReplyXml::Real(v, "e"), -FLT_MAX);
  EXPECT_EQ(ReplyXml::Real(v, "f"), FLT_MAX);
  EXPECT_FLOAT_EQ(ReplyXml::Real(v, "g"), 3.25f);
  EXPECT_EQ(ReplyXml::Real(v, "h"), 0.0f);
  EXPECT_FLOAT_EQ(ReplyXml::Real(v, "i"), 2.0f);
  EXPECT_EQ(ReplyXml::Real(v, "absent"), 0.0f);
}

TEST(ReplyXmlNesting, CountsOnlyWhatTinyXmlWouldNest) {
  struct Case {
    std::string text;
    bool bWithin;  // at a limit of 3
  };
  const Case cases[] = {
      {"<a><b><c></c></b></a>", true},
      {"<a><b><c><d>", false},
      {"<a><b><c><d/><d/></c></b></a>", true},                 // empty elements add nothing
      {"<a><b></b><b></b><b><c></c></b></a>", true},           // siblings do not add up
      {"<a b='/'><b><c><d>", false},                           // a '/' in a value does not close
      {"<a><!-- </a></a></a> --><b><c><d>", false},            // nor closers in comments
      {"<a><![CDATA[</a></a></a>]]><b><c><d>", false},         // or in CDATA
      {"<a x='</a></a></a>'><b><c><d>", false},                // or in attribute values
      {"<a x=\"'</a></a>'\"><b><c><d>", false},                // the other quote inside a value
      {"<a><!-- <b><c><d> --></a>", true},                     // opens in comments do not count
      {"<a><!DOCTYPE x><?pi <b><c>?></a>", true},              // other markup ends at its first '>'
      {"<?xml version='1.0'?><a><b><c></c></b></a>", true},
      {"<?xml version='</a></a>'?><a><b><c><d>", false},
      {"<?xml version='>'?><a/>", false},                       // a declaration reading past '>'
      {"<a><b><c>text > more</c></b></a>", true},
      {"<a><\xC3\xA9><x><y>", false},                           // a non-ASCII name starts an element
      {"<a>< b><c><d>", true},                                  // "< b" is not an element
  };
  for (const Case& c : cases) EXPECT_EQ(ReplyXml::NestingWithin(c.text, 3), c.bWithin) << c.text;
}

TEST(ReplyXmlParse, BodiesAreCopiedBoundedAndChecked) {
  TiXmlDocument empty;
  EXPECT_FALSE(ReplyXml::Parse(empty, nullptr, 0));  // an empty text is a parse error
  TiXmlDocument nullWithLength;
  EXPECT_FALSE(ReplyXml::Parse(nullWithLength, nullptr, 100));

  // An unterminated buffer of exactly its length: only the copy is read.
  const std::string text = "<orlamet a='1'/>";
  std::vector<char> exact(text.begin(), text.end());
  TiXmlDocument unterminated;
  ASSERT_TRUE(ReplyXml::Parse(unterminated, exact.data(), exact.size()));
  EXPECT_STREQ(ReplyXml::Root(unterminated)->Attribute("a"), "1");

  // The length counts: a shorter length cuts the document.
  TiXmlDocument cut;
  EXPECT_FALSE(ReplyXml::Parse(cut, text.data(), 9));

  std::string atLimit = "<orlamet/>";
  atLimit.resize(ReplyXml::kMaxBytes, ' ');
  TiXmlDocument big;
  EXPECT_TRUE(ReplyXml::Parse(big, atLimit.data(), atLimit.size()));
  atLimit += ' ';
  TiXmlDocument tooBig;
  EXPECT_FALSE(ReplyXml::Parse(tooBig, atLimit.data(), atLimit.size()));
  EXPECT_EQ(ReplyXml::Root(tooBig), nullptr);

  // Refused documents stay empty; TinyXML keeps the part it read of others.
  for (int depth : {ReplyXml::kMaxDepth, ReplyXml::kMaxDepth + 1, 100000}) {
    std::string nested;
    for (int i = 0; i < depth; ++i) nested += "<a>";
    TiXmlDocument doc;
    EXPECT_FALSE(ReplyXml::Parse(doc, nested.data(), nested.size()));
    EXPECT_EQ(ReplyXml::Root(doc) != nullptr, depth <= ReplyXml::kMaxDepth) << depth;
  }
}

TEST(ReplyXmlParse, MalformedUtf8CannotHideMarkup) {
  // In UTF-8 mode TinyXML would read a stray lead byte and the "</" after it
  // as one character, nesting every <a> in the one before: deep enough to
  // overflow the stack unless the bytes are repaired first.
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
                                 std::string("<r a=\"x\xE9y\" b=\"\xE0\"/>")}) {
    TiXmlDocument repaired;
    ASSERT_TRUE(ReplyXml::Parse(repaired, text.data(), text.size())) << text;
    EXPECT_EQ(ReplyXml::Text(ReplyXml::Root(repaired), "a"), u"x\uFFFDy");
    EXPECT_EQ(ReplyXml::Text(ReplyXml::Root(repaired), "b"), u"\uFFFD");
  }
  const std::string trailing = "<r/>\xF0";
  TiXmlDocument tail;
  ReplyXml::Parse(tail, trailing.data(), trailing.size());
  EXPECT_NE(ReplyXml::Root(tail), nullptr);
}

TEST(ReplyXmlWalk, OnlyElementsMatchNames) {
  const std::string text = "<!--r--><r><!--tracks-->tracks<?tracks?><tracks n='1'/><x/><tracks n='2'/></r>";
  TiXmlDocument doc;
  ASSERT_TRUE(ReplyXml::Parse(doc, text.data(), text.size()));
  const TiXmlElement* root = ReplyXml::Root(doc);
  ASSERT_NE(root, nullptr);
  EXPECT_STREQ(root->Value(), "r");
  const TiXmlElement* first = ReplyXml::Child(root, "tracks");
  ASSERT_NE(first, nullptr);
  EXPECT_STREQ(first->Attribute("n"), "1");
  EXPECT_STREQ(ReplyXml::Next(first, "tracks")->Attribute("n"), "2");
  EXPECT_EQ(ReplyXml::CountChildren(root, "tracks"), 2u);
  EXPECT_EQ(ReplyXml::Child(nullptr, "tracks"), nullptr);
  EXPECT_EQ(ReplyXml::Text(nullptr, "a"), u"");
}

}  // namespace
