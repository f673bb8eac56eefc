// Runs layout descriptions the way their owners do, without any control: the
// application's tree with a view under node 6, trees that a control lays out
// over its own rectangle, and scroll contents under a scroll panel's node 28.
// Every tree is checked (CheckLayoutTree, missing references) right after its
// owner has built it and selected its keys, then pinned and solved with the
// whole screen as pass rectangle.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/layout.h"

class CLayoutRefCapture;

class CLayoutHarness {
 public:
  using TBuild = std::function<void(CLayoutNode*)>;

  // The main window is the whole screen unless given.
  CLayoutHarness(int32_t nWidth, int32_t nHeight);
  CLayoutHarness(int32_t nWidth, int32_t nHeight, const RECT& rcWindow);
  ~CLayoutHarness();

  // The main window of the platform: the screen less the menu bar at the
  // bottom, 2/25 of the screen height.
  static RECT MenuBarWindow(int32_t nWidth, int32_t nHeight);

  const RECT& Screen() const { return m_rcScreen; }
  const RECT& Window() const { return m_rcWindow; }
  // The display's rotation index: 3 (turned by 90 degrees) for a screen
  // wider than high, else 0.
  int32_t RotationIndex() const;

  // The application's view switch: root description, `view` on node 6 (the
  // view's layout step at bind time), frame description and the soft-key
  // bars, reset, key 0 = rotation index, `orientation` on node 6 (the view's
  // step after the rotation), node 6 pinned to the main window, pass.
  // Returns the root.
  CLayoutNode* App(const TBuild& view = {}, const TBuild& orientation = {});

  // A tree a control lays out over rc: new root, `build`, reset when the
  // owner resets, `owner` (key selections, handlers), root pinned to rc,
  // pass. Returns the root.
  CLayoutNode* Control(const RECT& rc, const TBuild& build, const TBuild& owner = {}, bool bReset = true);

  // A scroll panel over rc: its own tree, `build` on its node 28, `owner`,
  // the panel's own key 1 = 0, pass. Returns node 28.
  CLayoutNode* ScrollContent(const RECT& rc, const TBuild& build, const TBuild& owner = {});

  // SelectVariants, remembered for the checks of the node's tree.
  void Select(CLayoutNode* pNode, int32_t key, uint32_t value);

  // A measure handler that answers nHeight pixels at the solved width, as a
  // text control measuring its text would.
  void MeasureAs(CLayoutNode* pNode, int32_t nHeight);

  // Another pass over the tree holding pNode, with the same pins.
  void Relayout(CLayoutNode* pNode);

  // Check findings of every tree built so far.
  const std::vector<std::string>& Problems() const { return m_problems; }

 private:
  struct TTree;
  struct TFixedText;
  TTree& NewTree(const char* pszKind);
  void Check(TTree& tree, const std::vector<const CLayoutNode*>& pinned, const CLayoutRefCapture& capture);

  RECT m_rcScreen;
  RECT m_rcWindow;
  std::vector<std::unique_ptr<TTree>> m_trees;
  std::vector<std::unique_ptr<TFixedText>> m_texts;
  std::vector<std::string> m_problems;
};

// The rectangle of node (id, sub) under pTree in window coordinates; the
// empty rectangle when there is no such node.
RECT LayoutRectOf(const CLayoutNode* pTree, int32_t id, int32_t sub = -1);

// One line per node of the subtree, depth-first, indented by depth:
// "#id[.sub] [left,top WxH] vis|hid|free".
std::string DumpLayoutTree(const CLayoutNode* pTop);
