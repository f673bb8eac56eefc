// A view whose screen is not built yet: the theme background with the view's
// number, the soft keys that view has, and Back on a tap or Enter (as the
// title bar's back button will).
#pragma once

#include <cstdint>

#include "framework/Control.h"

class CPlaceholderView : public CView {
 public:
  explicit CPlaceholderView(int32_t nViewId);
  void OnViewActivated(CLayoutNode* pViewArea) override;
  void Paint(CGraphics& g, const POINT& origin, const RECT& clip) override;
  bool OnInput(const TInputEvent& event) override;
  int32_t ViewId() const { return m_nViewId; }

 private:
  int32_t m_nViewId;
};

class CPlaceholderFactory : public CViewFactory {
 public:
  explicit CPlaceholderFactory(int32_t nViewId) : m_nViewId(nViewId) {}
  CView* CreateView() override { return new CPlaceholderView(m_nViewId); }

 private:
  int32_t m_nViewId;
};

// The views in registration order.
inline constexpr int32_t kAppViews[] = {2, 4, 18, 19, 5, 6, 8, 10, 11, 12, 13, 14, 15, 16, 21, 22};
// The soft-key commands (left, right) view `nViewId` sets.
void ViewSoftKeyCommands(int32_t nViewId, int32_t& nLeft, int32_t& nRight);
