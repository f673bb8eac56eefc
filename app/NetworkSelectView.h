// View 22: the four destination networks; the one the HTTP client would
// select now is ticked, and a tap stores the choice and drops the current
// connection, so that the next request selects the new one.
#pragma once

#include <cstdint>

#include "app/ChoiceListView.h"
#include "platform/phone/ConnMgr.h"

struct TNetworkChoice {
  int32_t nTextId;
  const plat::Guid* pGuid;
  uint32_t nType;
};
// In display order.
extern const TNetworkChoice kNetworkChoices[4];

// The trace of a stored choice, with the 16 bytes in storage order.
plat::WString NetworkChoiceTrace(const plat::Guid& guid);

class CNetworkSelectView : public CChoiceListView {
 public:
  static CView* NewView() { return new CNetworkSelectView(); }
  void SelectNetwork(int32_t nRow);

 protected:
  TShape Shape() const override;
  std::vector<plat::WString> Entries() override;
  int32_t InitialTick() override;
  void OnRowTapped(int32_t nRow) override { SelectNetwork(nRow); }
};
