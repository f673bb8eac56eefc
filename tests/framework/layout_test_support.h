// Shorthands for the layout tests: edges and sizes in the order descriptions
// state them, a panic catcher, and an observer that records who was told.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "framework/layout.h"

namespace plat {
inline void PrintTo(const Rect& r, std::ostream* os) {
  *os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}
}  // namespace plat

namespace layout_test {

using V = CLayoutValue;

// own→anchor:at + offset; anchor -1 is the pass rectangle, -2 the parent.
inline CLayoutEdgeSpec Edge(int32_t ownNum, int32_t ownDen, int32_t anchorId, int32_t atNum, int32_t atDen,
                            CLayoutValue offset = {}, int32_t offsetRefId = -1) {
  CLayoutEdgeSpec edgeSpec;
  edgeSpec.SetFraction(ownNum, ownDen).SetOffset(offset);
  if (offsetRefId != -1) edgeSpec.SetNodeId(offsetRefId);
  edgeSpec.BeginAnchor().SetFraction(atNum, atDen);
  if (anchorId != -1) edgeSpec.SetNodeId(anchorId);
  return edgeSpec;
}

inline CLayoutAnchorRef Size(CLayoutValue value, int32_t refId = -1) { return CLayoutAnchorRef(value, refId); }

inline CLayoutCondition Cond(int32_t key, int32_t value) {
  CLayoutCondition c;
  c.Set(key).Set(value);
  return c;
}

// Both edges of both axes on the parent: the node fills it.
inline CLayoutBuilder& Fill(CLayoutBuilder& b) {
  return b.SetHorizontalEdge(Edge(0, 1, -2, 0, 1))
      .SetHorizontalEdge(Edge(1, 1, -2, 1, 1))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1))
      .SetVerticalEdge(Edge(1, 1, -2, 1, 1));
}

// A w x h box at (x, y) in its parent.
inline CLayoutBuilder& Box(CLayoutBuilder& b, int32_t x, int32_t y, int32_t w, int32_t h) {
  return b.SetHorizontalEdge(Edge(0, 1, -2, 0, 1, V::Constant(x))).SetWidth(Size(V::Constant(w)))
      .SetVerticalEdge(Edge(0, 1, -2, 0, 1, V::Constant(y))).SetHeight(Size(V::Constant(h)));
}

inline RECT Win(const std::unique_ptr<CLayoutNode>& root, int32_t id, int32_t subId = -1) {
  return root->FindNode(id, subId)->GetRect(CLayoutNode::SpaceWindow);
}

// The line of the layout panic `f` throws; -1 when it does not throw.
template <class F>
int32_t PanicLine(F&& f) {
  try {
    f();
  } catch (const TPanic& p) {
    EXPECT_EQ(std::u16string(p.source), u"layout");
    EXPECT_EQ(p.text, nullptr);
    return p.line;
  }
  return -1;
}

struct Recorder : CLayoutObserver {
  Recorder(std::vector<int>* pLog, int nTag, int32_t nThrow = 0) : pLog(pLog), nTag(nTag), nThrow(nThrow) {}
  void OnLayoutChanged(CLayoutNode*) override {
    pLog->push_back(nTag);
    if (nThrow) Env::ThrowError(nThrow);
  }
  void OnLayoutNodeDeleted(CLayoutNode*) override { pLog->push_back(-nTag); }
  std::vector<int>* pLog;
  int nTag;
  int32_t nThrow;
};

inline const RECT kPortrait{0, 0, 480, 800};
inline const RECT kLandscape{0, 0, 800, 480};

}  // namespace layout_test
