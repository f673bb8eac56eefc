// The catalogue of layout scenes: every description run by its owner's
// sequence, on the node it is really given, at the harness's screen size.
// Trees that a control lays out are pinned to the rectangle of the node the
// control is bound to; scroll contents run under a scroll panel over its
// node. Scenes take named integer parameters (key values, flags, counts).
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "tools/layoutdump/LayoutHarness.h"

struct TLayoutSceneArgs {
  std::map<std::string, int32_t, std::less<>> values;
  int32_t Get(std::string_view name, int32_t nDefault) const;
};

struct TLayoutScene {
  const char* pszName;
  const char* pszParams;  // the parameters it reads, with their defaults
  const char* pszShows;   // what it builds, by description
  // Builds the scene in the harness; returns the node whose subtree it shows.
  CLayoutNode* (*pfnRun)(CLayoutHarness& harness, const TLayoutSceneArgs& args);
};

std::span<const TLayoutScene> LayoutScenes();
const TLayoutScene* FindLayoutScene(std::string_view name);
