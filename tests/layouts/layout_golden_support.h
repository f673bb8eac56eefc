// Shorthands of the layout description tests: rectangles as the tables'
// reviewers write them ([left,top W x H]), visibility, and scene runs.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "framework/layout_test_support.h"
#include "layouts/LayoutCheck.h"
#include "tools/layoutdump/LayoutScenes.h"

namespace layouts_test {

inline RECT Rc(int32_t left, int32_t top, int32_t width, int32_t height) {
  return RECT{left, top, left + width, top + height};
}

// Managed visible, managed hidden, free; '-' leaves visibility unchecked.
inline char VisOf(const CLayoutNode* pNode) {
  return pNode->IsVisibilityFree() ? 'f' : pNode->IsVisible() ? 'v' : 'h';
}

struct TGolden {
  int32_t id;
  int32_t sub;
  RECT rc;
  char vis = '-';
};

inline void ExpectGoldens(CLayoutNode* pTree, std::initializer_list<TGolden> goldens) {
  ASSERT_NE(pTree, nullptr);
  for (const TGolden& g : goldens) {
    CLayoutNode* pNode = pTree->FindNode(g.id, g.sub);
    std::string label = "#" + std::to_string(g.id) + (g.sub == -1 ? "" : "." + std::to_string(g.sub));
    ASSERT_NE(pNode, nullptr) << label;
    EXPECT_EQ(pNode->GetRect(CLayoutNode::SpaceWindow), g.rc) << label;
    if (g.vis != '-') {
      EXPECT_EQ(VisOf(pNode), g.vis) << label;
    }
  }
}

inline CLayoutNode* RunScene(CLayoutHarness& h, const char* pszName,
                             std::initializer_list<std::pair<const char*, int32_t>> params = {}) {
  const TLayoutScene* pScene = FindLayoutScene(pszName);
  if (!pScene) {
    ADD_FAILURE() << "no scene " << pszName;
    return nullptr;
  }
  TLayoutSceneArgs args;
  for (const auto& [name, value] : params) args.values[name] = value;
  return pScene->pfnRun(h, args);
}

}  // namespace layouts_test
