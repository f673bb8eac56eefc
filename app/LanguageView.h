// The two language choice screens: view 8 lists the search languages the
// server offered and fetches the newest results again in the chosen one;
// view 21 lists the loaded interface languages and switches to the chosen
// one.
#pragma once

#include <cstdint>

#include "app/ChoiceListView.h"

class CSearchLanguageView : public CChoiceListView {
 public:
  static CView* NewView() { return new CSearchLanguageView(); }
  // The row chosen on this screen, -1 before the first tap.
  int32_t Chosen() const { return m_nChosen; }

 protected:
  TShape Shape() const override;
  std::vector<plat::WString> Entries() override;
  int32_t InitialTick() override;
  void OnRowTapped(int32_t nRow) override;

 private:
  int32_t m_nChosen = -1;
};

class CLanguageView : public CChoiceListView {
 public:
  static CView* NewView() { return new CLanguageView(); }

 protected:
  TShape Shape() const override;
  std::vector<plat::WString> Entries() override;
  int32_t InitialTick() override;
  void OnRowTapped(int32_t nRow) override;
};
