// The user model's reply handling under arbitrary bytes. The first byte picks
// the reply kind; for the two picture kinds the next four give the target
// rectangle (width, then a signed height: 0 or less takes the picture's
// proportions) and the fifth a second width asked from memory afterwards.
// The rest is the body.
#include <cstddef>
#include <cstdint>

#include "framework/AppRegistry.h"
#include "framework/Events.h"
#include "framework/ObjectRegistry.h"
#include "platform/base/Debug.h"
#include "platform/registry/Registry.h"
#include "protocol/HTTPUserModel.h"

namespace {

struct TFuzzApp {
  CObjectRegistry registry;
  CEventQueue queue{[] { return true; }};
  CHTTPUserModel* pModel = nullptr;
  TFuzzApp() {
    plat::SetDebugSink([](plat::WStringView) {});  // a trace per input would drown the run
    plat::ResetRegistryForTests();
    RegOpenAppKey();
    queue.SetInitialised(true);
    pModel = CHTTPUserModel::Create();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TFuzzApp* s_pApp = new TFuzzApp();  // lives for the run, like the program's
  CHTTPUserModel& model = *s_pApp->pModel;
  if (size < 1) return 0;
  const auto kind = static_cast<EUserRequest>(data[0] % kUserRequestCount);
  size_t at = 1;
  int32_t secondWidth = 0;
  if (kind == EUserImageRequest || kind == ETrackImageRequest) {
    if (size < 6) return 0;
    const int32_t width = data[1] | (data[2] << 8);
    const int32_t height = static_cast<int16_t>(data[3] | (data[4] << 8));
    secondWidth = data[5];
    at = 6;
    // Without an application session the request fails at once, leaving the
    // rectangle as the reply's target.
    model.SetImageUrl(u"http://fuzz.test/img/u.png");
    model.SetTrackImageUrl(u"http://fuzz.test/img/t.png");
    if (kind == EUserImageRequest)
      model.RequestImage(RECT{0, 0, width, height});
    else
      model.RequestTrackImage(RECT{0, 0, width, height});
  }
  model.HandleBody(kind, reinterpret_cast<const char*>(data + at), size - at);
  if (kind == EUserImageRequest) model.RequestImage(RECT{0, 0, secondWidth, 0});
  if (kind == ETrackImageRequest) model.RequestTrackImage(RECT{0, 0, secondWidth, 0});
  s_pApp->queue.RunEvents();
  // What the screens read after a reply.
  model.PlaylistResults()->RecordingCount();
  model.RecordingsResults()->TotalRecords();
  (void)model.CurrentUser().m_userImageUrl.size();
  return 0;
}
