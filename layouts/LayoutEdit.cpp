#include "layouts/LayoutEdit.h"

namespace {

CLayoutVariant* FindVariant(CLayoutNode* pNode, int32_t key, uint32_t value, uint32_t mask) {
  for (CLayoutVariant* v = pNode->GetFirstVariant(); v; v = v->m_pNext)
    if (v->m_nKey == key && v->m_nValue == value && v->m_nMask == mask) return v;
  return nullptr;
}

// AddVariant finds an existing variant by its condition, which makes it the
// node's current variant without adding one.
void MakeCurrent(CLayoutNode* pNode, const CLayoutVariant* v) {
  CLayoutCondition cond;
  cond.m_nKey = v->m_nKey;
  cond.m_nValue = v->m_nValue;
  cond.m_nMask = v->m_nMask;
  cond.m_bFilled = true;
  pNode->AddVariant(cond);
}

bool SetHeightOf(CLayoutNode* pNode, CLayoutVariant* v, int32_t nHeight) {
  if (!v || (v->m_y.m_bEdge1 && v->m_y.m_bEdge2)) return false;
  MakeCurrent(pNode, v);
  pNode->SetHeight(CLayoutAnchorRef(CLayoutValue::Constant(nHeight)));
  return true;
}

// The node's rectangle in window coordinates, from the last pass.
RECT Solved(const CLayoutNode* pNode) { return pNode->GetRect(CLayoutNode::SpaceWindow); }

}  // namespace

CLayoutVariant* EditActiveVariant(CLayoutNode* pNode) {
  if (!pNode) return nullptr;
  for (CLayoutVariant* v = pNode->GetFirstVariant(); v; v = v->m_pNext) {
    if (v->m_bActive) {
      MakeCurrent(pNode, v);
      return pNode->GetCurrentVariant();
    }
  }
  return nullptr;
}

CLayoutEdgeSpec LayoutEdgeTo(const TFraction& own, CLayoutNode* pAnchor, const TFraction& at,
                             const CLayoutValue& offset) {
  CLayoutEdgeSpec edgeSpec;
  edgeSpec.m_ownFraction = own;
  edgeSpec.m_offset = offset;
  edgeSpec.BeginAnchor();
  edgeSpec.m_anchorFraction = at;
  edgeSpec.m_pAnchor = pAnchor;
  return edgeSpec;
}

bool SetVerticalEdgeAndHeight(CLayoutNode* pNode, const CLayoutEdgeSpec& edge, const CLayoutValue& height) {
  if (!EditActiveVariant(pNode)) return false;
  pNode->SetVerticalEdge(edge).SetHeight(CLayoutAnchorRef(height));
  return true;
}

bool SetHeightPx(CLayoutNode* pNode, int32_t nHeight) {
  return pNode && SetHeightOf(pNode, EditActiveVariant(pNode), nHeight);
}

bool SetVariantHeightPx(CLayoutNode* pNode, int32_t key, uint32_t value, int32_t nHeight) {
  return pNode && SetHeightOf(pNode, FindVariant(pNode, key, value, 0xFFFFFFFFu), nHeight);
}

bool ShowLayoutNode(CLayoutNode* pNode, bool bVisible) {
  if (!EditActiveVariant(pNode)) return false;
  pNode->SetVisible(bVisible);
  return true;
}

bool SetDialogBandHeight(CLayoutNode* pRoot, int32_t nHeight) {
  CLayoutNode* pBand = pRoot ? pRoot->FindNode(42, -1) : nullptr;
  return SetVerticalEdgeAndHeight(pBand, LayoutEdgeTo(TFraction(1, 2), nullptr, TFraction(1, 2)),
                                  CLayoutValue::Constant(nHeight));
}

bool ReanchorHelpSpacers(CLayoutNode* pContent) {
  if (!pContent) return false;
  // {picture, paragraph, spacer}
  const int32_t aPairs[2][3] = {{165, 166, 167}, {168, 169, 170}};
  CLayoutNode* apNodes[2][3];
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j)
      if (!(apNodes[i][j] = pContent->FindNode(aPairs[i][j], -1)) || (j < 2 && !apNodes[i][j]->IsLaidOut()))
        return false;
  // Both decisions read the same pass; moving a spacer changes no height.
  bool bOk = true;
  for (auto& pair : apNodes) {
    CLayoutNode* pBelow = pair[1]->GetHeight() > pair[0]->GetHeight() ? pair[1] : pair[0];
    bOk = SetVerticalEdgeAndHeight(pair[2], LayoutEdgeTo(TFraction(0, 1), pBelow, TFraction(1, 1)),
                                   CLayoutValue::Constant(0)) &&
          bOk;
  }
  return bOk;
}

bool SizeCreditsSections(CLayoutNode* pContent, const int32_t (&anHeights)[6]) {
  if (!pContent) return false;
  CLayoutNode* apNodes[7];  // the title, then the sections
  for (int i = 0; i < 7; ++i)
    if (!(apNodes[i] = pContent->FindNode(178 + i, -1))) return false;
  bool bOk = true;
  for (int i = 1; i < 7; ++i) {
    bool bHeader = i % 2 == 1;
    CLayoutValue gap = bHeader ? CLayoutValue::Height(1, 30) : CLayoutValue();
    bOk = SetVerticalEdgeAndHeight(apNodes[i], LayoutEdgeTo(TFraction(0, 1), apNodes[i - 1], TFraction(1, 1), gap),
                                   CLayoutValue::Constant(anHeights[i - 1])) &&
          bOk;
  }
  return bOk;
}

bool ReanchorUserInfoSpacer(CLayoutNode* pContent, int32_t h191, int32_t h192, int32_t h193) {
  if (!pContent) return false;
  CLayoutNode* pPicture = pContent->FindNode(190, -1);
  CLayoutNode* p191 = pContent->FindNode(191, -1);
  CLayoutNode* p192 = pContent->FindNode(192, -1);
  CLayoutNode* p193 = pContent->FindNode(193, -1);
  CLayoutNode* pSpacer = pContent->FindNode(194, -1);
  for (CLayoutNode* n : {pPicture, p191, p192, p193})
    if (!n || !n->IsLaidOut()) return false;
  if (!pSpacer) return false;
  // #193's solved bottom still comes from the provisional heights, so the
  // column's bottom is rebuilt from the measured ones.
  int64_t nGap1 = int64_t(Solved(p192).top) - Solved(p191).bottom;
  int64_t nGap2 = int64_t(Solved(p193).top) - Solved(p192).bottom;
  int64_t nTextBottom = int64_t(Solved(p191).top) + h191 + nGap1 + h192 + nGap2 + h193;
  CLayoutNode* pBelow = Solved(pPicture).bottom > nTextBottom ? pPicture : p193;
  return SetVerticalEdgeAndHeight(pSpacer, LayoutEdgeTo(TFraction(0, 1), pBelow, TFraction(1, 1)),
                                  CLayoutValue::Constant(0));
}
