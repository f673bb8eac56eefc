// The factory of one screen: a function that makes the view. UI thread.
#pragma once

#include <cstdint>

#include "framework/Control.h"

class CScreenFactory : public CViewFactory {
 public:
  using TMaker = CView* (*)();
  explicit CScreenFactory(TMaker pMaker) : m_pMaker(pMaker) {}
  CView* CreateView() override { return m_pMaker(); }

 private:
  TMaker m_pMaker;
};

// The factory of view `nViewId` when it is one of the result screens (4,
// 10, 11, 13, 14, 15), else null.
CViewFactory* NewResultScreenFactory(int32_t nViewId);
