// The drag, flick and inertia tracker of a scrolling panel: the content
// follows the finger one to one inside its range and with resistance beyond
// it; a release with speed starts an inertia that loses a fixed amount per
// tick, springs back at the ends with a haptic, and can snap to a grid or
// glide to a target. The unit also keeps the menu image id tables and the
// screen's cached horizontal resolution.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "vy/VyCommon.h"

class CVyGesture {
 public:
  struct TSample {
    uint32_t nCounter;  // 0: empty
    int32_t x;
    int32_t y;
  };

  CVyGesture() = default;
  CVyGesture(const CVyGesture&) = delete;
  CVyGesture& operator=(const CVyGesture&) = delete;
  virtual ~CVyGesture() { delete m_pStopMessage; }
  virtual void Begin(int32_t nViewLeft, int32_t nViewTop, int32_t nViewRight, int32_t nViewBottom,
                     int32_t nContentLeft, int32_t nContentTop, int32_t nContentRight, int32_t nContentBottom,
                     int32_t x, int32_t y);
  // 1 for a tap.
  virtual int32_t End(int32_t x, int32_t y);
  virtual void Move(int32_t x, int32_t y);
  virtual int32_t ResetBounds();

  void Step(POINT* pOut);
  void GetOffset(POINT* pOut) const { *pOut = m_ptOffset; }
  int32_t IsAnimating() const { return (m_nFlags & 1) != 0; }
  void SetContentRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom);
  void SetViewRect(int32_t nLeft, int32_t nTop, int32_t nRight, int32_t nBottom);
  void Settle();
  void Stop();
  void SetBounce(int32_t bBounce) { m_bBounceEnabled = bBounce; }
  // 1 when the offset already is the target.
  int32_t ScrollTo(int32_t nTarget, int32_t bClamp, int32_t bImmediate);
  int32_t Snap();

  void SetAxis(int32_t nAxis) { m_nAxis = nAxis; }
  void SetSnapUnit(int32_t nUnit) { m_nSnapUnit = nUnit; }
  int32_t GetVelocity() const { return m_nVelocity; }
  void SetOffsetForTests(int32_t x, int32_t y) { m_ptOffset = POINT{x, y}; }
  // The range: the most negative offset that still shows content.
  int32_t Range() const;

 private:
  int32_t Axis(const POINT& p) const { return m_nAxis ? p.x : p.y; }
  int32_t& Axis(POINT& p) const { return m_nAxis ? p.x : p.y; }
  void UpdateExtremes(int32_t x, int32_t y);
  void ResetExtremes();
  void NotifyStop();
  static uint32_t Counter();

  int32_t m_nAxis = 0;
  int32_t m_nGrab = 0;
  POINT m_ptStart{};
  POINT m_ptLast{};
  uint32_t m_nLastCounter = 0;
  uint32_t m_nFlags = 1;
  RECT m_rcContent{};
  RECT m_rcView{};
  POINT m_ptOffset{};
  POINT m_ptMax{-10000, -10000};
  POINT m_ptMin{10000, 10000};
  TSample m_sampleA{};
  TSample m_sampleB{};
  int32_t m_nVelocity = 0;
  int32_t m_nPrevVelocity = 0;
  int32_t m_nDeceleration = 5;
  int32_t m_nSnapUnit = 0;
  int32_t m_bBounced = 0;
  int32_t m_bBounceEnabled = 1;
  int32_t m_bFirstMove = 0;
  int32_t m_bNotified = 0;
  // The owner's stop message: nothing sets one in this program.
  struct TStopMessage {
    plat::HWND hWnd;
    uint32_t nMsg;
    plat::WPARAM wParam;
    plat::LPARAM lParam;
  };
  TStopMessage* m_pStopMessage = nullptr;
  int32_t m_nScrollFrom = 0;
  int32_t m_nScrollTarget = 0;
  int32_t m_bGliding = 0;
};

// The menu image id tables, -1 in every entry until set.
void SetMenuImageIDs(std::span<const int32_t, 26> ids);
void SetMenuItemImageIDs(std::span<const int32_t, 10> ids);
int32_t GetMenuImageID(int32_t nIndex);      // -1 out of range
int32_t GetMenuItemImageID(int32_t nIndex);  // -1 out of range
void ResetMenuImageIDsForTests();

// The application's id sets, by screen and colour theme.
inline constexpr std::array<int32_t, 26> kMenuImageIdsSmall = {
    580, 581, 582, 583, 584, 585, 586, 587, 594, 596, 595, 608, 609,
    610, 611, 612, 613, 597, 598, 599, 600, 601, 602, 603, 604, 605};
inline constexpr std::array<int32_t, 10> kMenuItemImageIdsSmall = {553, 589, 590, 591, 592, 593, 606, 607, 606, 607};
inline constexpr std::array<int32_t, 26> kMenuImageIdsTheme0 = {
    545, 546, 547, 548, 549, 550, 551, 552, 559, 561, 560, 573, 574,
    575, 576, 577, 578, 562, 563, 564, 565, 566, 567, 568, 569, 570};
inline constexpr std::array<int32_t, 10> kMenuItemImageIdsTheme0 = {553, 554, 555, 556, 557, 558, 571, 572, 571, 572};
inline constexpr std::array<int32_t, 26> kMenuImageIdsTheme1 = {
    684, 685, 686, 687, 688, 689, 690, 691, 559, 561, 560, 573, 574,
    575, 576, 577, 578, 562, 563, 564, 565, 566, 567, 568, 569, 570};
inline constexpr std::array<int32_t, 10> kMenuItemImageIdsTheme1 = {692, 693, 694, 695, 557, 558, 571, 572, 571, 572};

// The screen's horizontal DPI, read from the screen DC once (-1 without one).
int32_t GetLogPixelsX();
void ResetLogPixelsForTests();
