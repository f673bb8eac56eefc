#include "tools/layoutdump/LayoutHarness.h"

#include <algorithm>

#include "layouts/LayoutCheck.h"
#include "layouts/LayoutTable.h"
#include "layouts/Layouts.h"

struct CLayoutHarness::TTree {
  const char* pszKind;
  std::unique_ptr<CLayoutNode> pRoot;
  std::vector<int32_t> keys;
};

struct CLayoutHarness::TFixedText {
  int32_t nHeight;
  RECT Measure(const RECT& rc) { return RECT{0, 0, rc.right, nHeight}; }
};

CLayoutHarness::CLayoutHarness(int32_t nWidth, int32_t nHeight)
    : CLayoutHarness(nWidth, nHeight, RECT{0, 0, nWidth, nHeight}) {}

CLayoutHarness::CLayoutHarness(int32_t nWidth, int32_t nHeight, const RECT& rcWindow)
    : m_rcScreen{0, 0, nWidth, nHeight}, m_rcWindow(rcWindow) {}

CLayoutHarness::~CLayoutHarness() = default;

RECT CLayoutHarness::MenuBarWindow(int32_t nWidth, int32_t nHeight) {
  return RECT{0, 0, nWidth, nHeight - nHeight * 2 / 25};
}

int32_t CLayoutHarness::RotationIndex() const { return m_rcScreen.right > m_rcScreen.bottom ? 3 : 0; }

CLayoutHarness::TTree& CLayoutHarness::NewTree(const char* pszKind) {
  auto pTree = std::make_unique<TTree>();
  pTree->pszKind = pszKind;
  m_trees.push_back(std::move(pTree));
  return *m_trees.back();
}

void CLayoutHarness::Check(TTree& tree, const std::vector<const CLayoutNode*>& pinned,
                           const CLayoutRefCapture& capture) {
  for (const std::string& s : CheckLayoutTree(tree.pRoot.get(), tree.keys, pinned))
    m_problems.push_back(std::string(tree.pszKind) + ": " + s);
  for (const TLayoutMissingRef& ref : capture.Missing()) {
    if (IsDeliberateMissingRef(ref)) continue;
    std::string s = std::string(tree.pszKind) + ": " + ref.pszDescription + " names #" + std::to_string(ref.nId);
    if (ref.nSubId != -1) s += "." + std::to_string(ref.nSubId);
    m_problems.push_back(s + ", which is not in the tree");
  }
}

CLayoutNode* CLayoutHarness::App(const TBuild& view, const TBuild& orientation) {
  TTree& tree = NewTree("application tree");
  CLayoutRefCapture capture;
  tree.pRoot = BuildAppRootLayout();
  CLayoutNode* pRoot = tree.pRoot.get();
  CLayoutNode* pView = pRoot->FindNode(6, -1);
  if (view) view(pView);
  BuildAppFrameLayout(pRoot);
  BuildSoftKeyBarLayout(pRoot->FindNode(4, -1));
  BuildSoftKeyBarLayout(pRoot->FindNode(5, -1));
  pRoot->ResetVariants();
  Select(pRoot, 0, RotationIndex());
  if (orientation) orientation(pView);
  Check(tree, {pView}, capture);
  pView->PinToRect(m_rcWindow);
  pRoot->Update(m_rcScreen);
  return pRoot;
}

CLayoutNode* CLayoutHarness::Control(const RECT& rc, const TBuild& build, const TBuild& owner, bool bReset) {
  TTree& tree = NewTree("control tree");
  CLayoutRefCapture capture;
  tree.pRoot = CLayoutNode::CreateRoot();
  CLayoutNode* pRoot = tree.pRoot.get();
  build(pRoot);
  if (bReset) pRoot->ResetVariants();
  if (owner) owner(pRoot);
  Check(tree, {pRoot}, capture);
  pRoot->PinToRect(rc);
  pRoot->Update(m_rcScreen);
  return pRoot;
}

CLayoutNode* CLayoutHarness::ScrollContent(const RECT& rc, const TBuild& build, const TBuild& owner) {
  TTree& tree = NewTree("scroll content");
  CLayoutRefCapture capture;
  tree.pRoot = CLayoutNode::CreateRoot();
  CLayoutNode* pPanel = tree.pRoot.get();
  BuildScrollPanelLayout(pPanel);
  pPanel->ResetVariants();
  CLayoutNode* pContent = pPanel->FindNode(28, -1);
  build(pContent);
  if (owner) owner(pContent);
  Select(pPanel, 1, 0);  // the panel's own step before every relayout
  Check(tree, {pPanel}, capture);
  pPanel->PinToRect(rc);
  pPanel->Update(m_rcScreen);
  return pContent;
}

void CLayoutHarness::Select(CLayoutNode* pNode, int32_t key, uint32_t value) {
  pNode->SelectVariants(key, value);
  for (auto& pTree : m_trees) {
    if (pTree->pRoot.get() == pNode->GetRoot()) {
      if (std::find(pTree->keys.begin(), pTree->keys.end(), key) == pTree->keys.end()) pTree->keys.push_back(key);
      break;
    }
  }
}

void CLayoutHarness::MeasureAs(CLayoutNode* pNode, int32_t nHeight) {
  m_texts.push_back(std::make_unique<TFixedText>(TFixedText{nHeight}));
  pNode->SetMeasureHandler(LayoutMeasureDelegate<&TFixedText::Measure>(m_texts.back().get()));
}

void CLayoutHarness::Relayout(CLayoutNode* pNode) { pNode->GetRoot()->Update(m_rcScreen); }

RECT LayoutRectOf(const CLayoutNode* pTree, int32_t id, int32_t sub) {
  const CLayoutNode* pNode = const_cast<CLayoutNode*>(pTree)->FindNode(id, sub);
  return pNode ? pNode->GetRect(CLayoutNode::SpaceWindow) : RECT{};
}

namespace {

void DumpNode(const CLayoutNode* pNode, int depth, std::string& out) {
  out.append(size_t(depth) * 2, ' ');
  out += depth == 0 && pNode->GetId() == -1 ? std::string("root") : LayoutNodeLabel(pNode);
  if (pNode->IsLaidOut()) {
    RECT rc = pNode->GetRect(CLayoutNode::SpaceWindow);
    out += " [" + std::to_string(rc.left) + "," + std::to_string(rc.top) + " " + std::to_string(rc.Width()) + "x" +
           std::to_string(rc.Height()) + "] ";
    out += pNode->IsVisibilityFree() ? "free" : pNode->IsVisible() ? "vis" : "hid";
  } else {
    out += " not laid out";
  }
  out += "\n";
  for (const CLayoutNode* c = pNode->GetFirstChild(); c; c = c->GetNextSibling()) DumpNode(c, depth + 1, out);
}

}  // namespace

std::string DumpLayoutTree(const CLayoutNode* pTop) {
  std::string out;
  if (pTop) DumpNode(pTop, 0, out);
  return out;
}
