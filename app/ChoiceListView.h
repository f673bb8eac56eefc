// The pattern of the three choice screens (search language, interface
// language, network): a title bar over a scrolling list of choice rows, the
// current choice ticked and focused, a tap acting on the row's index.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "app/EditBar.h"
#include "app/RowParts.h"
#include "framework/Control.h"
#include "framework/CtlScrollPanel.h"

class CChoiceListView : public CView {
 public:
  void Create(CControl* pParent, plat::WStringView className = {}, plat::WStringView title = {}) override;
  void ApplyLayout(CLayoutNode* pNode) override;

  // Tests read the rows and the tick.
  int32_t RowCount() const { return static_cast<int32_t>(m_rows.size()); }
  CChoiceRow& Row(int32_t i) { return *m_rows[static_cast<size_t>(i)]; }
  int32_t TickedRow() const { return m_nTicked; }
  CtlScrollPanel* Panel() const { return m_pPanel; }
  CEditBar& TitleBar() { return m_bar; }

 protected:
  struct TShape {
    int32_t nTitleId;
    int32_t nTitleNode;
    int32_t nPanelNode;
    int32_t nRowNode;
    void (*buildLayout)(CLayoutNode*);
    void (*buildRows)(CLayoutNode*, int32_t);
  };
  virtual TShape Shape() const = 0;
  // The captions of the rows, read once at creation.
  virtual std::vector<plat::WString> Entries() = 0;
  // The row to tick, -1 for none; called after Entries.
  virtual int32_t InitialTick() = 0;
  virtual void OnRowTapped(int32_t nRow) = 0;
  // Hides the old tick and shows the row's.
  void MoveTick(int32_t nRow);

 private:
  void OnRowClick(void* pRow);

  CEditBar m_bar;
  CtlScrollPanel* m_pPanel = nullptr;
  std::vector<std::unique_ptr<CChoiceRow>> m_rows;
  int32_t m_nTicked = -1;
};
