#include "platform/shell/MenuBarPaint.h"

#include "platform/text/Text.h"

namespace plat {
namespace {

// One font, made again only when the band's height changes (rotation).
HFONT LabelFont(int32_t bandHeight) {
  static HFONT font = nullptr;
  static int32_t madeFor = 0;
  if (font && madeFor == bandHeight) return font;
  if (font) DeleteObject(font);
  FontDesc desc;
  desc.height = -(bandHeight * 3 / 8);  // character height: three eighths of the band
  desc.weight = FW_BOLD;
  desc.quality = ANTIALIASED_QUALITY;
  font = CreateFontIndirect(desc);
  madeFor = bandHeight;
  return font;
}

void Fill(HDC dc, const Rect& r, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, r, brush);
  DeleteObject(brush);
}

}  // namespace

void PaintMenuBar(HDC dc, const Rect& client, const MenuBarState& state) {
  Fill(dc, client, kMenuBarBackground);
  Fill(dc, {client.left, client.top, client.right, client.top + 1}, kMenuBarEdge);

  HFONT font = LabelFont(client.Height());
  HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
  SetBkMode(dc, TRANSPARENT);
  const int32_t middle = client.left + client.Width() / 2;
  const int32_t margin = client.Height() / 8;
  for (int i = 0; i < 2; ++i) {
    const MenuBarButton& button = state.buttons[i];
    if (button.text.empty()) continue;
    Rect r = i == 0 ? Rect{client.left + margin, client.top + 1, middle - margin, client.bottom}
                    : Rect{middle + margin, client.top + 1, client.right - margin, client.bottom};
    SetTextColor(dc, button.Active() ? kMenuBarText : kMenuBarGreyText);
    DrawText(dc, button.text, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
  }
  if (previous) SelectObject(dc, previous);
}

void InstallMenuBarPainter() { SetMenuBarPainter(PaintMenuBar); }

}  // namespace plat
