#include "layouts/LayoutCheck.h"

#include <algorithm>
#include <cstring>

namespace {

bool HasConstraint(const CLayoutAxis& a) { return a.m_bEdge1 || a.m_bEdge2 || a.m_bSize; }

bool IsComplete(const CLayoutAxis& a) {
  if (!a.m_bEdge1 || a.m_bEdge2 == a.m_bSize) return false;
  return !a.m_bEdge2 || !(a.m_edge1.m_ownFraction == a.m_edge2.m_ownFraction);
}

std::string VariantLabel(const CLayoutVariant* v) {
  if (v->m_nKey == -1) return "default";
  std::string s = std::to_string(v->m_nKey) + "=" + std::to_string(v->m_nValue);
  if (v->m_nMask != 0xFFFFFFFFu) s += "/" + std::to_string(v->m_nMask);
  return s;
}

// The label of a node and of its nearest ancestor with an id, so that nodes
// without id can be found in the table.
std::string Where(const CLayoutNode* pNode) {
  std::string s = LayoutNodeLabel(pNode);
  if (pNode->GetId() != -1) return s;
  for (const CLayoutNode* p = pNode->GetParent(); p; p = p->GetParent())
    if (p->GetId() != -1) return s + " under " + LayoutNodeLabel(p);
  return s;
}

void CheckNode(const CLayoutNode* pNode, std::span<const int32_t> keys, std::span<const CLayoutNode* const> pinned,
               std::vector<std::string>& problems) {
  bool bPlacedByDefault = false;
  bool bAllKeysSelected = true;
  bool bKeyed = false;
  for (const CLayoutVariant* v = pNode->GetFirstVariant(); v; v = v->m_pNext) {
    bool bConstrained = HasConstraint(v->m_x) || HasConstraint(v->m_y);
    if (bConstrained) {
      if (!IsComplete(v->m_x)) problems.push_back(Where(pNode) + " " + VariantLabel(v) + ": horizontal axis incomplete");
      if (!IsComplete(v->m_y)) problems.push_back(Where(pNode) + " " + VariantLabel(v) + ": vertical axis incomplete");
    }
    if (v->m_nKey == -1) {
      bPlacedByDefault = bPlacedByDefault || bConstrained;
    } else {
      bKeyed = true;
      if (std::find(keys.begin(), keys.end(), v->m_nKey) == keys.end()) bAllKeysSelected = false;
    }
  }
  bool bPinned = std::find(pinned.begin(), pinned.end(), pNode) != pinned.end();
  if (!bPlacedByDefault && !bPinned) {
    if (!bKeyed)
      problems.push_back(Where(pNode) + ": no constraints");
    else if (!bAllKeysSelected)
      problems.push_back(Where(pNode) + ": placed only by keys its owner does not select");
  }
  for (const CLayoutNode* c = pNode->GetFirstChild(); c; c = c->GetNextSibling()) CheckNode(c, keys, pinned, problems);
}

}  // namespace

std::vector<std::string> CheckLayoutTree(const CLayoutNode* pRoot, std::span<const int32_t> selectedKeys,
                                         std::span<const CLayoutNode* const> pinned) {
  std::vector<std::string> problems;
  if (pRoot) CheckNode(pRoot, selectedKeys, pinned, problems);
  return problems;
}

bool IsDeliberateMissingRef(const TLayoutMissingRef& ref) {
  return ref.pszDescription && std::strcmp(ref.pszDescription, "BuildUserInfoContentLayout") == 0 &&
         ref.nId == 129 && ref.nSubId == -1;
}

std::string LayoutNodeLabel(const CLayoutNode* pNode) {
  if (pNode->GetId() == -1) return "(no id)";
  std::string s = "#" + std::to_string(pNode->GetId());
  if (pNode->GetSubId() != -1) s += "." + std::to_string(pNode->GetSubId());
  return s;
}
