#include "layouts/LayoutTable.h"

namespace {

constexpr const char16_t* kUnit = u"layouts";

thread_local CLayoutRefCapture* t_pCapture = nullptr;

CLayoutValue MakeValue(const TLayoutVal& v) { return CLayoutValue(v.kind, TFraction(v.num, v.den)); }

// The replay state of one stream: the stored-node variables live here, so
// the builder reads them at the moment a constraint names them.
class CTableRun {
 public:
  CTableRun(CLayoutNode* pNode, const char* pszName) : m_pNode(pNode), m_pszName(pszName) {}

  CLayoutNode** Slot(const TLayoutRef& r) {
    if (r.id < 1 || r.id > kLayoutStoredNodes || !m_apStored[r.id]) QUOREL_PANIC(kUnit, kLayoutLineUnstoredNode);
    return &m_apStored[r.id];
  }

  void NoteMissing(const TLayoutRef& r) {
    CLayoutRefCapture* pCapture = CLayoutRefCapture::Current();
    if (!pCapture || r.kind != TLayoutRefKind::Node || r.id < 0) return;
    // The builder resolves ids from the root of the tree being built.
    if (!m_pNode->GetRoot()->FindNode(r.id, r.sub)) pCapture->Add({m_pszName, r.id, r.sub});
  }

  // Edge specs are filled the way the builder expects: own side first (own
  // fraction, offset, offset reference), then the anchor side.
  CLayoutEdgeSpec EdgeSpec(const TLayoutOp& op, bool bHorizontal) {
    CLayoutEdgeSpec edgeSpec;
    edgeSpec.Reset();
    edgeSpec.SetFraction(op.own.num, op.own.den);
    if (bHorizontal)
      edgeSpec.SetOffset(MakeValue(op.value));
    else
      edgeSpec.SetOffsetV(MakeValue(op.value));
    ApplyRef(edgeSpec, op.ref, &edgeSpec.m_ppOffsetRefVar);
    edgeSpec.BeginAnchor();
    edgeSpec.SetFraction(op.at.num, op.at.den);
    ApplyRef(edgeSpec, op.anchor, &edgeSpec.m_ppAnchorVar);
    return edgeSpec;
  }

  CLayoutAnchorRef SizeRef(const TLayoutOp& op) {
    CLayoutAnchorRef ref;
    ref.Reset();
    ref.m_value = MakeValue(op.value);
    switch (op.ref.kind) {
      case TLayoutRefKind::Pass: break;
      case TLayoutRefKind::Parent: ref.m_nId = -2; break;
      case TLayoutRefKind::Node:
        NoteMissing(op.ref);
        ref.m_nId = op.ref.id;
        ref.m_nSubId = op.ref.sub;
        break;
      case TLayoutRefKind::Stored: ref.m_ppNodeVar = Slot(op.ref); break;
    }
    return ref;
  }

  void Run(std::span<const TLayoutOp> ops, std::span<const int32_t> args) {
    // Each open If keeps whether its own branch runs; an op runs when every
    // open branch does.
    std::vector<bool> branches;
    size_t nSkipping = 0;  // open branches that do not run
    int32_t depth = 0;
    for (const TLayoutOp& op : ops) {
      switch (op.code) {
        case TLayoutOpCode::If: {
          if (op.a < 0 || static_cast<size_t>(op.a) >= args.size()) QUOREL_PANIC(kUnit, kLayoutLineMissingArgument);
          bool bRuns = args[op.a] == op.b;
          branches.push_back(bRuns);
          if (!bRuns) ++nSkipping;
          continue;
        }
        case TLayoutOpCode::Else:
          if (branches.empty()) QUOREL_PANIC(kUnit, kLayoutLineUnbalanced);
          if (branches.back())
            ++nSkipping;
          else
            --nSkipping;
          branches.back() = !branches.back();
          continue;
        case TLayoutOpCode::EndIf:
          if (branches.empty()) QUOREL_PANIC(kUnit, kLayoutLineUnbalanced);
          if (!branches.back()) --nSkipping;
          branches.pop_back();
          continue;
        default:
          break;
      }
      if (nSkipping) continue;
      Apply(op, depth);
    }
    if (depth != 0 || !branches.empty()) QUOREL_PANIC(kUnit, kLayoutLineUnbalanced);
  }

 private:
  void ApplyRef(CLayoutEdgeSpec& edgeSpec, const TLayoutRef& r, CLayoutNode*** pppVar) {
    switch (r.kind) {
      case TLayoutRefKind::Pass: break;
      case TLayoutRefKind::Parent: edgeSpec.SetNodeId(-2); break;
      case TLayoutRefKind::Node:
        NoteMissing(r);
        edgeSpec.SetNodeId(r.id);
        if (r.sub != -1) edgeSpec.SetNodeId(r.sub);
        break;
      case TLayoutRefKind::Stored: *pppVar = Slot(r); break;
    }
  }

  void Apply(const TLayoutOp& op, int32_t& depth) {
    CLayoutNode* b = m_pNode;  // the builder face
    switch (op.code) {
      case TLayoutOpCode::Clear: b->Clear(); break;
      case TLayoutOpCode::Begin:
        b->BeginChild();
        ++depth;
        if (op.a != -1) b->SetId(op.a, op.b);
        break;
      case TLayoutOpCode::End:
        if (--depth < 0) QUOREL_PANIC(kUnit, kLayoutLineUnbalanced);
        b->EndChild();
        break;
      case TLayoutOpCode::Id: b->SetId(op.a, op.b); break;
      case TLayoutOpCode::HEdge: b->SetHorizontalEdge(EdgeSpec(op, true)); break;
      case TLayoutOpCode::VEdge: b->SetVerticalEdge(EdgeSpec(op, false)); break;
      case TLayoutOpCode::Width: b->SetWidth(SizeRef(op)); break;
      case TLayoutOpCode::Height: b->SetHeight(SizeRef(op)); break;
      case TLayoutOpCode::Variant: {
        CLayoutCondition cond;
        cond.Set(op.a).Set(op.b);
        if (op.c != -1) cond.Set(op.c);
        b->AddVariant(cond);
        break;
      }
      case TLayoutOpCode::Visible: b->SetVisible(true); break;
      case TLayoutOpCode::Hidden: b->SetVisible(false); break;
      case TLayoutOpCode::Free: b->ClearVisible(); break;
      case TLayoutOpCode::Store:
        if (op.a < 1 || op.a > kLayoutStoredNodes) QUOREL_PANIC(kUnit, kLayoutLineUnstoredNode);
        b->StoreNode(&m_apStored[op.a]);
        break;
      case TLayoutOpCode::DeepExtent: m_pNode->SetDeepExtent(true); break;
      default: break;
    }
  }

  CLayoutNode* m_pNode;
  const char* m_pszName;
  CLayoutNode* m_apStored[kLayoutStoredNodes + 1] = {};
};

}  // namespace

void RunLayoutTable(CLayoutNode* pNode, std::span<const TLayoutOp> ops, const char* pszName,
                    std::span<const int32_t> args) {
  CTableRun(pNode, pszName).Run(ops, args);
}

void RunLayoutRows(CLayoutNode* pNode, int32_t id, int32_t count, int32_t anchorId, const TLayoutVal& height,
                   const char* pszName) {
  using namespace LayoutOps;
  for (int32_t i = 0; i < count; ++i) {
    // Id -1 numbers the rows by id instead of by sub-id.
    TLayoutOp begin = id == -1 ? Node(i) : Node(id, i);
    TLayoutOp top;
    if (i > 0)
      top = V(0, id == -1 ? N(i - 1) : N(id, i - 1), 1);
    else if (anchorId == -2)
      top = V(0, P, 0);
    else if (anchorId == -1)
      top = V(0, R, 1);
    else
      top = V(0, N(anchorId), 1);
    const TLayoutOp row[] = {begin, top, H(0, P, 0), H(1, P, 1), Height(height), End};
    RunLayoutTable(pNode, row, pszName);
  }
}

CLayoutRefCapture::CLayoutRefCapture() : m_pOuter(t_pCapture) { t_pCapture = this; }

CLayoutRefCapture::~CLayoutRefCapture() { t_pCapture = m_pOuter; }

CLayoutRefCapture* CLayoutRefCapture::Current() { return t_pCapture; }
