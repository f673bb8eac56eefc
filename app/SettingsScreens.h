// The settings, choice, help, message, credits and terms screens, as the
// program registers them.
#pragma once

#include <cstdint>

#include "framework/AppUi.h"

// A factory that makes its view with the view class's NewView.
class CNewViewFactory : public CViewFactory {
 public:
  using TNew = CView* (*)();
  explicit CNewViewFactory(TNew pNew) : m_pNew(pNew) {}
  CView* CreateView() override { return m_pNew(); }

 private:
  TNew m_pNew;
};

// Views 5, 6, 8, 16, 18, 19, 21 and 22.
inline constexpr int32_t kSettingsScreenViews[] = {5, 6, 8, 16, 18, 19, 21, 22};
bool IsSettingsScreenView(int32_t nViewId);
// Registers each of them with the application.
void RegisterSettingsScreens(CAppUi& app);
