// The list of records behind the results screen (kind 0) and a user's
// recordings (kind 1) or playlist (kind 2): one row per record with its
// track and artist names, a play button and a progress bar. The panel
// follows which row is selected, playing and paused, mirrors the selected
// record into the user model's current track, plays previews through the
// application object and opens the next screen when a row is tapped.
// UI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "app/RowParts.h"
#include "framework/Events.h"
#include "framework/Control.h"
#include "framework/CtlScrollPanel.h"
#include "framework/CtlStatic.h"
#include "framework/layout.h"

class CSearchResults;
struct CEditBar;

class CRecordListPanel : public CtlPanel {
 public:
  enum : int32_t { EKindResults = 0, EKindRecordings = 1, EKindPlaylist = 2 };
  // A user history deeper than this refuses to open another user's record.
  static constexpr size_t kMaxUserHistory = 16;

  static CRecordListPanel* New(CControl* pParent, CSearchResults* pModel, int32_t nKind, CEditBar* pBar);
  CRecordListPanel();
  ~CRecordListPanel() override;

  // The owning screen is being left: remembers the row to come back to.
  void OnLeave();
  void OnPlayerState();
  void OnTimerTick();

  void OnRectChanged(const RECT& rcNew, const RECT& rcOld) override;

  int32_t PlayingRow() const { return m_nPlaying; }
  int32_t PausedRow() const { return m_nPaused; }
  int32_t SelectedRow() const { return m_nSelected; }
  int32_t Kind() const { return m_nKind; }
  size_t RowCount() const { return m_rows.size(); }
  const CRecordListItem& Row(size_t i) const { return *m_rows[i]; }
  const plat::WString& Title() const { return m_title; }
  CtlScrollPanel* ScrollPanel() const { return m_pScroll; }
  CtlStatic* EmptyText() const { return m_pEmpty; }
  CLayoutNode* LayoutRoot() const { return m_pRoot.get(); }

  // Row steps; a row index outside the rows does nothing.
  void SelectRecord(int32_t i);
  void OnPlayPressed(int32_t i);

 private:
  void Init(CControl* pParent, CSearchResults* pModel, int32_t nKind, CEditBar* pBar);
  void SetTitle();
  void BuildRows();
  bool IsRow(int32_t i) const { return i >= 0 && i < static_cast<int32_t>(m_rows.size()); }
  bool HasPreview(int32_t i) const;
  void ResetRowIcon(int32_t i);
  void SetRowMarquee(int32_t i, bool bOn);
  void StartPreview(int32_t i);
  void OnPreviewStopped();
  void OpenRecord(int32_t i);
  void OpenUserEntry(int32_t i);
  // The back action of a user's entry: the preview stops and the user model
  // goes back to the user whose list it was.
  static void StopAndPopUser();

  // Row callbacks: the argument is the row index.
  void RowFocused(void* pRow);
  void RowBlurred(void* pRow);
  void RowClicked(void* pRow);
  void PlayClicked(void* pRow);

  CMemberListener<PlayerStateEvent, CRecordListPanel, &CRecordListPanel::OnPlayerState> m_playerListener{this};
  CMemberListener<TimerTickEvent, CRecordListPanel, &CRecordListPanel::OnTimerTick> m_tickListener{this};

  std::unique_ptr<CLayoutNode> m_pRoot;
  CtlScrollPanel* m_pScroll = nullptr;
  CtlStatic* m_pEmpty = nullptr;
  plat::WString m_title;
  CSearchResults* m_pModel = nullptr;
  std::vector<std::unique_ptr<CRecordListItem>> m_rows;
  CEditBar* m_pBar = nullptr;
  int32_t m_nPlaying = -1;
  int32_t m_nPaused = -1;
  int32_t m_nSelected = -1;
  bool m_bRemember = true;
  int32_t m_nKind = EKindResults;
};
