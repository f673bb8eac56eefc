// The settings, choice, help, message, credits and terms screens, as the
// program registers them.
#pragma once

#include <cstdint>

#include "framework/Control.h"

// A factory that makes its view with the view class's NewView.
class CNewViewFactory : public CViewFactory {
 public:
  using TNew = CView* (*)();
  explicit CNewViewFactory(TNew pNew) : m_pNew(pNew) {}
  CView* CreateView() override { return m_pNew(); }

 private:
  TNew m_pNew;
};

// The factory of view 5, 6, 8, 16, 18, 19, 21 or 22; null for any other.
CViewFactory* NewSettingsScreenFactory(int32_t nViewId);
