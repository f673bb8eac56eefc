// Proportional layout trees. A description fills a tree of CLayoutNodes
// through the builder face of the node it is given; the owner binds observers
// (controls) to nodes, selects variants by key and runs a pass against a
// rectangle. Every length is an exact fraction of a reference rectangle (or a
// constant), so one description serves every screen size and orientation;
// results are truncated to whole pixels only at the end of each node's solve.
//
// Broken invariants (an axis that cannot be solved, a node read before it was
// laid out, a value that leaves the 32-bit range) throw TPanic with the unit
// "layout"; an observer's failure surfaces as Env::TSysErrorCode after every
// observer has been told. UI thread only; a pass is not re-entrant.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>
#include <vector>

#include "framework/basetypes.h"
#include "framework/wrappers.h"

class CLayoutNode;

// A length or position: a kind and an exact fraction.
//   0 constant pixels (the integer part of the fraction, toward zero)
//   1 f x height, 2 f x width, 3 f x smaller side, 4 f x larger side
//   5 left*(1-f) + right*f, 6 top*(1-f) + bottom*f
// of the reference rectangle; any other kind evaluates like kind 0.
class CLayoutValue {
 public:
  enum : int32_t {
    KindConstant = 0,
    KindHeight = 1,
    KindWidth = 2,
    KindMinSide = 3,
    KindMaxSide = 4,
    KindHorizontal = 5,
    KindVertical = 6,
  };

  CLayoutValue() = default;  // constant 0
  CLayoutValue(int32_t kind, TFraction value) : m_nKind(kind), m_value(value) {}

  static CLayoutValue Constant(int32_t num, int32_t den = 1) { return {KindConstant, TFraction(num, den)}; }
  static CLayoutValue Height(int32_t num, int32_t den) { return {KindHeight, TFraction(num, den)}; }
  static CLayoutValue Width(int32_t num, int32_t den) { return {KindWidth, TFraction(num, den)}; }
  static CLayoutValue MinSide(int32_t num, int32_t den) { return {KindMinSide, TFraction(num, den)}; }
  static CLayoutValue MaxSide(int32_t num, int32_t den) { return {KindMaxSide, TFraction(num, den)}; }
  static CLayoutValue Horizontal(int32_t num, int32_t den) { return {KindHorizontal, TFraction(num, den)}; }
  static CLayoutValue Vertical(int32_t num, int32_t den) { return {KindVertical, TFraction(num, den)}; }

  // The same kind with the numerator negated.
  CLayoutValue Negate() const;

  // The exact value against the reference rectangle q (ignored by kind 0).
  TFraction Evaluate(const RECT& q) const;

  int32_t Kind() const { return m_nKind; }
  const TFraction& Value() const { return m_value; }
  friend bool operator==(const CLayoutValue&, const CLayoutValue&) = default;

 private:
  int32_t m_nKind = KindConstant;
  TFraction m_value;
};

// One edge constraint: the point at m_ownFraction of this node's extent lies
// at the point at m_anchorFraction of the anchor's extent, plus the offset
// evaluated on its reference. A null anchor or reference is the pass rectangle.
struct CLayoutEdge {
  CLayoutValue m_offset;
  TFraction m_anchorFraction;
  TFraction m_ownFraction;
  CLayoutNode* m_pAnchor = nullptr;
  CLayoutNode* m_pOffsetRef = nullptr;
};

struct CLayoutSize {
  CLayoutValue m_value;
  CLayoutNode* m_pRef = nullptr;
};

// The constraints of one axis. A solvable axis holds edge 1 and exactly one
// of edge 2 and the size.
struct CLayoutAxis {
  bool m_bEdge1 = false;
  bool m_bEdge2 = false;
  bool m_bSize = false;
  CLayoutEdge m_edge1;
  CLayoutEdge m_edge2;
  CLayoutSize m_size;
};

// One complete set of constraints of a node, chosen by its condition: key -1
// is a default variant; a keyed variant is active while (selected value AND
// mask) equals its value. Variants never inherit from each other.
struct CLayoutVariant {
  int32_t m_nKey = -1;
  uint32_t m_nValue = 1;
  uint32_t m_nMask = 0xFFFFFFFFu;
  bool m_bActive = true;
  CLayoutVariant* m_pNext = nullptr;
  CLayoutAxis m_x;
  CLayoutAxis m_y;
  // Managed visibility: while not free the layout shows or hides the bound
  // control; while free the control keeps its own visibility.
  bool m_bVisible = true;
  bool m_bVisibilityFree = true;
};

// Told about its one node: after a pass, a scroll or an offset change, and
// when the node dies (before anything of it is torn down).
class CLayoutObserver {
 public:
  virtual void OnLayoutChanged(CLayoutNode* pNode) = 0;  // may throw Env::TSysErrorCode
  virtual void OnLayoutNodeDeleted(CLayoutNode* pNode) = 0;

 protected:
  ~CLayoutObserver() = default;
};

// An edge request as descriptions fill it: stage 0 (own side) takes the own
// fraction, the offset and the offset reference; stage 1 (anchor side) the
// anchor fraction and the anchor. A variable, when given, wins over the direct
// node, which wins over the id (-1 none, -2 the parent, else looked up).
struct CLayoutEdgeSpec {
  CLayoutNode* m_pAnchor = nullptr;
  CLayoutNode* m_pOffsetRef = nullptr;
  CLayoutNode** m_ppAnchorVar = nullptr;
  CLayoutNode** m_ppOffsetRefVar = nullptr;
  TFraction m_anchorFraction;
  TFraction m_ownFraction;
  CLayoutValue m_offset;
  int32_t m_nAnchorId = -1;
  int32_t m_nAnchorSubId = -1;
  int32_t m_nOffsetRefId = -1;
  int32_t m_nOffsetRefSubId = -1;
  int32_t m_nStage = 0;

  CLayoutEdgeSpec& Reset();
  // Own fraction in stage 0, anchor fraction in stage 1.
  CLayoutEdgeSpec& SetFraction(int32_t num, int32_t den);
  // Offsets belong to the own side: both panic once the anchor stage began
  // (lines 515 and 587 of the layout unit).
  CLayoutEdgeSpec& SetOffset(const CLayoutValue& offset);
  CLayoutEdgeSpec& SetOffsetV(const CLayoutValue& offset);
  CLayoutEdgeSpec& BeginAnchor();
  // Stage 1: the anchor id while it is -1, else its sub-id; stage 0 likewise
  // for the offset reference.
  CLayoutEdgeSpec& SetNodeId(int32_t n);
};

// A size request: the value and its reference (resolved as for edges).
struct CLayoutAnchorRef {
  CLayoutNode* m_pNode = nullptr;
  CLayoutNode** m_ppNodeVar = nullptr;
  CLayoutValue m_value;
  int32_t m_nId = -1;
  int32_t m_nSubId = -1;

  CLayoutAnchorRef() = default;
  explicit CLayoutAnchorRef(const CLayoutValue& value, int32_t id = -1, int32_t subId = -1)
      : m_value(value), m_nId(id), m_nSubId(subId) {}
  CLayoutAnchorRef& Reset();
};

// A variant condition as descriptions fill it: Set stores the key while the
// key is -1, then the value (once), then the mask.
struct CLayoutCondition {
  int32_t m_nKey = -1;
  uint32_t m_nValue = 1;
  uint32_t m_nMask = 0xFFFFFFFFu;
  bool m_bFilled = false;

  CLayoutCondition& Set(int32_t n);
};

// The measure handler of a node. The node copies the binding of a CDelegate
// into one of these and calls it after solving the node; the invoker receives
// this handler as its delegate and answers with SetResult, a rectangle in the
// node's own coordinates. LayoutMeasureDelegate builds such a binding.
class CLayoutMeasureHandler : public CDelegate {
 public:
  using CDelegate::operator=;
  const RECT& Input() const { return m_rcInput; }  // (0, 0, width, height)
  void SetResult(const RECT& rc) { m_rcResult = rc; }

 private:
  friend class CLayoutNode;
  RECT m_rcInput;
  RECT m_rcResult;
};

// A measure binding calling `Method` on `pObject`:
//   RECT T::Method(const RECT& rcMeasure, void* pArgument)  or
//   RECT T::Method(const RECT& rcMeasure)
// where rcMeasure is (0, 0, solved width, solved height).
template <auto Method, class T>
CDelegate LayoutMeasureDelegate(T* pObject, void* pArgument = nullptr);

// The builder face of a node: the node a description is given holds the
// cursor (the node being edited) and the stack of saved cursors. Every
// operation acts on the cursor and returns the builder.
class CLayoutBuilder {
 public:
  CLayoutBuilder(const CLayoutBuilder&) = delete;
  CLayoutBuilder& operator=(const CLayoutBuilder&) = delete;

  CLayoutBuilder& BeginChild();
  CLayoutBuilder& EndChild();  // no-op on an empty stack
  CLayoutBuilder& SetId(int32_t id, int32_t subId);
  CLayoutBuilder& StoreNode(CLayoutNode** ppVar);
  CLayoutBuilder& AddVariant(const CLayoutCondition& condition);
  CLayoutBuilder& SetHorizontalEdge(const CLayoutEdgeSpec& edgeSpec);
  CLayoutBuilder& SetVerticalEdge(const CLayoutEdgeSpec& edgeSpec);
  CLayoutBuilder& SetWidth(const CLayoutAnchorRef& ref);
  CLayoutBuilder& SetHeight(const CLayoutAnchorRef& ref);
  CLayoutBuilder& SetVisible(bool bVisible);
  CLayoutBuilder& ClearVisible();

  CLayoutNode* GetCursor() const { return m_pCursor; }

 protected:
  explicit CLayoutBuilder(CLayoutNode* pSelf) : m_pCursor(pSelf) {}
  ~CLayoutBuilder() = default;

 private:
  friend class CLayoutNode;
  CLayoutNode* ResolveNode(CLayoutNode* const* ppVar, CLayoutNode* pDirect, int32_t id, int32_t subId) const;
  CLayoutEdge ResolveEdge(const CLayoutEdgeSpec& edgeSpec) const;

  CLayoutNode* m_pCursor;
  std::vector<CLayoutNode*> m_stack;
};

class CLayoutNode final : public CLayoutBuilder {
 public:
  // Coordinate spaces of ConvertRect and the getters.
  enum : int32_t {
    SpaceWindow = 0,         // the space of the pass rectangle
    SpaceOwn = 1,            // origin at the node's top-left
    SpaceContent = 2,        // own, shifted by minus the node's scroll position
    SpaceStored = 3,         // the parent's content space (at the root: own)
    SpaceParentContent = 4,  // the parent's content space (at the root: its content)
  };

  // A new root with one default variant, which is also its current variant.
  static std::unique_ptr<CLayoutNode> CreateRoot();
  ~CLayoutNode();

  // Deletes every child with its subtree (observers are told first); the
  // node's own variants and builder state stay. Constraints elsewhere in the
  // tree that pointed into the deleted nodes panic as "not laid out" at the
  // next pass instead of reading freed memory.
  void Clear();

  // The node itself, then its direct children, then each child's subtree in
  // turn; subId -1 matches any sub-id.
  CLayoutNode* FindNode(int32_t id, int32_t subId);

  // Variant selection over the subtree; each only clears laid-out flags.
  void ResetVariants();
  void EnsureDefaultVariants();
  void SelectVariants(int32_t key, uint32_t value);

  // With deep extent every child's subtree is finished before its next sibling
  // is solved, so a later sibling may anchor to an earlier one's descendants.
  CLayoutBuilder& SetDeepExtent(bool bDeep);
  void SetMeasureHandler(const CDelegate& handler);
  void SetObserver(CLayoutObserver* pObserver) { m_pObserver = pObserver; }
  CLayoutObserver* GetObserver() const { return m_pObserver; }
  void EnableNotifications(bool bEnable) { m_bNotificationsOff = !bEnable; }

  // Pins the node by four constant edges, offsets from the pass rectangle's
  // top-left corner, in every variant (a default one is created when it has
  // none). Owners that lay a tree out for a control or a window pin the root
  // (or the view area) to its screen rectangle this way and run the pass
  // against the whole screen (0, 0, width, height), so `rc` is in window
  // coordinates.
  void PinToRect(const RECT& rc);

  // A full pass over the tree containing this node against `rc` (window
  // coordinates), then the observers of this node's subtree are told unless
  // notifications are off here; the first observer code is thrown at the end.
  void Update(const RECT& rc);
  // Clamps to the content; tells the subtree's observers when the clamped
  // position changed. Children are not solved again.
  void SetScrollPos(int32_t x, int32_t y);
  // The translation takes effect at the next pass; the subtree's observers are
  // told at once when it changed on a laid-out node.
  void SetOffset(int32_t x, int32_t y);
  void Notify();

  // Results; each panics when the node is not laid out.
  RECT GetRect(int32_t space) const;
  RECT GetContentRect(int32_t space) const;
  int32_t GetWidth() const;
  int32_t GetHeight() const;
  RECT GetLocalRect() const;
  bool IsVisible() const;
  bool IsVisibilityFree() const;
  RECT ConvertRect(const RECT& rc, int32_t from, int32_t to) const;
  // What the measure handler saw last; readable from inside the handler.
  const RECT& GetMeasureRect() const { return m_rcMeasure; }
  bool IsLaidOut() const { return m_bLaidOut; }

  // True when b is a, one of a's ancestors, or null.
  static bool IsSelfOrAncestor(const CLayoutNode* a, const CLayoutNode* b);

  int32_t GetId() const { return m_nId; }
  int32_t GetSubId() const { return m_nSubId; }
  CLayoutNode* GetRoot() const { return m_pRoot; }
  CLayoutNode* GetParent() const { return m_pParent; }
  CLayoutNode* GetFirstChild() const { return m_pFirstChild; }
  CLayoutNode* GetNextSibling() const { return m_pNextSibling; }
  int32_t GetScrollX() const { return m_nScrollX; }
  int32_t GetScrollY() const { return m_nScrollY; }
  CLayoutVariant* GetFirstVariant() const { return m_pFirstVariant; }
  CLayoutVariant* GetCurrentVariant() const { return m_pCurrentVariant; }

 private:
  friend class CLayoutBuilder;
  CLayoutNode();

  static CLayoutNode* DeadNode();
  CLayoutVariant* ActiveVariant() const;
  CLayoutVariant* AppendVariant(int32_t key, uint32_t value, uint32_t mask);
  CLayoutVariant* CurrentVariantForEdit();
  void ClearLaidOutFlags();
  void MarkDoomed(bool bDoomed);
  void ForgetReferencesToDoomed();

  void Solve(const RECT& pass);
  void ComputeExtent(const RECT& pass);
  void ClampScroll();
  TFraction Evaluate(const CLayoutValue& value, const CLayoutNode* pRef, const RECT& pass) const;
  RECT LayoutSpaceRect(int32_t lineSelf, int32_t lineAncestor) const;
  POINT SpaceOrigin(int32_t space, bool* pValid) const;
  int32_t NotifyObservers();

  CLayoutNode* m_pRoot;
  CLayoutNode* m_pParent = nullptr;
  CLayoutNode* m_pFirstChild = nullptr;
  CLayoutNode* m_pLastChild = nullptr;
  CLayoutNode* m_pNextSibling = nullptr;
  int32_t m_nId = -1;
  int32_t m_nSubId = -1;
  bool m_bVisible = false;
  bool m_bVisibilityFree = true;
  bool m_bDeepExtent = false;
  bool m_bLaidOut = false;
  bool m_bNotificationsOff = false;
  bool m_bDoomed = false;  // only while Clear deletes this node
  int32_t m_nScrollX = 0;
  int32_t m_nScrollY = 0;
  int32_t m_nOffsetX = 0;
  int32_t m_nOffsetY = 0;
  RECT m_rcMeasure;
  RECT m_rect;      // relative to the parent's content origin (root: window)
  RECT m_rcContent; // relative to the node's own origin
  CLayoutMeasureHandler m_measure;
  CLayoutVariant* m_pFirstVariant = nullptr;
  CLayoutVariant* m_pLastVariant = nullptr;
  CLayoutVariant* m_pCurrentVariant = nullptr;
  CLayoutObserver* m_pObserver = nullptr;
};

namespace LayoutDetail {
// The handler a node is calling right now (null outside a measure call), so
// that an invoker can tell a node's call from a plain delegate call without
// looking into a delegate of unknown type.
extern thread_local CLayoutMeasureHandler* t_pMeasuring;

template <auto Method, class T>
void InvokeMeasure(CDelegate* pSelf, void* pObject, void* pArgument) {
  CLayoutMeasureHandler* pHandler = pSelf == t_pMeasuring ? t_pMeasuring : nullptr;
  RECT rcMeasure = pHandler ? pHandler->Input() : RECT{};
  T* pTarget = static_cast<T*>(pObject);
  RECT rc;
  if constexpr (std::is_invocable_v<decltype(Method), T*, const RECT&, void*>)
    rc = (pTarget->*Method)(rcMeasure, pArgument);
  else
    rc = (pTarget->*Method)(rcMeasure);
  if (pHandler) pHandler->SetResult(rc);
}
}  // namespace LayoutDetail

template <auto Method, class T>
CDelegate LayoutMeasureDelegate(T* pObject, void* pArgument) {
  return CDelegate(pObject, pArgument, &LayoutDetail::InvokeMeasure<Method, T>);
}
