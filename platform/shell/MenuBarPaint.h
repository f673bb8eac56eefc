// How the shell's menu bar looks: a dark band with a lighter top edge and the
// two soft-key labels centred in their halves, white when the key can be
// used, grey when it cannot. The bar's logic lives with the window system
// (platform/ui/MenuBar.h); this is its drawing, which needs GDI and text.
#pragma once

#include "platform/gdi/Gdi.h"
#include "platform/ui/MenuBar.h"

namespace plat {

constexpr COLORREF kMenuBarBackground = RGB(0x20, 0x20, 0x20);
constexpr COLORREF kMenuBarEdge = RGB(0x60, 0x60, 0x60);
constexpr COLORREF kMenuBarText = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kMenuBarGreyText = RGB(0x80, 0x80, 0x80);

// Draws the bar into `dc` over `client` (the bar's own coordinates).
void PaintMenuBar(HDC dc, const Rect& client, const MenuBarState& state);
// Makes PaintMenuBar the bar's painter. Start-up calls it once.
void InstallMenuBarPainter();

}  // namespace plat
