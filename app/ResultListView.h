// View 4: the records of the last search under a title bar; after a Sing
// search the bar also opens the search languages, to repeat the search in
// another language. UI thread.
#pragma once

#include <cstdint>

#include "app/EditBar.h"
#include "framework/Control.h"

class CRecordListPanel;

class CResultListView : public CView {
 public:
  static CView* NewView();
  ~CResultListView() override;

  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;
  void OnLeave(TViewRecord* pOld, TViewRecord* pNew) override;

  CRecordListPanel* Panel() const { return m_pPanel; }
  CEditBar& Bar() { return m_bar; }

 private:
  CEditBar m_bar;
  CRecordListPanel* m_pPanel = nullptr;
};

// Views 10 and 11: a user's recordings or playlist under a title bar that
// names the user and the count.
class CUserListView : public CView {
 public:
  static CView* NewRecordingsView();
  static CView* NewPlaylistView();
  explicit CUserListView(int32_t nKind) : m_nKind(nKind) {}
  ~CUserListView() override;

  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;
  void OnLeave(TViewRecord* pOld, TViewRecord* pNew) override;

  CRecordListPanel* Panel() const { return m_pPanel; }
  CEditBar& Bar() { return m_bar; }

 private:
  int32_t m_nKind;
  CEditBar m_bar;
  CRecordListPanel* m_pPanel = nullptr;
};

// The results model holds a page: what enables the options menu's "show
// results" entry.
bool HasResultPage();
