#include "framework/layout.h"

#include <algorithm>
#include <climits>
#include <string>

#include "framework/Trace.h"

namespace {

constexpr const char16_t* kUnit = u"layout";

// Panic lines of the layout unit.
enum : int32_t {
  kLineRefNotLaidOut = 61,
  kLineEdgeOffsetAfterAnchor = 515,
  kLineEdgeOffsetVAfterAnchor = 587,
  kLineConvertParent = 817,
  kLineSolveParent = 842,
  kLineNoVariant = 876,
  kLineBadAxisX = 894,
  kLineSameFractionX = 908,
  kLineBadAxisY = 926,
  kLineSameFractionY = 940,
  kLineExtentNoVariant = 999,
  kLineConvert = 1197,
  kLineGetRect = 1239,
  kLineGetContentRect = 1252,
  kLineGetWidth = 1265,
  kLineGetHeight = 1274,
  kLineGetLocalRect = 1283,
  kLineIsVisible = 1292,
  kLineIsVisibilityFree = 1301,
  kLineSetScrollPos = 1310,
  kLineClampScroll = 1333,
  // A value that leaves the 32-bit range: wrapping would place a control at
  // some arbitrary pixel, so the pass stops instead.
  kLineOverflow = 1350,
};

[[noreturn]] void Panic(int32_t line) { QUOREL_PANIC(kUnit, line); }

// Exact arithmetic: 64-bit intermediates, every result reduced and required
// to fit TFraction's 32-bit fields.
int64_t MulI(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_mul_overflow(a, b, &r)) Panic(kLineOverflow);
  return r;
}

int64_t AddI(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_add_overflow(a, b, &r)) Panic(kLineOverflow);
  return r;
}

int64_t SubI(int64_t a, int64_t b) {
  int64_t r;
  if (__builtin_sub_overflow(a, b, &r)) Panic(kLineOverflow);
  return r;
}

int32_t Narrow(int64_t v) {
  if (v < INT32_MIN || v > INT32_MAX) Panic(kLineOverflow);
  return static_cast<int32_t>(v);
}

TFraction MakeFraction(int64_t num, int64_t den) {
  if (den < 0) {
    num = SubI(0, num);
    den = SubI(0, den);
  }
  int64_t g = Gcd(num, den);  // den > 0, so g > 0
  num /= g;
  den /= g;
  if (num < INT32_MIN || num > INT32_MAX || den > INT32_MAX) Panic(kLineOverflow);
  return TFraction(static_cast<int32_t>(num), static_cast<int32_t>(den));
}

TFraction Add(const TFraction& a, const TFraction& b) {
  int64_t g = Gcd(a.Den(), b.Den());
  int64_t lcm = a.Den() / g * int64_t(b.Den());
  return MakeFraction(AddI(MulI(a.Num(), lcm / a.Den()), MulI(b.Num(), lcm / b.Den())), lcm);
}

TFraction Subtract(const TFraction& a, const TFraction& b) {
  int64_t g = Gcd(a.Den(), b.Den());
  int64_t lcm = a.Den() / g * int64_t(b.Den());
  return MakeFraction(SubI(MulI(a.Num(), lcm / a.Den()), MulI(b.Num(), lcm / b.Den())), lcm);
}

TFraction Multiply(const TFraction& a, const TFraction& b) {
  return MakeFraction(int64_t(a.Num()) * b.Num(), int64_t(a.Den()) * b.Den());
}

// b must not be zero (the solver checks the own fractions first).
TFraction Divide(const TFraction& a, const TFraction& b) {
  return MakeFraction(int64_t(a.Num()) * b.Den(), int64_t(a.Den()) * b.Num());
}

// f x length, with the length taken as a 64-bit integer so that a rectangle
// wider than 2^31 still evaluates when the product fits.
TFraction Scale(const TFraction& f, int64_t length) { return MakeFraction(MulI(f.Num(), length), f.Den()); }

// lo x (1 - f) + hi x f
TFraction Between(int32_t lo, int32_t hi, const TFraction& f) {
  int64_t num = AddI(MulI(lo, SubI(f.Den(), f.Num())), MulI(hi, f.Num()));
  return MakeFraction(num, f.Den());
}

int32_t Truncate(const TFraction& f) { return f.Num() / f.Den(); }

bool IsZero(const TFraction& f) { return f.Num() == 0; }

RECT Offset(const RECT& rc, int64_t dx, int64_t dy) {
  return RECT{Narrow(AddI(rc.left, dx)), Narrow(AddI(rc.top, dy)), Narrow(AddI(rc.right, dx)),
              Narrow(AddI(rc.bottom, dy))};
}

// One axis solved: its low and high coordinates, still exact.
struct TSpan {
  TFraction lo;
  TFraction hi;
};

void ClearAxis(CLayoutAxis& axis) { axis.m_bEdge1 = axis.m_bEdge2 = axis.m_bSize = false; }

// Keeps at most two constraints per axis: a request that fits neither of the
// two held starts the axis over.
void StoreEdge(CLayoutAxis& axis, const CLayoutEdge& edge) {
  if (axis.m_bEdge1 && axis.m_bSize && edge.m_ownFraction != axis.m_edge1.m_ownFraction) ClearAxis(axis);
  if (axis.m_bEdge1 && edge.m_ownFraction == axis.m_edge1.m_ownFraction && edge.m_pAnchor != axis.m_edge1.m_pAnchor)
    ClearAxis(axis);
  if (axis.m_bEdge1 && axis.m_bEdge2 && edge.m_ownFraction != axis.m_edge1.m_ownFraction &&
      edge.m_ownFraction != axis.m_edge2.m_ownFraction)
    ClearAxis(axis);
  if (!axis.m_bEdge1 ||
      (axis.m_edge1.m_pAnchor == edge.m_pAnchor && axis.m_edge1.m_ownFraction == edge.m_ownFraction)) {
    axis.m_edge1 = edge;
    axis.m_bEdge1 = true;
  } else {
    axis.m_edge2 = edge;
    axis.m_bEdge2 = true;
  }
}

void StoreSize(CLayoutAxis& axis, const CLayoutSize& size) {
  if (axis.m_bEdge1 && axis.m_bEdge2) ClearAxis(axis);
  axis.m_size = size;
  axis.m_bSize = true;
}

void PinAxis(CLayoutAxis& axis, int32_t lo, int32_t hi) {
  axis = CLayoutAxis{};
  axis.m_edge1.m_offset = CLayoutValue::Constant(lo);
  axis.m_edge2.m_offset = CLayoutValue::Constant(hi);
  axis.m_edge2.m_ownFraction = TFraction(1, 1);
  axis.m_bEdge1 = axis.m_bEdge2 = true;
}

}  // namespace

thread_local CLayoutMeasureHandler* LayoutDetail::t_pMeasuring = nullptr;

// ---------------------------------------------------------------------------
// Values and argument records

CLayoutValue CLayoutValue::Negate() const {
  return CLayoutValue(m_nKind, MakeFraction(SubI(0, m_value.Num()), m_value.Den()));
}

TFraction CLayoutValue::Evaluate(const RECT& q) const {
  int64_t w = int64_t(q.right) - q.left;
  int64_t h = int64_t(q.bottom) - q.top;
  switch (m_nKind) {
    case KindHeight: return Scale(m_value, h);
    case KindWidth: return Scale(m_value, w);
    case KindMinSide: return Scale(m_value, std::min(w, h));
    case KindMaxSide: return Scale(m_value, std::max(w, h));
    case KindHorizontal: return Between(q.left, q.right, m_value);
    case KindVertical: return Between(q.top, q.bottom, m_value);
    default: return TFraction(Truncate(m_value), 1);
  }
}

CLayoutEdgeSpec& CLayoutEdgeSpec::Reset() {
  *this = CLayoutEdgeSpec{};
  return *this;
}

CLayoutEdgeSpec& CLayoutEdgeSpec::SetFraction(int32_t num, int32_t den) {
  TFraction f(num, den);
  if (m_nStage == 0)
    m_ownFraction = f;
  else
    m_anchorFraction = f;
  return *this;
}

CLayoutEdgeSpec& CLayoutEdgeSpec::SetOffset(const CLayoutValue& offset) {
  if (m_nStage != 0) Panic(kLineEdgeOffsetAfterAnchor);
  m_offset = offset;
  return *this;
}

CLayoutEdgeSpec& CLayoutEdgeSpec::SetOffsetV(const CLayoutValue& offset) {
  if (m_nStage != 0) Panic(kLineEdgeOffsetVAfterAnchor);
  m_offset = offset;
  return *this;
}

CLayoutEdgeSpec& CLayoutEdgeSpec::BeginAnchor() {
  m_nStage = 1;
  return *this;
}

CLayoutEdgeSpec& CLayoutEdgeSpec::SetNodeId(int32_t n) {
  int32_t& id = m_nStage != 0 ? m_nAnchorId : m_nOffsetRefId;
  int32_t& subId = m_nStage != 0 ? m_nAnchorSubId : m_nOffsetRefSubId;
  if (id == -1)
    id = n;
  else
    subId = n;
  return *this;
}

CLayoutAnchorRef& CLayoutAnchorRef::Reset() {
  *this = CLayoutAnchorRef{};
  return *this;
}

CLayoutCondition& CLayoutCondition::Set(int32_t n) {
  if (m_nKey == -1) {
    m_nKey = n;
  } else if (!m_bFilled) {
    m_nValue = static_cast<uint32_t>(n);
    m_bFilled = true;
  } else {
    m_nMask = static_cast<uint32_t>(n);
  }
  return *this;
}

// ---------------------------------------------------------------------------
// Builder

CLayoutBuilder& CLayoutBuilder::BeginChild() {
  CLayoutNode* pParent = m_pCursor;
  m_stack.push_back(pParent);
  CLayoutNode* pChild;
  try {
    pChild = new CLayoutNode();
  } catch (...) {
    m_stack.pop_back();
    throw;
  }
  pChild->m_pRoot = pParent->m_pRoot;
  pChild->m_pParent = pParent;
  if (pParent->m_pLastChild)
    pParent->m_pLastChild->m_pNextSibling = pChild;
  else
    pParent->m_pFirstChild = pChild;
  pParent->m_pLastChild = pChild;
  m_pCursor = pChild;
  return *this;
}

CLayoutBuilder& CLayoutBuilder::EndChild() {
  if (!m_stack.empty()) {
    m_pCursor = m_stack.back();
    m_stack.pop_back();
  }
  return *this;
}

CLayoutBuilder& CLayoutBuilder::SetId(int32_t id, int32_t subId) {
  m_pCursor->m_nId = id;
  m_pCursor->m_nSubId = subId;
  return *this;
}

CLayoutBuilder& CLayoutBuilder::StoreNode(CLayoutNode** ppVar) {
  if (ppVar) *ppVar = m_pCursor;
  return *this;
}

CLayoutBuilder& CLayoutBuilder::AddVariant(const CLayoutCondition& condition) {
  CLayoutNode* pNode = m_pCursor;
  CLayoutVariant* pFound = nullptr;
  for (CLayoutVariant* v = pNode->m_pFirstVariant; v && !pFound; v = v->m_pNext)
    if (v->m_nKey == condition.m_nKey && v->m_nValue == condition.m_nValue && v->m_nMask == condition.m_nMask)
      pFound = v;
  if (!pFound) pFound = pNode->AppendVariant(condition.m_nKey, condition.m_nValue, condition.m_nMask);
  pNode->m_pCurrentVariant = pFound;
  return *this;
}

CLayoutNode* CLayoutBuilder::ResolveNode(CLayoutNode* const* ppVar, CLayoutNode* pDirect, int32_t id,
                                         int32_t subId) const {
  if (ppVar) return *ppVar;
  if (pDirect) return pDirect;
  if (id == -1) return nullptr;
  if (id == -2) return m_pCursor->m_pParent;
  CLayoutNode* pFound = m_pCursor->m_pRoot->FindNode(id, subId);
  if (!pFound) {
    // Still measured against the pass rectangle, but a description that names
    // a node it has not built yet should not go unnoticed.
    DebugTrace(u"[QUOREL] layout: no node %d/%d in the tree; the constraint measures against the pass rectangle\n",
               id, subId);
  }
  return pFound;
}

CLayoutEdge CLayoutBuilder::ResolveEdge(const CLayoutEdgeSpec& edgeSpec) const {
  CLayoutEdge edge;
  edge.m_offset = edgeSpec.m_offset;
  edge.m_anchorFraction = edgeSpec.m_anchorFraction;
  edge.m_ownFraction = edgeSpec.m_ownFraction;
  edge.m_pAnchor =
      ResolveNode(edgeSpec.m_ppAnchorVar, edgeSpec.m_pAnchor, edgeSpec.m_nAnchorId, edgeSpec.m_nAnchorSubId);
  edge.m_pOffsetRef =
      ResolveNode(edgeSpec.m_ppOffsetRefVar, edgeSpec.m_pOffsetRef, edgeSpec.m_nOffsetRefId, edgeSpec.m_nOffsetRefSubId);
  return edge;
}

CLayoutBuilder& CLayoutBuilder::SetHorizontalEdge(const CLayoutEdgeSpec& edgeSpec) {
  StoreEdge(m_pCursor->CurrentVariantForEdit()->m_x, ResolveEdge(edgeSpec));
  return *this;
}

CLayoutBuilder& CLayoutBuilder::SetVerticalEdge(const CLayoutEdgeSpec& edgeSpec) {
  StoreEdge(m_pCursor->CurrentVariantForEdit()->m_y, ResolveEdge(edgeSpec));
  return *this;
}

CLayoutBuilder& CLayoutBuilder::SetWidth(const CLayoutAnchorRef& ref) {
  CLayoutSize size{ref.m_value, ResolveNode(ref.m_ppNodeVar, ref.m_pNode, ref.m_nId, ref.m_nSubId)};
  StoreSize(m_pCursor->CurrentVariantForEdit()->m_x, size);
  return *this;
}

CLayoutBuilder& CLayoutBuilder::SetHeight(const CLayoutAnchorRef& ref) {
  CLayoutSize size{ref.m_value, ResolveNode(ref.m_ppNodeVar, ref.m_pNode, ref.m_nId, ref.m_nSubId)};
  StoreSize(m_pCursor->CurrentVariantForEdit()->m_y, size);
  return *this;
}

CLayoutBuilder& CLayoutBuilder::SetVisible(bool bVisible) {
  CLayoutVariant* v = m_pCursor->CurrentVariantForEdit();
  v->m_bVisible = bVisible;
  v->m_bVisibilityFree = false;
  return *this;
}

CLayoutBuilder& CLayoutBuilder::ClearVisible() {
  m_pCursor->CurrentVariantForEdit()->m_bVisibilityFree = true;
  return *this;
}

// ---------------------------------------------------------------------------
// Tree and variants

CLayoutNode::CLayoutNode() : CLayoutBuilder(this), m_pRoot(this) {}

std::unique_ptr<CLayoutNode> CLayoutNode::CreateRoot() {
  std::unique_ptr<CLayoutNode> pRoot(new CLayoutNode());
  pRoot->m_pCurrentVariant = pRoot->AppendVariant(-1, 1, 0xFFFFFFFFu);
  return pRoot;
}

CLayoutNode::~CLayoutNode() {
  if (m_pObserver) {
    // A destructor must not throw; an observer failing here has nothing left
    // to report to.
    try {
      m_pObserver->OnLayoutNodeDeleted(this);
    } catch (...) {
      DebugTrace(u"[QUOREL] layout: an observer failed while its node was deleted\n");
    }
  }
  for (CLayoutVariant* v = m_pFirstVariant; v;) {
    CLayoutVariant* pNext = v->m_pNext;
    delete v;
    v = pNext;
  }
  for (CLayoutNode* c = m_pFirstChild; c;) {
    CLayoutNode* pNext = c->m_pNextSibling;
    delete c;
    c = pNext;
  }
  m_measure.Detach();
}

CLayoutNode* CLayoutNode::DeadNode() {
  // Never laid out and in no tree: a constraint that pointed at a deleted node
  // points here, so the next pass reports it as a reference not laid out.
  static CLayoutNode s_dead;
  return &s_dead;
}

void CLayoutNode::MarkDoomed(bool bDoomed) {
  m_bDoomed = bDoomed;
  for (CLayoutNode* c = m_pFirstChild; c; c = c->m_pNextSibling) c->MarkDoomed(bDoomed);
}

void CLayoutNode::ForgetReferencesToDoomed() {
  if (m_bDoomed) return;
  auto fix = [](CLayoutNode*& p) {
    if (p && p->m_bDoomed) p = DeadNode();
  };
  for (CLayoutVariant* v = m_pFirstVariant; v; v = v->m_pNext) {
    for (CLayoutAxis* axis : {&v->m_x, &v->m_y}) {
      fix(axis->m_edge1.m_pAnchor);
      fix(axis->m_edge1.m_pOffsetRef);
      fix(axis->m_edge2.m_pAnchor);
      fix(axis->m_edge2.m_pOffsetRef);
      fix(axis->m_size.m_pRef);
    }
  }
  for (CLayoutNode* c = m_pFirstChild; c; c = c->m_pNextSibling) c->ForgetReferencesToDoomed();
}

void CLayoutNode::Clear() {
  if (!m_pFirstChild) return;
  for (CLayoutNode* c = m_pFirstChild; c; c = c->m_pNextSibling) c->MarkDoomed(true);
  m_pRoot->ForgetReferencesToDoomed();
  // A builder cursor lies in its own node's subtree, so only this node and
  // its ancestors can be editing inside what is about to go.
  for (CLayoutNode* n = this; n; n = n->m_pParent) {
    while (n->m_pCursor->m_bDoomed) {
      if (n->m_stack.empty()) {
        n->m_pCursor = n;
        break;
      }
      n->m_pCursor = n->m_stack.back();
      n->m_stack.pop_back();
    }
  }
  CLayoutNode* pFirst = m_pFirstChild;
  m_pFirstChild = m_pLastChild = nullptr;
  for (CLayoutNode* c = pFirst; c;) {
    CLayoutNode* pNext = c->m_pNextSibling;
    delete c;
    c = pNext;
  }
}

CLayoutNode* CLayoutNode::FindNode(int32_t id, int32_t subId) {
  auto matches = [&](const CLayoutNode* n) { return n->m_nId == id && (subId == -1 || n->m_nSubId == subId); };
  if (matches(this)) return this;
  for (CLayoutNode* c = m_pFirstChild; c; c = c->m_pNextSibling)
    if (matches(c)) return c;
  for (CLayoutNode* c = m_pFirstChild; c; c = c->m_pNextSibling)
    if (CLayoutNode* pFound = c->FindNode(id, subId)) return pFound;
  return nullptr;
}

CLayoutVariant* CLayoutNode::ActiveVariant() const {
  for (CLayoutVariant* v = m_pFirstVariant; v; v = v->m_pNext)
    if (v->m_bActive) return v;
  return nullptr;
}

CLayoutVariant* CLayoutNode::AppendVariant(int32_t key, uint32_t value, uint32_t mask) {
  auto* v = new CLayoutVariant();
  v->m_nKey = key;
  v->m_nValue = value;
  v->m_nMask = mask;
  v->m_bActive = key == -1;
  if (m_pLastVariant)
    m_pLastVariant->m_pNext = v;
  else
    m_pFirstVariant = v;
  m_pLastVariant = v;
  return v;
}

CLayoutVariant* CLayoutNode::CurrentVariantForEdit() {
  if (!m_pCurrentVariant) m_pCurrentVariant = AppendVariant(-1, 1, 0xFFFFFFFFu);
  return m_pCurrentVariant;
}

void CLayoutNode::ClearLaidOutFlags() {
  m_bLaidOut = false;
  for (CLayoutNode* c = m_pFirstChild; c; c = c->m_pNextSibling) c->ClearLaidOutFlags();
}

void CLayoutNode::ResetVariants() {
  for (CLayoutVariant* v = m_pFirstVariant; v; v = v->m_pNext) v->m_bActive = v->m_nKey == -1;
  m_bLaidOut = false;
  for (CLayoutNode* c = m_pFirstChild; c; c = c->m_pNextSibling) c->ResetVariants();
}

void CLayoutNode::EnsureDefaultVariants() {
  if (m_pFirstVariant && !ActiveVariant())
    for (CLayoutVariant* v = m_pFirstVariant; v; v = v->m_pNext)
      if (v->m_nKey == -1) v->m_bActive = true;
  m_bLaidOut = false;
  for (CLayoutNode* c = m_pFirstChild; c; c = c->m_pNextSibling) c->EnsureDefaultVariants();
}

void CLayoutNode::SelectVariants(int32_t key, uint32_t value) {
  // -1 marks the defaults; it is no key one can select (ResetVariants
  // restores the defaults).
  if (key == -1) return;
  CLayoutVariant* pUsedBefore = ActiveVariant();
  CLayoutVariant* pDefault = nullptr;
  bool bHasKey = false;
  bool bMatched = false;
  for (CLayoutVariant* v = m_pFirstVariant; v; v = v->m_pNext) {
    if (v->m_nKey == -1) {
      pDefault = v;
    } else if (v->m_nKey == key) {
      bHasKey = true;
      v->m_bActive = (value & v->m_nMask) == v->m_nValue;
      bMatched = bMatched || v->m_bActive;
    }
  }
  // A node without variants of this key keeps its state, default included.
  if (bHasKey && pDefault) pDefault->m_bActive = !bMatched;
  if (ActiveVariant() != pUsedBefore || (m_pParent && !m_pParent->m_bLaidOut)) m_bLaidOut = false;
  for (CLayoutNode* c = m_pFirstChild; c; c = c->m_pNextSibling) c->SelectVariants(key, value);
}

CLayoutBuilder& CLayoutNode::SetDeepExtent(bool bDeep) {
  m_bDeepExtent = bDeep;
  return *this;
}

void CLayoutNode::SetMeasureHandler(const CDelegate& handler) { m_measure = handler; }

void CLayoutNode::PinToRect(const RECT& rc) {
  CurrentVariantForEdit();
  for (CLayoutVariant* v = m_pFirstVariant; v; v = v->m_pNext) {
    PinAxis(v->m_x, rc.left, rc.right);
    PinAxis(v->m_y, rc.top, rc.bottom);
  }
}

bool CLayoutNode::IsSelfOrAncestor(const CLayoutNode* a, const CLayoutNode* b) {
  if (!b) return true;
  for (const CLayoutNode* n = a; n; n = n->m_pParent)
    if (n == b) return true;
  return false;
}

// ---------------------------------------------------------------------------
// The pass

RECT CLayoutNode::LayoutSpaceRect(int32_t lineSelf, int32_t lineAncestor) const {
  if (!m_bLaidOut) Panic(lineSelf);
  int64_t dx = 0, dy = 0;
  for (const CLayoutNode* p = m_pParent; p; p = p->m_pParent) {
    if (!p->m_bLaidOut) Panic(lineAncestor);
    dx += p->m_rect.left;
    dy += p->m_rect.top;
  }
  return Offset(m_rect, dx, dy);
}

TFraction CLayoutNode::Evaluate(const CLayoutValue& value, const CLayoutNode* pRef, const RECT& pass) const {
  if (value.Kind() < CLayoutValue::KindHeight || value.Kind() > CLayoutValue::KindVertical)
    return value.Evaluate(pass);  // constants never look at a reference
  return value.Evaluate(pRef ? pRef->LayoutSpaceRect(kLineRefNotLaidOut, kLineConvertParent) : pass);
}

void CLayoutNode::Solve(const RECT& pass) {
  CLayoutVariant* v = ActiveVariant();
  if (!v) Panic(kLineNoVariant);

  auto solveAxis = [&](const CLayoutAxis& axis, int32_t positionKind, int32_t lineBad, int32_t lineSame) {
    if (!axis.m_bEdge1 || axis.m_bEdge2 == axis.m_bSize) Panic(lineBad);
    auto position = [&](const CLayoutEdge& e) {
      return Add(Evaluate(CLayoutValue(positionKind, e.m_anchorFraction), e.m_pAnchor, pass),
                 Evaluate(e.m_offset, e.m_pOffsetRef, pass));
    };
    const TFraction& g1 = axis.m_edge1.m_ownFraction;
    TFraction p1 = position(axis.m_edge1);
    TFraction extent;
    if (axis.m_bEdge2) {
      const TFraction& g2 = axis.m_edge2.m_ownFraction;
      TFraction dg = Subtract(g1, g2);
      if (IsZero(dg)) Panic(lineSame);
      extent = Divide(Subtract(p1, position(axis.m_edge2)), dg);
    } else {
      extent = Evaluate(axis.m_size.m_value, axis.m_size.m_pRef, pass);
    }
    TFraction lo = Subtract(p1, Multiply(g1, extent));
    return TSpan{lo, Add(lo, extent)};
  };
  TSpan x = solveAxis(v->m_x, CLayoutValue::KindHorizontal, kLineBadAxisX, kLineSameFractionX);
  TSpan y = solveAxis(v->m_y, CLayoutValue::KindVertical, kLineBadAxisY, kLineSameFractionY);

  int32_t l = Truncate(x.lo), r = Truncate(x.hi), t = Truncate(y.lo), b = Truncate(y.hi);
  RECT rc{std::min(l, r), std::min(t, b), std::max(l, r), std::max(t, b)};

  if (m_measure.IsSet() || m_measure.Object()) {
    // The handler sees only the size and answers in the node's own
    // coordinates; the answer is placed at the solved top-left.
    m_rcMeasure = RECT{0, 0, Narrow(int64_t(rc.right) - rc.left), Narrow(int64_t(rc.bottom) - rc.top)};
    m_measure.m_rcInput = m_rcMeasure;
    m_measure.m_rcResult = RECT{};
    struct TMeasuring {
      CLayoutMeasureHandler* pOuter = LayoutDetail::t_pMeasuring;
      ~TMeasuring() { LayoutDetail::t_pMeasuring = pOuter; }
    } measuring;
    LayoutDetail::t_pMeasuring = &m_measure;
    m_measure.Call();
    rc = Offset(m_measure.m_rcResult, rc.left, rc.top);
  }
  // Widths and heights are read as 32-bit numbers everywhere else.
  Narrow(int64_t(rc.right) - rc.left);
  Narrow(int64_t(rc.bottom) - rc.top);

  m_bLaidOut = true;
  if (m_pParent) {
    RECT parent = m_pParent->LayoutSpaceRect(kLineSolveParent, kLineSolveParent);
    rc = Offset(rc, -int64_t(parent.left), -int64_t(parent.top));
  }

  m_bVisible = v->m_bVisible;
  m_bVisibilityFree = v->m_bVisibilityFree;
  if (m_pParent && !m_pParent->m_bVisible && !m_pParent->m_bVisibilityFree) {
    m_bVisible = false;
    m_bVisibilityFree = false;
  }

  m_rect = Offset(rc, m_nOffsetX, m_nOffsetY);
}

void CLayoutNode::ComputeExtent(const RECT& pass) {
  if (!ActiveVariant()) Panic(kLineExtentNoVariant);
  int32_t nRight = 0, nBottom = 0;
  for (CLayoutNode* c = m_pFirstChild; c; c = c->m_pNextSibling) {
    c->Solve(pass);
    nRight = std::max(nRight, c->m_rect.right);
    nBottom = std::max(nBottom, c->m_rect.bottom);
    if (m_bDeepExtent) c->ComputeExtent(pass);
  }
  m_rcContent = RECT{0, 0, std::max(nRight, m_rect.right - m_rect.left), std::max(nBottom, m_rect.bottom - m_rect.top)};
  ClampScroll();
  if (!m_bDeepExtent)
    for (CLayoutNode* c = m_pFirstChild; c; c = c->m_pNextSibling) c->ComputeExtent(pass);
}

void CLayoutNode::ClampScroll() {
  if (!m_bLaidOut) Panic(kLineClampScroll);
  int64_t w = int64_t(m_rect.right) - m_rect.left;
  int64_t h = int64_t(m_rect.bottom) - m_rect.top;
  if (m_nScrollX + w > m_rcContent.right) m_nScrollX = static_cast<int32_t>(m_rcContent.right - w);
  if (m_nScrollY + h > m_rcContent.bottom) m_nScrollY = static_cast<int32_t>(m_rcContent.bottom - h);
  if (m_nScrollX < 0) m_nScrollX = 0;
  if (m_nScrollY < 0) m_nScrollY = 0;
}

int32_t CLayoutNode::NotifyObservers() {
  int32_t nFirst = 0;
  if (m_pObserver) {
    try {
      m_pObserver->OnLayoutChanged(this);
    } catch (const Env::TSysErrorCode& e) {
      if (nFirst == 0) nFirst = e.code;
    }
  }
  for (CLayoutNode* c = m_pFirstChild; c; c = c->m_pNextSibling) {
    int32_t nCode = c->NotifyObservers();
    if (nFirst == 0) nFirst = nCode;
  }
  return nFirst;
}

void CLayoutNode::Update(const RECT& rc) {
  CLayoutNode* pRoot = m_pRoot;
  pRoot->ClearLaidOutFlags();
  pRoot->Solve(rc);
  pRoot->ComputeExtent(rc);
  if (m_bNotificationsOff) return;
  Env::ThrowIfError(NotifyObservers());
}

void CLayoutNode::SetScrollPos(int32_t x, int32_t y) {
  if (!m_bLaidOut) Panic(kLineSetScrollPos);
  int32_t nOldX = m_nScrollX, nOldY = m_nScrollY;
  m_nScrollX = x;
  m_nScrollY = y;
  ClampScroll();
  if ((m_nScrollX != nOldX || m_nScrollY != nOldY) && !m_bNotificationsOff) Notify();
}

void CLayoutNode::SetOffset(int32_t x, int32_t y) {
  if (x == m_nOffsetX && y == m_nOffsetY) return;
  m_nOffsetX = x;
  m_nOffsetY = y;
  if (m_bLaidOut && !m_bNotificationsOff) Env::ThrowIfError(NotifyObservers());
}

void CLayoutNode::Notify() {
  if (m_bNotificationsOff) return;
  Env::ThrowIfError(NotifyObservers());
}

// ---------------------------------------------------------------------------
// Reading results

POINT CLayoutNode::SpaceOrigin(int32_t space, bool* pValid) const {
  *pValid = true;
  if (space == SpaceWindow) return POINT{};
  if (space < SpaceWindow || space > SpaceParentContent) {
    *pValid = false;
    return POINT{};
  }
  // Own origin in window coordinates: every origin up to the root, minus the
  // scroll position of every ancestor.
  auto ownOrigin = [](const CLayoutNode* n, int64_t& x, int64_t& y) {
    x = n->m_rect.left;
    y = n->m_rect.top;
    for (const CLayoutNode* p = n->m_pParent; p; p = p->m_pParent) {
      if (!p->m_bLaidOut) Panic(kLineConvertParent);
      x += int64_t(p->m_rect.left) - p->m_nScrollX;
      y += int64_t(p->m_rect.top) - p->m_nScrollY;
    }
  };
  int64_t x, y;
  const CLayoutNode* pBase = this;
  bool bContent = space == SpaceContent;
  if (space == SpaceStored || space == SpaceParentContent) {
    if (m_pParent) {
      pBase = m_pParent;
      bContent = true;
    } else {
      bContent = space == SpaceParentContent;
    }
  }
  ownOrigin(pBase, x, y);
  if (bContent) {
    x -= pBase->m_nScrollX;
    y -= pBase->m_nScrollY;
  }
  return POINT{Narrow(x), Narrow(y)};
}

RECT CLayoutNode::ConvertRect(const RECT& rc, int32_t from, int32_t to) const {
  if (!m_bLaidOut) Panic(kLineConvert);
  bool bFromValid, bToValid;
  POINT ptFrom = SpaceOrigin(from, &bFromValid);
  POINT ptTo = SpaceOrigin(to, &bToValid);
  if (!bToValid) return RECT{};
  if (!bFromValid) return Offset(RECT{}, -int64_t(ptTo.x), -int64_t(ptTo.y));
  return Offset(rc, int64_t(ptFrom.x) - ptTo.x, int64_t(ptFrom.y) - ptTo.y);
}

RECT CLayoutNode::GetRect(int32_t space) const {
  if (!m_bLaidOut) Panic(kLineGetRect);
  return ConvertRect(RECT{0, 0, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top}, SpaceOwn, space);
}

RECT CLayoutNode::GetContentRect(int32_t space) const {
  if (!m_bLaidOut) Panic(kLineGetContentRect);
  return ConvertRect(m_rcContent, SpaceOwn, space);
}

int32_t CLayoutNode::GetWidth() const {
  if (!m_bLaidOut) Panic(kLineGetWidth);
  return m_rect.right - m_rect.left;
}

int32_t CLayoutNode::GetHeight() const {
  if (!m_bLaidOut) Panic(kLineGetHeight);
  return m_rect.bottom - m_rect.top;
}

RECT CLayoutNode::GetLocalRect() const {
  if (!m_bLaidOut) Panic(kLineGetLocalRect);
  return RECT{0, 0, m_rect.right - m_rect.left, m_rect.bottom - m_rect.top};
}

bool CLayoutNode::IsVisible() const {
  if (!m_bLaidOut) Panic(kLineIsVisible);
  return m_bVisible;
}

bool CLayoutNode::IsVisibilityFree() const {
  if (!m_bLaidOut) Panic(kLineIsVisibilityFree);
  return m_bVisibilityFree;
}
