// One of the application's two soft-key labels, drawn over a stretched
// background at the bottom of the screen. A tap feeds the application the
// same key as the phone's soft key (257 left, 258 right). UI thread only.
#pragma once

#include <cstdint>

#include "framework/CtlStatic.h"

inline constexpr uint32_t kKeyLeftSoftKey = 257;
inline constexpr uint32_t kKeyRightSoftKey = 258;

class CtlSoftKeyBar : public CtlStatic {
 public:
  enum : int32_t { ELeft = 0, ERight = 1 };

  CtlSoftKeyBar() = default;
  ~CtlSoftKeyBar() override;
  static CtlSoftKeyBar* Create(CControl* pParent, int32_t nKind);

  void SetText(plat::WStringView text);
  bool HasText() const { return m_bHasText; }
  int32_t Kind() const { return m_nKind; }

  void OnLayoutNodeChanged(CLayoutNode* pNode) override;
  void OnLayoutChanged(CLayoutNode* pNode) override;
  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;
  void Paint(CGraphics& g, const POINT& origin, const RECT& clip) override;
  CBitmap* Background() const { return m_pBackground; }

 private:
  void PostKey();
  bool m_bHasText = true;
  plat::WString m_secondText;
  int32_t m_nKind = ELeft;
  CBitmap* m_pBackground = nullptr;
};
