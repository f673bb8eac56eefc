// Layout descriptions as data. A description is a constant stream of ops, one
// op per builder call, in the order the builder is called: Begin/End bracket a
// node, edge and size ops fill one constraint of the current variant, Variant
// switches the variant being filled. RunLayoutTable replays a stream through
// the builder face of the node it is given, so the tree it makes is exactly
// the one the equivalent code would make: the same building order, ids,
// per-axis constraint order, variants and visibility.
//
// Fractions stay as written (l75/800, s4800/76800); TFraction reduces them
// when the stream is replayed. A stream is checked when it is compiled
// (IsWellFormedLayoutTable); a description whose faults only show at run time
// (an anchor id that names no node) is reported to a CLayoutRefCapture, which
// tests and the layoutdump tool install.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "framework/layout.h"

enum class TLayoutOpCode : uint8_t {
  Clear,       // CLayoutNode::Clear on the description's node (full form)
  Begin,       // BeginChild, then SetId when the op carries an id
  End,         // EndChild
  Id,          // SetId on the current node
  HEdge,       // SetHorizontalEdge
  VEdge,       // SetVerticalEdge
  Width,       // SetWidth
  Height,      // SetHeight
  Variant,     // AddVariant
  Visible,     // SetVisible(1)
  Hidden,      // SetVisible(0)
  Free,        // ClearVisible
  Store,       // StoreNode into stored-node variable S<n>
  DeepExtent,  // SetDeepExtent(1) on the description's node
  If,          // the ops up to the matching Else/EndIf run when args[a] == b
  Else,
  EndIf,
};

struct TLayoutFrac {
  int32_t num = 0;
  int32_t den = 1;
  constexpr TLayoutFrac() = default;
  constexpr TLayoutFrac(int32_t n) : num(n) {}  // 0 and 1, as the tables write them
  constexpr TLayoutFrac(int32_t n, int32_t d) : num(n), den(d) {}
};

// A CLayoutValue before its fraction is reduced.
struct TLayoutVal {
  int32_t kind = CLayoutValue::KindConstant;
  int32_t num = 0;
  int32_t den = 1;
  constexpr TLayoutVal operator-() const { return {kind, -num, den}; }
};

enum class TLayoutRefKind : uint8_t {
  Pass,    // R: the pass rectangle (id -1)
  Parent,  // P: id -2
  Node,    // #id or #id.sub
  Stored,  // S<n>
};

struct TLayoutRef {
  TLayoutRefKind kind = TLayoutRefKind::Pass;
  int32_t id = -1;
  int32_t sub = -1;
};

// One builder call. Edges use own, anchor, at, value (the offset) and ref (the
// offset's reference); sizes use value and ref; the remaining ops keep their
// small arguments in a, b, c (id and sub-id; key, value and mask; slot;
// argument index and value).
struct TLayoutOp {
  TLayoutOpCode code = TLayoutOpCode::End;
  TLayoutFrac own;
  TLayoutFrac at;
  TLayoutRef anchor;
  TLayoutRef ref;
  TLayoutVal value;
  int32_t a = -1;
  int32_t b = -1;
  int32_t c = -1;
};

// Stored-node variables S1 .. S8.
inline constexpr int32_t kLayoutStoredNodes = 8;

// Replays `ops` on pNode. `args` are the description's arguments, read by If
// ops. pszName names the description in capture records. A stream that
// breaks its own rules at run time (an argument it was not given, a stored
// node it never stored, unbalanced brackets) raises TPanic "layouts".
void RunLayoutTable(CLayoutNode* pNode, std::span<const TLayoutOp> ops, const char* pszName,
                    std::span<const int32_t> args = {});

// The panic lines of RunLayoutTable (unit "layouts").
enum : int32_t {
  kLayoutLineMissingArgument = 1,
  kLayoutLineUnstoredNode = 2,
  kLayoutLineUnbalanced = 3,
};

// The rows of a list: for i = 0 .. count - 1 a child with the id and sub-id i
// (id -1: id i, no sub-id), spanning the parent's width, its top at the
// previous row's bottom, and for row 0 at the parent's top (anchor id -2) or
// at the anchor node's bottom, then `height`. Vertical edge first, then the
// two horizontal edges, then the height. Additive; count < 1 builds nothing.
void RunLayoutRows(CLayoutNode* pNode, int32_t id, int32_t count, int32_t anchorId, const TLayoutVal& height,
                   const char* pszName);

// An id anchor or reference that named no node while a description ran. The
// engine measures such a constraint against the pass rectangle, so a typo
// would otherwise go unseen.
struct TLayoutMissingRef {
  const char* pszDescription;
  int32_t nId;
  int32_t nSubId;
};

// Collects the missing references of every description run on this thread
// while it lives; captures nest.
class CLayoutRefCapture {
 public:
  CLayoutRefCapture();
  ~CLayoutRefCapture();
  CLayoutRefCapture(const CLayoutRefCapture&) = delete;
  CLayoutRefCapture& operator=(const CLayoutRefCapture&) = delete;

  const std::vector<TLayoutMissingRef>& Missing() const { return m_missing; }
  void Add(const TLayoutMissingRef& ref) { m_missing.push_back(ref); }
  static CLayoutRefCapture* Current();

 private:
  CLayoutRefCapture* m_pOuter;
  std::vector<TLayoutMissingRef> m_missing;
};

// Compile-time rules of a stream: Clear only first; Begin/End and If/EndIf
// balanced; an Else only inside an If; If reads an argument below nArgs;
// stored nodes named only after they were stored; keys, slots and
// denominators in range.
template <size_t N>
consteval bool IsWellFormedLayoutTable(const TLayoutOp (&ops)[N], int32_t nArgs = 0) {
  int32_t depth = 0;
  int32_t ifDepth = 0;
  bool stored[kLayoutStoredNodes + 1] = {};
  auto refOk = [&](const TLayoutRef& r) {
    if (r.kind != TLayoutRefKind::Stored) return true;
    return r.id >= 1 && r.id <= kLayoutStoredNodes && stored[r.id];
  };
  for (size_t i = 0; i < N; ++i) {
    const TLayoutOp& op = ops[i];
    switch (op.code) {
      case TLayoutOpCode::Clear:
        if (i != 0) return false;
        break;
      case TLayoutOpCode::Begin:
        ++depth;
        break;
      case TLayoutOpCode::End:
        if (--depth < 0) return false;
        break;
      case TLayoutOpCode::HEdge:
      case TLayoutOpCode::VEdge:
        if (op.own.den <= 0 || op.at.den <= 0 || !refOk(op.anchor)) return false;
        [[fallthrough]];
      case TLayoutOpCode::Width:
      case TLayoutOpCode::Height:
        if (op.value.den <= 0 || !refOk(op.ref)) return false;
        break;
      case TLayoutOpCode::Variant:
        if (op.a < 0) return false;
        break;
      case TLayoutOpCode::Store:
        if (op.a < 1 || op.a > kLayoutStoredNodes || depth == 0) return false;
        stored[op.a] = true;
        break;
      case TLayoutOpCode::If:
        if (op.a < 0 || op.a >= nArgs) return false;
        ++ifDepth;
        break;
      case TLayoutOpCode::Else:
        if (ifDepth == 0) return false;
        break;
      case TLayoutOpCode::EndIf:
        if (--ifDepth < 0) return false;
        break;
      default:
        break;
    }
  }
  return depth == 0 && ifDepth == 0;
}

// The notation of the tables, one helper per notation element:
//   H(f, A, g [, v [, REF]])  horizontal edge f→A:g + v (of REF)
//   V(...)                    vertical edge
//   Width(v [, REF]), Height(v [, REF])   =v (of REF)
//   values px(n), h(a,b), w(a,b), s(a,b), l(a,b); -v negates
//   anchors and references P, R, N(id [, sub]), S(k)
//   Node(id [, sub]) / Node() ... End, Var(k, v [, m]), Vis, Hid, Free,
//   Store(k), Deep, Id(id), If(arg, value) ... Else ... EndIf, ClearFirst
namespace LayoutOps {

constexpr TLayoutFrac F(int32_t num, int32_t den) { return {num, den}; }

constexpr TLayoutVal px(int32_t num, int32_t den = 1) { return {CLayoutValue::KindConstant, num, den}; }
constexpr TLayoutVal h(int32_t num, int32_t den) { return {CLayoutValue::KindHeight, num, den}; }
constexpr TLayoutVal w(int32_t num, int32_t den) { return {CLayoutValue::KindWidth, num, den}; }
constexpr TLayoutVal s(int32_t num, int32_t den) { return {CLayoutValue::KindMinSide, num, den}; }
constexpr TLayoutVal l(int32_t num, int32_t den) { return {CLayoutValue::KindMaxSide, num, den}; }

inline constexpr TLayoutRef R{TLayoutRefKind::Pass, -1, -1};
inline constexpr TLayoutRef P{TLayoutRefKind::Parent, -2, -1};
constexpr TLayoutRef N(int32_t id, int32_t sub = -1) { return {TLayoutRefKind::Node, id, sub}; }
consteval TLayoutRef S(int32_t k) {
  if (k < 1 || k > kLayoutStoredNodes) throw "stored-node variables are S1 to S8";
  return {TLayoutRefKind::Stored, k, -1};
}

constexpr TLayoutOp Edge(TLayoutOpCode code, TLayoutFrac own, TLayoutRef anchor, TLayoutFrac at, TLayoutVal offset,
                         TLayoutRef offsetRef) {
  TLayoutOp op;
  op.code = code;
  op.own = own;
  op.anchor = anchor;
  op.at = at;
  op.value = offset;
  op.ref = offsetRef;
  return op;
}
constexpr TLayoutOp H(TLayoutFrac own, TLayoutRef anchor, TLayoutFrac at, TLayoutVal offset = {},
                      TLayoutRef offsetRef = R) {
  return Edge(TLayoutOpCode::HEdge, own, anchor, at, offset, offsetRef);
}
constexpr TLayoutOp V(TLayoutFrac own, TLayoutRef anchor, TLayoutFrac at, TLayoutVal offset = {},
                      TLayoutRef offsetRef = R) {
  return Edge(TLayoutOpCode::VEdge, own, anchor, at, offset, offsetRef);
}
constexpr TLayoutOp Width(TLayoutVal value, TLayoutRef ref = R) {
  TLayoutOp op;
  op.code = TLayoutOpCode::Width;
  op.value = value;
  op.ref = ref;
  return op;
}
constexpr TLayoutOp Height(TLayoutVal value, TLayoutRef ref = R) {
  TLayoutOp op = Width(value, ref);
  op.code = TLayoutOpCode::Height;
  return op;
}

constexpr TLayoutOp Simple(TLayoutOpCode code, int32_t a = -1, int32_t b = -1, int32_t c = -1) {
  TLayoutOp op;
  op.code = code;
  op.a = a;
  op.b = b;
  op.c = c;
  return op;
}
// A node without id (a = -1) is only begun.
constexpr TLayoutOp Node(int32_t id = -1, int32_t sub = -1) { return Simple(TLayoutOpCode::Begin, id, sub); }
constexpr TLayoutOp Id(int32_t id, int32_t sub = -1) { return Simple(TLayoutOpCode::Id, id, sub); }
constexpr TLayoutOp Var(int32_t key, int32_t value, int32_t mask = -1) {
  return Simple(TLayoutOpCode::Variant, key, value, mask);
}
constexpr TLayoutOp Store(int32_t k) { return Simple(TLayoutOpCode::Store, k); }
constexpr TLayoutOp If(int32_t arg, int32_t value) { return Simple(TLayoutOpCode::If, arg, value); }

inline constexpr TLayoutOp End = Simple(TLayoutOpCode::End);
inline constexpr TLayoutOp Vis = Simple(TLayoutOpCode::Visible);
inline constexpr TLayoutOp Hid = Simple(TLayoutOpCode::Hidden);
inline constexpr TLayoutOp Free = Simple(TLayoutOpCode::Free);
inline constexpr TLayoutOp Deep = Simple(TLayoutOpCode::DeepExtent);
inline constexpr TLayoutOp Else = Simple(TLayoutOpCode::Else);
inline constexpr TLayoutOp EndIf = Simple(TLayoutOpCode::EndIf);
inline constexpr TLayoutOp ClearFirst = Simple(TLayoutOpCode::Clear);

}  // namespace LayoutOps
