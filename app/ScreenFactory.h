// The factory of one screen: a function that makes the view. UI thread.
#pragma once

#include "framework/Control.h"

class CScreenFactory : public CViewFactory {
 public:
  using TMaker = CView* (*)();
  explicit CScreenFactory(TMaker pMaker) : m_pMaker(pMaker) {}
  CView* CreateView() override { return m_pMaker(); }

 private:
  TMaker m_pMaker;
};
