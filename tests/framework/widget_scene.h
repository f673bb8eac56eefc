// A screenful of widgets on the generated art, shared by the gallery test and
// the widget benchmark: a title-bar button with a scrolling caption over a
// scroll panel of list rows (two texts, an icon and a progress bar each),
// and both soft-key bars along the bottom. The art comes from the build's
// main pack through the image catalogue's slot -> resource id table.
#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "framework/CtlButton.h"
#include "framework/CtlScrollPanel.h"
#include "framework/CtlSoftKeyBar.h"
#include "framework/CtlStatic.h"
#include "framework/PngLoader.h"
#include "framework/Resources.h"
#include "layouts/LayoutTable.h"
#include "platform/module/Module.h"
#include "tests/tools/artgen/ArtFacts.h"

namespace widgetscene {

// One catalogue slot read from the pack: resource id 0 is the empty picture.
class CPackImage : public IImageSource {
 public:
  CPackImage(plat::ModuleHandle hPack, int nId, bool bOpaque) : m_hPack(hPack), m_nId(nId), m_bOpaque(bOpaque) {}
  CBitmap* Get() override {
    if (m_nId == 0) return CBitmap::FromHandle(nullptr, false);
    auto data = plat::FindResource(m_hPack, plat::RT_RCDATA, static_cast<uint16_t>(m_nId));
    if (!data) Env::ThrowError(Env::ErrNotFound);
    plat::HBITMAP h = LoadPngImage(data->data(), data->size());
    if (!h) Env::ThrowError(Env::ErrBadArgument);
    return CBitmap::FromHandle(h, !m_bOpaque);
  }

 private:
  plat::ModuleHandle m_hPack;
  int m_nId;
  bool m_bOpaque;
};

// Copies the main pack into the device and registers every portrait slot.
// Null when the pack is missing.
inline plat::ModuleHandle RegisterArt(const std::filesystem::path& deviceRoot, const std::filesystem::path& pack) {
  if (!std::filesystem::exists(pack)) return nullptr;
  std::filesystem::create_directories(deviceRoot / "fs");
  std::filesystem::copy_file(pack, deviceRoot / "fs" / "art.res", std::filesystem::copy_options::overwrite_existing);
  plat::ModuleHandle hPack = plat::LoadLibrary(u"\\art.res");
  if (!hPack) return nullptr;
  for (const auto& [slot, s] : artfacts::Catalogue())
    CResources::RegisterImageSource(slot, new CPackImage(hPack, s.portrait, s.opaque));
  return hPack;
}

struct TScene {
  CtlButton* pTitle = nullptr;
  CtlScrollPanel* pPanel = nullptr;
  std::vector<CtlAdvButton*> rows;
  CtlSoftKeyBar* pLeft = nullptr;
  CtlSoftKeyBar* pRight = nullptr;
  std::unique_ptr<CLayoutNode> pBarRoot;
};

inline constexpr int32_t kRowHeight = 96;
inline constexpr int32_t kTitleHeight = 80;
inline constexpr int32_t kSoftKeyHeight = 64;

// The row children's places in the row's child layout.
inline void BuildRowChildren(CLayoutNode* pNode) {
  using namespace LayoutOps;
  constexpr int32_t m = 8, icon = kRowHeight - 2 * m, text = (kRowHeight - 2 * m) / 2 - 4;
  const TLayoutOp ops[] = {
      Node(1), H(0, P, 0, px(m)), Width(px(icon)), V(0, P, 0, px(m)), Height(px(icon)), End,  // icon
      Node(2), H(0, P, 0, px(icon + 2 * m)), H(1, P, 1, -px(m)), V(0, P, 0, px(m)), Height(px(text)), End,
      Node(3), H(0, P, 0, px(icon + 2 * m)), H(1, P, 1, -px(m)), V(0, P, 0, px(m + text)), Height(px(text)), End,
      Node(4), H(0, P, 0, px(icon + 2 * m)), H(1, P, 1, -px(m)), V(1, P, 1, -px(m)), Height(px(8)), End,  // bar
  };
  RunLayoutTable(pNode, ops, "scene row");
}

// Builds the scene into the view (480 x 800 assumed, any size works).
inline void BuildScene(CView* pView, TScene& s, int32_t nRows) {
  using namespace LayoutOps;
  RECT rc = pView->LocalRect();
  s.pTitle = CtlButton::Create(pView);
  ApplyModeButtonSkinA(s.pTitle);
  s.pTitle->MoveTo(RECT{0, 0, rc.right, kTitleHeight});
  s.pTitle->SetCaptionAlignment(EAlignLeftSingle);
  s.pTitle->SetCaption(u"Songs recognised this week, newest first, with their lyrics");
  s.pTitle->SetForceMarquee(true);
  s.pTitle->SetIcon(157, true);

  s.pPanel = CtlScrollPanel::Create(pView);
  s.pPanel->SetScrollBarImages(37, 38, 39, -1, -1, -1);
  std::vector<TLayoutOp> ops;
  for (int32_t i = 0; i < nRows; ++i)
    for (TLayoutOp op : {Node(200, i), H(0, P, 0), H(1, P, 1), V(0, P, 0, px(i * kRowHeight)),
                         Height(px(kRowHeight)), End})
      ops.push_back(op);
  RunLayoutTable(s.pPanel->GetContentLayout(), ops, "scene rows");
  for (int32_t i = 0; i < nRows; ++i) {
    CtlAdvButton* pRow = CtlAdvButton::Create(s.pPanel->GetContentPanel());
    ApplyListItemSkin(pRow);
    BuildRowChildren(pRow->GetChildLayout());
    CtlStatic* pIcon = CtlStatic::Create(pRow);
    pIcon->SetImageId(i % 2 ? 158 : 160, true);
    pRow->AttachChild(pIcon, 1);
    for (int32_t n = 0; n < 2; ++n) {
      CtlStatic* pText = CtlStatic::Create(pRow);
      pText->SetAutoFit(true);
      pText->SetAlignment(EAlignLeftSingle);
      pText->SetMarquee(false);
      pText->SetText(n == 0 ? u"Track number " + plat::FromUtf8(std::to_string(i + 1)) : u"An invented artist");
      pRow->AttachChild(pText, 2 + n);
    }
    CtlScrollBar* pBar = CtlScrollBar::Create(pRow, 0, 100, 0, (i * 13) % 100, CtlScrollBar::EHorizontal, 0);
    pBar->SetReadOnly(true);
    pBar->SetImages(-1, 38, -1, -1, 38, -1);
    pRow->AttachChild(pBar, 4);
    pRow->SetLayoutNode(s.pPanel->GetContentLayout()->FindNode(200, i));
    pRow->SetDragHandler(s.pPanel->DragDelegate(), true);
    s.rows.push_back(pRow);
  }
  s.pPanel->MoveTo(RECT{0, kTitleHeight, rc.right, rc.bottom - kSoftKeyHeight});

  const TLayoutOp bars[] = {
      Node(4), H(0, P, 0), H(1, P, F(1, 2)), V(1, P, 1), Height(px(kSoftKeyHeight)), Vis, End,
      Node(5), H(0, P, F(1, 2)), H(1, P, 1), V(1, P, 1), Height(px(kSoftKeyHeight)), Vis, End,
  };
  s.pBarRoot = CLayoutNode::CreateRoot();
  RunLayoutTable(s.pBarRoot.get(), bars, "scene bars");
  s.pLeft = CtlSoftKeyBar::Create(pView, CtlSoftKeyBar::ELeft);
  s.pRight = CtlSoftKeyBar::Create(pView, CtlSoftKeyBar::ERight);
  s.pLeft->SetLayoutNode(s.pBarRoot->FindNode(4, -1));
  s.pRight->SetLayoutNode(s.pBarRoot->FindNode(5, -1));
  pView->LayoutInto(s.pBarRoot.get());
  s.pLeft->SetText(u"Options");
  s.pRight->SetText(u"Back");
}

}  // namespace widgetscene
