// One fuzz target per reply parser, chosen by QUOREL_FUZZ_REPLY at build
// time. Built with libFuzzer when the fuzz build is on, otherwise with the
// replay main, which runs a corpus once as a test.
#include <tinyxml.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "framework/AppRegistry.h"
#include "platform/registry/Registry.h"
#include "protocol/AppSettings.h"
#include "protocol/ReplyParsers.h"
#include "protocol/ReplyXml.h"
#include "protocol/SearchResults.h"
#include "protocol/ServerError.h"

#define FUZZ_SEARCH 1
#define FUZZ_UPDATE 2
#define FUZZ_USER 3
#define FUZZ_VIDEOS 4
#define FUZZ_BUY_LINKS 5
#define FUZZ_LYRICS 6
#define FUZZ_NESTING 7

namespace {

// Reads everything the screens could read, so that a model left inconsistent
// by the parser shows up as a fault here.
void ReadAll(const CSearchResults& model) {
  const int32_t rows = model.RecordingCount();
  for (int32_t i = -1; i <= rows && i < 10000; ++i) {
    model.TrackId(i), model.TrackName(i), model.AlbumName(i), model.VideoUrl(i), model.AudioPreviewUrl(i);
    model.ArtistName(i), model.AlbumImageName(i), model.RecordingId(i), model.RecordingFullUrl(i);
    model.RecordingMatchedUrl(i), model.RecordingUserName(i), model.UserImageName(i);
  }
  model.SearchId(), model.TotalRecords(), model.UpdateMessageUrl();
  for (int32_t i = -1; i <= model.VideoCount(); ++i) model.VideoLink(i);
  for (int32_t i = -1; i <= model.BuyLinkCount(); ++i) model.BuyLinkUrl(i), model.BuyLinkStoreName(i);
  for (int32_t i = -1; i <= model.Count(); ++i) model.LyricsLinkUrl(i);
}

#if QUOREL_FUZZ_REPLY == FUZZ_NESTING
struct TreeShape {
  int depth = 0;          // of the deepest element
  size_t attributes = 0;  // on the element with the most
  size_t nodes = 0;       // elements, attributes and other nodes, text aside
};

// The shape of a (possibly partial) tree; TinyXML links every element it
// began, so the depth is how deep its parse recursed.
TreeShape ShapeOf(const TiXmlNode* root) {
  TreeShape shape;
  std::vector<std::pair<const TiXmlNode*, int>> stack{{root, 0}};
  while (!stack.empty()) {
    auto [node, depth] = stack.back();
    stack.pop_back();
    if (const TiXmlElement* element = node->ToElement()) {
      if (depth > shape.depth) shape.depth = depth;
      size_t attributes = 0;
      for (const TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next()) ++attributes;
      shape.attributes = std::max(shape.attributes, attributes);
      shape.nodes += attributes;
    }
    if (node != root && !node->ToText()) ++shape.nodes;
    for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling())
      stack.emplace_back(child, child->ToElement() ? depth + 1 : depth);
  }
  return shape;
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool s_bReady = [] {
    plat::ResetRegistryForTests();  // memory only
    return RegOpenAppKey() == 0;
  }();
  if (!s_bReady) return 0;
  // Both text paths of the server error: the Korean one replaces every text.
  *CurrentLanguageIndex() = size % 2 ? 18 : 0;
  const char* text = reinterpret_cast<const char*>(data);
  CSearchResults model;
#if QUOREL_FUZZ_REPLY == FUZZ_SEARCH
  model.LoadBuffer(text, size);
#elif QUOREL_FUZZ_REPLY == FUZZ_UPDATE
  ParseUpdateReply(model, text, size);
#elif QUOREL_FUZZ_REPLY == FUZZ_USER
  plat::WString username, image, further[5], homepage;
  ParseUserInformation(text, size, username, image, further, homepage);
#elif QUOREL_FUZZ_REPLY == FUZZ_VIDEOS
  ParseVideos(model, text, size);
#elif QUOREL_FUZZ_REPLY == FUZZ_BUY_LINKS
  ParseBuyLinks(model, text, size);
#elif QUOREL_FUZZ_REPLY == FUZZ_LYRICS
  ParseLyricsLink(model, text, size);
#elif QUOREL_FUZZ_REPLY == FUZZ_NESTING
  // Whatever the markup check lets through must stay within its limits in
  // TinyXML's tree too (an empty element below the last open one adds a level
  // but no further recursion); small limits let the fuzzer reach them.
  ReplyXml::Limits limits;
  limits.maxDepth = 4;
  limits.maxAttributes = 4;
  limits.maxNodes = 64;
  TiXmlDocument doc;
  ReplyXml::Parse(doc, text, size, limits);
  const TreeShape shape = ShapeOf(&doc);
  if (shape.depth > limits.maxDepth + 1 || shape.attributes > limits.maxAttributes || shape.nodes > limits.maxNodes)
    std::abort();
#else
#error "QUOREL_FUZZ_REPLY names no reply parser"
#endif
  ReadAll(model);
  TServerMessage message;
  GetServerErrorMessage(message);
  return 0;
}
