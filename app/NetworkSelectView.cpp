#include "app/NetworkSelectView.h"

#include <array>

#include "app/QuorelAppUi.h"
#include "framework/AppRegistry.h"
#include "framework/Resources.h"
#include "framework/Trace.h"
#include "layouts/Layouts.h"
#include "net/HTTPCore.h"

const TNetworkChoice kNetworkChoices[4] = {
    {227, &plat::IID_DestNetInternet, 1},
    {229, &plat::IID_DestNetWAP, 3},
    {228, &plat::IID_DestNetCorp, 2},
    {230, &plat::IID_DestNetSecureWAP, 4},
};

plat::WString NetworkChoiceTrace(const plat::Guid& guid) {
  const std::array<uint8_t, 16> b = guid.Bytes();
  return plat::FormatW(
      u"[QUOREL] Network GUID set from options: "
      u"%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x,%02x\n",
      b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}

CChoiceListView::TShape CNetworkSelectView::Shape() const {
  return TShape{226, 114, 231, 232, BuildNetworkSelectLayout, BuildNetworkRowsLayout};
}

std::vector<plat::WString> CNetworkSelectView::Entries() {
  std::vector<plat::WString> entries;
  for (const TNetworkChoice& choice : kNetworkChoices) entries.push_back(CResources::GetString(choice.nTextId));
  return entries;
}

int32_t CNetworkSelectView::InitialTick() {
  CHTTPCore* pCore = CQuorelAppUi::HTTPCore();
  plat::Guid selected{};
  if (!pCore || !pCore->SelectDestinationNetwork(&selected)) return -1;
  for (int32_t i = 0; i < 4; ++i)
    if (*kNetworkChoices[i].pGuid == selected) return i;
  return -1;
}

void CNetworkSelectView::SelectNetwork(int32_t nRow) {
  if (nRow < 0 || nRow >= 4) return;
  MoveTick(nRow);
  CQuorelAppUi::CancelUpdate();
  if (CHTTPCore* pCore = CQuorelAppUi::HTTPCore()) pCore->ReleaseNetwork();
  const TNetworkChoice& choice = kNetworkChoices[nRow];
  const std::array<uint8_t, 16> bytes = choice.pGuid->Bytes();
  RegSetAppBinary(u"quorelGUID", bytes.data(), 16);
  RegSetAppDword(u"quorelGUIDType", choice.nType);
  WriteTraceRecord(NetworkChoiceTrace(*choice.pGuid));
  CQuorelAppUi::GoBack();
}
