// The composite rows the screens are built from. Each part creates one row
// button with its inner children and inner layouts under a parent in
// `Build` and remembers its controls; the controls belong to the parent's
// tree, so the part owns nothing and may go before or after them.
// UI thread.
#pragma once

#include <cstdint>

#include "app/ImageButton.h"
#include "app/ImageToggle.h"
#include "framework/CtlButton.h"
#include "framework/CtlScrollBar.h"
#include "framework/CtlStatic.h"

// The recorder's big button: a mode icon, the idle caption and two
// recording captions, with an idle and a recording look.
class CRecordButtonPart {
 public:
  virtual ~CRecordButtonPart() = default;
  void Build(CControl* pParent);
  // Recording: both recording captions shown, the idle caption hidden and
  // the recording skin in all three states; idle the reverse.
  void SetRecording(bool bRecording);
  bool IsRecording() const { return m_bRecording; }
  // The idle caption's font: the height of inner node 234, 12 before the
  // node has a size.
  int32_t CaptionFontHeight() const;

  CtlAdvButton* pButton = nullptr;
  CtlStatic* pIcon = nullptr;
  CtlStatic* pCaption = nullptr;
  CtlStatic* pRecordingCaption1 = nullptr;
  CtlStatic* pRecordingCaption2 = nullptr;

 private:
  bool m_bRecording = false;
};

// The settings screen's language button: capped at both ends, caption in
// the accent colour.
class CTwoButtonPartA {
 public:
  virtual ~CTwoButtonPartA() = default;
  void Build(CControl* pParent);
  CtlAdvButton* pButton = nullptr;
  CtlStatic* pCaption = nullptr;
};

// The settings screen's update button: one centre picture per state.
class CTwoButtonPartB {
 public:
  virtual ~CTwoButtonPartB() = default;
  void Build(CControl* pParent);
  CtlAdvButton* pButton = nullptr;
  CtlStatic* pCaption = nullptr;
  int32_t nCaptionFont = 0;  // asked for; the font fitted to it may differ
};

// One entry of a choice list (search language, interface language,
// network): a caption and a tick shown on the current entry.
class CChoiceRow {
 public:
  virtual ~CChoiceRow() = default;
  void Build(CControl* pParent);
  CtlAdvButton* pButton = nullptr;
  CtlStatic* pTick = nullptr;
  CtlStatic* pCaption = nullptr;
};

// A row of the track details and the user page: an icon button with a
// caption, in mode 1 a second caption, and with a progress bar (the
// preview rows). The icon shows the "on" picture while the row is lit and
// the "off" picture while it is dim.
class CDetailsLinkRow {
 public:
  virtual ~CDetailsLinkRow() = default;
  void SetHighlightImages(int32_t nOn, int32_t nOff) {
    nOnImage = nOn;
    nOffImage = nOff;
  }

  CImageButton* pButton = nullptr;
  CtlStatic* pIcon = nullptr;
  CtlStatic* pCaption = nullptr;
  CtlStatic* pCaption2 = nullptr;  // mode 1 only
  CtlScrollBar* pBar = nullptr;    // row A only
  int32_t nOnImage = -1;
  int32_t nOffImage = -1;
  // Normal, pressed and released pictures of the icon.
  int32_t anStateImages[3] = {-1, -1, -1};

 protected:
  void BuildCommon(CControl* pParent);
};

// Preview rows: mode 0 one caption line, mode 1 two.
class CDetailsRowA : public CDetailsLinkRow {
 public:
  void Build(CControl* pParent, int32_t nMode);
};

// Link rows (video, buy, lyrics).
class CDetailsRowB : public CDetailsLinkRow {
 public:
  void Build(CControl* pParent);
};

// A row of the record lists: track and artist names, the play button and
// the preview's progress bar.
class CRecordListItem {
 public:
  virtual ~CRecordListItem() = default;
  void Build(CControl* pParent);

  CImageButton* pButton = nullptr;
  CImageToggle* pPlay = nullptr;
  CtlStatic* pTitle = nullptr;
  CtlStatic* pSubtitle = nullptr;
  CtlScrollBar* pBar = nullptr;
  int32_t anStateImages[3] = {-1, -1, -1};
};

// Lit (enabled, text colour, "on" icon) or dim (disabled, secondary text
// colour, "off" icon).
void SetRowHighlight(CDetailsLinkRow& row, bool bOn);
// Shows or hides the tick of a choice row.
void ShowChild(CChoiceRow& row, bool bShow);
// Stores {normal, pressed, released}, shows the first, and swaps the
// picture when the row button is pressed and released: on the play button
// of a list row, on the icon of a link row.
void SetButtonStateImages(CRecordListItem& row, int32_t nNormal, int32_t nPressed, int32_t nReleased);
void SetButtonStateImages(CDetailsLinkRow& row, int32_t nNormal, int32_t nPressed, int32_t nReleased);
// Only http URLs with a host; https and every other scheme are refused.
bool IsHttpUrl(plat::WStringView url);
// The bar images of a row's progress bar for the theme.
void SetRowBarImages(CtlScrollBar* pBar);
// The standard text height the caption of a details or choice row is drawn
// at, and that height for a caption box whose inner height is nInnerHeight:
// never taller than the box. 12 while the application's tree has no size.
inline constexpr int32_t kRowCaptionHeightIndex = 2;
int32_t RowCaptionFontHeight(int32_t nInnerHeight);
// The larger and the smaller side of the screen, and the larger side of the
// main window (0 without an application).
int32_t ScreenLargerSide();
int32_t ScreenSmallerSide();
int32_t MainWindowLargerSide();
