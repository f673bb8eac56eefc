// The screens of a record list: view 4, the records of the last search
// (after a Sing search its title bar also opens the search languages, to
// repeat the search in another language), and views 10 and 11, a user's
// recordings or playlist under a title that names the user and the count.
// UI thread.
#pragma once

#include <cstdint>

#include "app/EditBar.h"
#include "framework/Control.h"

class CRecordListPanel;

// The title bar over the list, on the frame's #114 and #69.
class CRecordListView : public CView {
 public:
  ~CRecordListView() override;
  void ApplyLayout(CLayoutNode* pNode) override;
  void OnLeave(TViewRecord* pOld, TViewRecord* pNew) override;

  CRecordListPanel* Panel() const { return m_pPanel; }
  CEditBar& Bar() { return m_bar; }

 protected:
  CEditBar m_bar;
  CRecordListPanel* m_pPanel = nullptr;
};

class CResultListView : public CRecordListView {
 public:
  static CView* NewView();
  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void OnLeave(TViewRecord* pOld, TViewRecord* pNew) override;
};

class CUserListView : public CRecordListView {
 public:
  static CView* NewRecordingsView();
  static CView* NewPlaylistView();
  explicit CUserListView(int32_t nKind) : m_nKind(nKind) {}
  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;

 private:
  int32_t m_nKind;
};

// The results model holds a page: what enables the options menu's "show
// results" entry.
bool HasResultPage();
