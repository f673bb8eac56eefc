// The preview player as the screens see it, scripted by the test: the
// application's preview control makes these players, whose state, played
// seconds and length the test sets, and every play and deletion is logged.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/PreviewControl.h"
#include "app/QuorelAppUi.h"

namespace screenstest {

struct TPreviewScript {
  int32_t state = 0;  // the live player's (none: the control reports 0)
  int32_t played = 0;
  int32_t length = 0;
  // "play <url>", "pause", "resume", "deleted", oldest first.
  std::vector<std::string> calls;

  void Reset() { *this = TPreviewScript(); }
  size_t Count(const std::string& call) const {
    size_t n = 0;
    for (const std::string& c : calls) n += c == call;
    return n;
  }
  std::string LastPlay() const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
      if (it->rfind("play ", 0) == 0) return *it;
    return {};
  }
  // Both kinds of player become scripted ones (the application exists).
  void Install();
};

inline TPreviewScript& PreviewScript() {
  static TPreviewScript script;
  return script;
}

class TScriptedPlayer : public IPreviewPlayer {
 public:
  ~TScriptedPlayer() override {
    PreviewScript().calls.push_back("deleted");
    PreviewScript().state = 0;
  }
  int32_t Play(plat::WStringView source) override {
    PreviewScript().calls.push_back("play " + plat::ToUtf8(source));
    PreviewScript().state = 1;
    return 1;
  }
  void Pause() override { PreviewScript().calls.push_back("pause"), PreviewScript().state = 3; }
  void Resume() override { PreviewScript().calls.push_back("resume"), PreviewScript().state = 2; }
  int32_t GetState() override { return PreviewScript().state; }
  int32_t GetPlayedSeconds() override { return PreviewScript().played; }
  int32_t GetLengthSeconds() override { return PreviewScript().length; }
  bool IsComplete() override { return false; }
  bool HasFailed() override { return false; }
};

inline void TPreviewScript::Install() {
  CPreviewControl* pControl = CQuorelAppUi::Preview();
  if (!pControl) return;
  pControl->Services().makeStreamPlayer = [] { return std::make_unique<TScriptedPlayer>(); };
  pControl->Services().makeFilePlayer = [] { return std::make_unique<TScriptedPlayer>(); };
}

}  // namespace screenstest
