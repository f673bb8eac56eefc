#include "Monkey.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "app/LanguageTable.h"
#include "app/QuorelAppUi.h"
#include "app/QuorelModalDialogs.h"
#include "app/RecorderView.h"
#include "framework/AppRegistry.h"
#include "framework/Control.h"
#include "net/HTTPWrapper.h"
#include "vy/BasicMenu.h"
#include "vy/OptionsMenuGUI.h"
#include "platform/audio/Audio.h"
#include "platform/entry/Entry.h"
#include "platform/fs/FileSystem.h"
#include "platform/gdi/Gdi.h"
#include "platform/kernel/Kernel.h"
#include "platform/module/Module.h"
#include "platform/net/Net.h"
#include "platform/phone/ConnMgr.h"
#include "platform/phone/Telephony.h"
#include "platform/registry/Registry.h"
#include "platform/registry/RegText.h"
#include "platform/text/Text.h"
#include "platform/testing/TestPlatform.h"
#include "platform/ui/Ui.h"
#include "audio/SoundCore.h"
#include "protocol/AppSettings.h"
#include "protocol/HTTPUserModel.h"
#include "protocol/PreviewStore.h"
#include "tests/support/Waits.h"
#include "tools/protocol-server/TestSupport.h"

namespace monkey {

namespace {

namespace fs = std::filesystem;

// The tone the microphone plays: the catalogue's own pitch, so searches find
// tracks and the flow goes on to results, previews and user pages.
constexpr double kCataloguePitch = 440;

fs::path WriteTone(const fs::path& folder) {
  const fs::path path = folder / "tone.wav";
  const plat::WaveFormat format = plat::PcmFormat(8000, 1);
  std::vector<uint8_t> pcm;
  for (int i = 0; i < 8000 * 8; ++i) {
    const auto s = static_cast<int16_t>(9000 * std::sin(2 * M_PI * kCataloguePitch * i / 8000.0));
    pcm.push_back(static_cast<uint8_t>(s & 0xFF));
    pcm.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
  }
  plat::WriteWavFile(path, format, pcm);
  return path;
}

// Faults the server may play on its next reply of a route.
struct TFault {
  const char* route;
  const char* fault;
  const char* arg;
};
constexpr TFault kFaults[] = {
    {"any", "stall", "3"},           {"any", "reset", ""},           {"any", "close", ""},
    {"any", "truncate", "40"},       {"any", "dribble", "64"},       {"any", "delay", "2000"},
    {"any", "chunk-bad", ""},        {"any", "cl-huge", ""},         {"any", "gzip-corrupt", ""},
    {"any", "not-xml", ""},          {"any", "truncated-xml", ""},   {"any", "huge", "200000"},
    {"any", "deep", "5000"},         {"search-post", "empty", ""},   {"search-post", "reject", ""},
    {"search-post", "early-reply", "100"}, {"image", "png-corrupt", ""}, {"image", "png-truncated", ""},
    {"image", "not-png", ""},        {"image", "png-huge", ""},      {"preview", "mp3-garbage", ""},
    {"preview", "mp3-short", ""},    {"preview", "mp3-id3", ""},     {"page", "not-found", ""},
    {"page", "no-user-info", ""},    {"any", "error-root", "busy"},  {"any", "update-offer", ""},
};

// The program's sixteen screens.
constexpr int32_t kAppViews[] = {2, 4, 5, 6, 8, 10, 11, 12, 13, 14, 15, 16, 18, 19, 21, 22};

// A menu slides in or out in well under a second of frames; one still on
// the move after this long (or still open this long after Back or the right
// soft key reached it at rest) holds every tap and key of the program.
constexpr uint32_t kMenuSettleMs = 10000;

constexpr uint32_t kKeys[] = {plat::VK_LEFT,  plat::VK_RIGHT,  plat::VK_UP, plat::VK_DOWN, plat::VK_RETURN,
                              plat::VK_ESCAPE, plat::VK_F1,    plat::VK_F2, plat::VK_F4};

class TMonkey {
 public:
  TMonkey(const TMonkeyOptions& options, TMonkeyResult& result)
      : m_options(options), m_result(result), m_rng(options.seed) {}

  void Run();

 private:
  // Drawing by seed.
  uint32_t Pick(uint32_t n) { return static_cast<uint32_t>(m_rng() % n); }
  bool Chance(uint32_t percent) { return Pick(100) < percent; }

  void Log(const std::string& line) {
    m_result.lastSteps.push_back(std::to_string(m_result.stepsRun) + " @" + std::to_string(plat::GetTickCount()) +
                                 "ms: " + line);
    if (m_result.lastSteps.size() > 60) m_result.lastSteps.pop_front();
  }
  void Fail(const std::string& why) {
    if (m_result.failure.empty()) m_result.failure = why;
  }

  bool Idle();
  void Step();
  // One line of figures to stderr, to see what grows over a long run.
  void PrintSample();
  // Storm mode: one turn of the scripted flow; the wait until the next.
  void StormTurn();
  size_t MessagesShown();
  void TapRecordButton();
  void StartPreview();
  void Tap();
  void Drag();
  void CheckInvariants();
  void CheckStore();
  void CheckHives();
  void CheckHistory(CQuorelAppUi* pApp);
  void CheckOptionsMenu(CQuorelAppUi* pApp);
  // Back or the right soft key: the tick is kept when it reaches the options
  // menu at rest, which must then close.
  void CloseKey(uint32_t vk);
  void Control(const std::string& target);
  plat::Point RandomPoint();
  // A point inside a visible control of the screen, or anywhere.
  plat::Point ControlPoint();
  void CollectControls(CControl* p, std::vector<CControl*>& out);

  const TMonkeyOptions& m_options;
  TMonkeyResult& m_result;
  std::mt19937_64 m_rng;
  std::unique_ptr<plat::TestPlatform> m_tp;
  std::unique_ptr<qpstest::ServerHarness> m_server;
  std::unique_ptr<plat::SimConnMgr> m_connMgr;
  bool m_bNetworkUp = true;
  bool m_bStop = false;
  bool m_bSlide = false;
  int m_nAngle = 0;
  size_t m_nBoxesSeen = 0;
  std::vector<const CMessageDialog*> m_openDialogs;  // at the last check
  // A time step under way: the loop may block until then.
  std::optional<uint32_t> m_waitUntil;
  uint32_t m_stepStart = 0;
  uint32_t m_quietSince = 0;  // the last input or network change
  std::atomic<int> m_progress{0};
  std::atomic<uint32_t> m_lastIdleTick{0};
  // Storm mode.
  enum class EStorm { Start, Recording, Waiting, Returning, Preview, Settle } m_storm = EStorm::Start;
  uint32_t m_phaseSince = 0;
  size_t m_nLastControls = 0;
  bool m_bStormDone = false;
  uint32_t m_nDismissals = 0;
  uint32_t m_nextToggle = 0;
  size_t m_messagesBefore = 0;
  uint64_t m_nCallsCounted = CQuorelAppUi::OutwardCallCount();
  size_t m_nMessagesShown = 0;
  size_t m_requestsBefore = 0;
  // The options menu: since when it is on the move, since when a closing
  // key reached it at rest.
  std::optional<uint32_t> m_menuMovingSince, m_menuCloseAsked;
};

// A preview of a catalogue track that streams from the server (nothing of it
// in the store), whatever screen is showing.
void TMonkey::StartPreview() {
  CHTTPUserModel* pModel = AppSettings::GetUserModel();
  if (!pModel) return;
  const std::string id = "t" + std::to_string(1 + Pick(6));
  pModel->SetTrackId(plat::Widen(id));
  pModel->SetTrackKind(TrackKindPreview);
  pModel->SetAudioPreviewUrl(plat::Widen(m_server->Base() + "/media/preview-" + id + ".mp3"));
  if (CQuorelAppUi::PreviewStore()) CQuorelAppUi::PreviewStore()->Discard(pModel->CurrentTrack());
  Log("preview " + id);
  ++m_result.storm.previews;
  CQuorelAppUi::PlayPreview();
}

void TMonkey::TapRecordButton() {
  if (CRecorderView* pView = CRecorderView::Current()) {
    const RECT rc = pView->RecordButton()->ScreenRect();
    m_tp->Tap((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
  }
}

size_t TMonkey::MessagesShown() {
  // The program keeps only its newest calls: the ones made since the last
  // look are counted, whatever it has let go since.
  const std::vector<std::string>& calls = CQuorelAppUi::OutwardCalls();
  const uint64_t total = CQuorelAppUi::OutwardCallCount();
  const size_t fresh = static_cast<size_t>(std::min<uint64_t>(total - m_nCallsCounted, calls.size()));
  for (size_t i = calls.size() - fresh; i < calls.size(); ++i)
    m_nMessagesShown += calls[i].rfind("ShowMessage", 0) == 0 || calls[i].rfind("ShowServerMessageView", 0) == 0;
  m_nCallsCounted = total;
  return m_nMessagesShown;
}

void TMonkey::StormTurn() {
  TMonkeyResult::TStorm& st = m_result.storm;
  const uint32_t now = plat::GetTickCount();
  const uint32_t inPhase = now - m_phaseSince;
  auto* pApp = static_cast<CQuorelAppUi*>(CAppUi::Instance());
  auto enter = [&](EStorm phase) {
    m_storm = phase;
    m_phaseSince = now;
    m_messagesBefore = MessagesShown();
  };
  // The storm blows while a search or a preview is under way.
  if (m_storm != EStorm::Settle && m_storm != EStorm::Start &&
      static_cast<int32_t>(now - m_nextToggle) >= 0) {
    m_bNetworkUp = !m_bNetworkUp;
    if (m_bNetworkUp) {
      m_connMgr->RestoreNetwork();
      ++st.cycles;
    } else {
      m_connMgr->DropNetwork();
    }
    Log(std::string("network ") + (m_bNetworkUp ? "back" : "lost"));
    m_nextToggle = now + 200 + Pick(2801);
    m_quietSince = now;
  }
  m_stepStart = now;
  const bool bMessage = MessagesShown() > m_messagesBefore;
  switch (m_storm) {
    case EStorm::Start:
      if (st.cycles >= m_options.stormCycles) {
        m_bStormDone = true;
        return;
      }
      if (pApp->GetActiveViewId() != 2 || CQuorelAppUi::Recorder() || !CRecorderView::Current()) {
        CQuorelAppUi::GoBackTo(2);
        break;
      }
      Log("search");
      ++st.searches;
      m_requestsBefore = m_server->Log().size();
      TapRecordButton();
      m_nextToggle = now + 200 + Pick(2801);
      enter(EStorm::Recording);
      break;
    case EStorm::Recording:
      if (bMessage) {
        ++st.searchMessages;
        StartPreview();
        enter(EStorm::Preview);
      } else if (inPhase >= 6000) {
        Log("stop");
        TapRecordButton();
        enter(EStorm::Waiting);
      }
      break;
    case EStorm::Waiting:
      if (bMessage) {
        ++st.searchMessages;
        StartPreview();
        enter(EStorm::Preview);
      } else if (pApp->GetActiveViewId() == 4) {
        // The results list owns the previews of its rows and stops any
        // other, so the storm's preview plays on the recorder screen.
        ++st.searchResults;
        CQuorelAppUi::GoBackTo(2);
        enter(EStorm::Returning);
      } else if (inPhase > 180000) {
        Fail("a search under the storm ended in neither results nor a message");
      }
      break;
    case EStorm::Returning:
      if (pApp->GetActiveViewId() == 2) {
        StartPreview();
        enter(EStorm::Preview);
      } else if (inPhase > 10000) {
        Fail("the results list did not go back to the recorder screen");
      }
      break;
    case EStorm::Preview: {
      const int32_t state = CQuorelAppUi::GetPreviewState();
      if (MessagesShown() > m_messagesBefore + 1) Fail("a preview's error was shown more than once");
      // The storm blows on until the download and the playing are over.
      if (state == ESoundFinished) {
        ++st.previewsPlayed;
        enter(EStorm::Settle);
      } else if (state == 0 && inPhase > 1000) {
        // The screen showing stopped it (the results list owns its preview).
        ++st.previewsStopped;
        enter(EStorm::Settle);
      } else if (bMessage && inPhase > 3000) {
        ++st.previewErrors;
        enter(EStorm::Settle);
      } else if (inPhase > 180000) {
        Fail("a preview under the storm neither played nor showed an error");
      }
      break;
    }
    case EStorm::Settle: {
      if (inPhase == 0 || !m_bNetworkUp) {
        CQuorelAppUi::StopPreview();
        m_bNetworkUp = true;
        m_connMgr->RestoreNetwork();
      }
      CHTTPSession* pSession = CQuorelAppUi::HTTPSession();
      if (!pSession || pSession->OpenCount() == 0) {
        st.mostRequestsPerSearch = std::max(st.mostRequestsPerSearch, m_server->Log().size() - m_requestsBefore);
        enter(EStorm::Start);
      } else if (inPhase > 120000) {
        Fail(std::to_string(pSession->OpenCount()) + " requests still open two minutes after the storm");
      }
      break;
    }
  }
  // The user reads a message and closes it (its soft key, or Enter). A
  // message that keys cannot close is counted (the storm test wants none)
  // and closed as its button would, so the storm goes on.
  if (!CMessageDialog::OpenDialogs().empty()) {
    Log("close the message");
    if (++m_nDismissals % 8 == 0) {
      ++m_result.storm.messagesClosedByHand;
      CMessageDialog::CloseAll();
    } else {
      m_tp->Key(m_nDismissals % 2 ? plat::VK_RETURN : plat::VK_F2);
    }
  } else {
    m_nDismissals = 0;
  }
  m_waitUntil = now + 250;
}

plat::Point TMonkey::RandomPoint() {
  const plat::FrameBuffer& screen = m_tp->Screen();
  return {static_cast<int32_t>(Pick(static_cast<uint32_t>(std::max(1, screen.Width())))),
          static_cast<int32_t>(Pick(static_cast<uint32_t>(std::max(1, screen.Height()))))};
}

void TMonkey::CollectControls(CControl* p, std::vector<CControl*>& out) {
  for (CControl* c = p ? p->FirstChild() : nullptr; c; c = c->NextSibling()) {
    if (!c->IsVisible()) continue;
    out.push_back(c);
    CollectControls(c, out);
  }
}

plat::Point TMonkey::ControlPoint() {
  std::vector<CControl*> controls;
  CollectControls(CAppUi::Instance(), controls);
  m_nLastControls = controls.size();
  if (controls.empty() || !Chance(75)) return RandomPoint();
  const RECT rc = controls[Pick(static_cast<uint32_t>(controls.size()))]->ScreenRect();
  const int32_t w = std::max<int32_t>(1, rc.right - rc.left), h = std::max<int32_t>(1, rc.bottom - rc.top);
  return {rc.left + static_cast<int32_t>(Pick(static_cast<uint32_t>(w))),
          rc.top + static_cast<int32_t>(Pick(static_cast<uint32_t>(h)))};
}

void TMonkey::Tap() {
  const plat::Point p = ControlPoint();
  Log("tap " + std::to_string(p.x) + "," + std::to_string(p.y) + " among " + std::to_string(m_nLastControls) +
      " controls on " + std::to_string(CAppUi::Instance()->GetActiveViewId()));
  m_tp->Tap(p.x, p.y);
}

void TMonkey::Drag() {
  const plat::Point from = ControlPoint(), to = RandomPoint();
  Log("drag " + std::to_string(from.x) + "," + std::to_string(from.y) + " -> " + std::to_string(to.x) + "," +
      std::to_string(to.y));
  m_tp->Down(from.x, from.y);
  const int moves = 1 + static_cast<int>(Pick(6));
  for (int i = 1; i <= moves; ++i)
    m_tp->Move(from.x + (to.x - from.x) * i / moves, from.y + (to.y - from.y) * i / moves);
  m_tp->Up(to.x, to.y);
}

void TMonkey::Control(const std::string& target) {
  qpstest::Fetch(m_server->Port(), "GET " + target + " HTTP/1.1\r\nHost: " + m_server->Authority() + "\r\n\r\n", false,
                 5);
}

void TMonkey::Step() {
  m_stepStart = plat::GetTickCount();
  // Now and then the server's next reply of a route goes wrong.
  if (Chance(m_options.faultPercent)) {
    const TFault& f = kFaults[Pick(std::size(kFaults))];
    Log(std::string("inject ") + f.route + " " + f.fault);
    Control(std::string("/_ctl/inject?route=") + f.route + "&fault=" + f.fault +
            (*f.arg ? std::string("&arg=") + f.arg : std::string()) + "&count=1");
  }
  const uint32_t roll = Pick(1000);
  bool bInput = true;
  if (roll < 330) {
    Tap();
  } else if (roll < 400) {
    Drag();
  } else if (roll < 640) {
    // F4 and Back end the program on its start screen; keep them rarer.
    uint32_t vk = kKeys[Pick(std::size(kKeys))];
    if ((vk == plat::VK_F4 || vk == plat::VK_ESCAPE) && !Chance(30)) vk = plat::VK_RETURN;
    Log("key " + std::to_string(vk));
    CloseKey(vk);
  } else if (roll < 690) {
    const int downs = static_cast<int>(Pick(6));
    Log("menu choice " + std::to_string(downs));
    m_tp->Key(plat::VK_F1);
    for (int i = 0; i < downs; ++i) m_tp->Key(plat::VK_DOWN);
    m_tp->Key(plat::VK_RETURN);
  } else if (roll < 720) {
    m_nAngle = (m_nAngle + 90 * static_cast<int>(1 + Pick(3))) % 360;
    Log("rotate " + std::to_string(m_nAngle));
    m_tp->Rotate(m_nAngle);
  } else if (roll < 735) {
    m_bSlide = !m_bSlide;
    Log(std::string("slide ") + (m_bSlide ? "open" : "closed"));
    m_tp->SetSlide(m_bSlide);
  } else if (roll < 750) {
    Log("incoming call");
    plat::SimulateIncomingCall(0);
  } else if (roll < 790 && m_options.networkDrops) {
    m_bNetworkUp = !m_bNetworkUp;
    Log(std::string("network ") + (m_bNetworkUp ? "back" : "lost"));
    if (m_bNetworkUp)
      m_connMgr->RestoreNetwork();
    else
      m_connMgr->DropNetwork();
  } else if (roll < 800 && roll >= 790) {
    int32_t nLanguage = static_cast<int32_t>(Pick(kLanguageCount));
    if (IsLanguageLoaded(nLanguage)) {
      Log("language " + std::to_string(nLanguage));
      SetLanguage(nLanguage);
    }
  } else if (roll < 815) {
    // Back as often as the history is deep: both histories unwind.
    const size_t depth = static_cast<CQuorelAppUi*>(CAppUi::Instance())->HistorySize();
    Log("back " + std::to_string(depth) + " times");
    for (size_t i = 0; i < depth; ++i) CloseKey(plat::VK_ESCAPE);
  } else {
    bInput = false;
    // Mostly short pauses; now and then long enough for a recording to reach
    // its limit or an idle time-out to fire.
    const uint32_t ms = Chance(15) ? 5000 + Pick(35001) : Pick(3001);
    Log("wait " + std::to_string(ms));
    m_waitUntil = plat::GetTickCount() + ms;
  }
  if (bInput) m_quietSince = plat::GetTickCount();
}

void TMonkey::PrintSample() {
  const plat::GlyphCacheStats glyphs = plat::GetGlyphCacheStats();
  std::fprintf(stderr, "step %d: %s; sound captured %zu kB, outward calls %zu, glyphs %zu, server log %zu\n",
               m_result.stepsRun, support::FormatFigures(SampleResources()).c_str(),
               plat::headless_audio::CapturedBytes() / 1024, CQuorelAppUi::OutwardCalls().size(), glyphs.entries,
               m_server->Log().size());
}

void TMonkey::CheckStore() {
  ::PreviewStore* pStore = CQuorelAppUi::PreviewStore();
  if (!pStore) return;
  std::optional<fs::path> folder = plat::HostPath(pStore->Directory());
  if (!folder || !fs::is_directory(*folder)) return;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(*folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name == "buffer.dat") {
      // Only while a preview streams into it.
      if (CQuorelAppUi::GetPreviewState() == 0 && plat::GetTickCount() - m_quietSince > 30000)
        Fail("buffer.dat left in the preview store with no preview under way");
      continue;
    }
    if (name == "update.cab") continue;
    if (name.find(".mp3_") == std::string::npos && name.find(".MP3_") == std::string::npos) {
      Fail("a stray file in the preview store: " + name);
      continue;
    }
    if (entry.file_size(ec) < PreviewStore::kMinPlayableBytes) Fail("a partial preview in the store: " + name);
  }
}

// What a save would write must read back without a rejected line.
void TMonkey::CheckHives() {
  for (plat::HKEY root : {plat::HKEY_CURRENT_USER, plat::HKEY_LOCAL_MACHINE}) {
    const plat::regtext::Document doc = plat::regtext::Parse(plat::DumpRegistry(root, false));
    if (!doc.problems.empty())
      Fail("a hive does not parse: line " + std::to_string(doc.problems[0].line) + ": " + doc.problems[0].what);
  }
}

// The user model saves a user for each user page the history can go back
// to: never more than the history holds, none once it is empty.
void TMonkey::CheckHistory(CQuorelAppUi* pApp) {
  const size_t depth = pApp->HistorySize();
  if (depth > std::size(kAppViews)) Fail("history depth " + std::to_string(depth));
  const CHTTPUserModel* pModel = AppSettings::GetUserModel();
  const size_t users = pModel ? pModel->HistoryDepth() : 0;
  if (users > depth || (depth == 0 && users != 0))
    Fail("the user model holds " + std::to_string(users) + " saved users for a history " + std::to_string(depth) +
         " deep");
}

namespace {
CBasicMenuEx* ToolkitMenu() {
  COptionsMenuGUI* pScreen = ToolkitServices().Screen();
  return pScreen ? pScreen->GetMenu() : nullptr;
}
}  // namespace

void TMonkey::CloseKey(uint32_t vk) {
  const CAppUi* pApp = CAppUi::Instance();
  CBasicMenuEx* pMenu = ToolkitMenu();
  if ((vk == plat::VK_ESCAPE || vk == plat::VK_F2) && pApp && pApp->IsMenuMode() && pMenu &&
      pMenu->GetState() == CVyMenu::kStateOpen && !m_menuCloseAsked)
    m_menuCloseAsked = plat::GetTickCount();
  m_tp->Key(vk);
}

// Menu mode hands every tap and key to the toolkit's menu: that menu is on
// the screen, it comes to rest or goes, and a closing key closes it.
void TMonkey::CheckOptionsMenu(CQuorelAppUi* pApp) {
  if (!pApp->IsMenuMode()) {
    m_menuMovingSince.reset();
    m_menuCloseAsked.reset();
    return;
  }
  CBasicMenuEx* pMenu = ToolkitMenu();
  if (!pMenu || !pMenu->GetParent()) {
    Fail("menu mode is on with no options menu on the screen");
    return;
  }
  const uint32_t now = plat::GetTickCount();
  if (pMenu->GetState() == CVyMenu::kStateOpen)
    m_menuMovingSince.reset();
  else if (!m_menuMovingSince)
    m_menuMovingSince = now;
  if (m_menuMovingSince && now - *m_menuMovingSince > kMenuSettleMs)
    Fail("the options menu has been sliding for " + std::to_string((now - *m_menuMovingSince) / 1000) +
         " s (state " + std::to_string(pMenu->GetState()) + ")");
  if (m_menuCloseAsked && now - *m_menuCloseAsked > kMenuSettleMs)
    Fail("the options menu is still open " + std::to_string((now - *m_menuCloseAsked) / 1000) +
         " s after Back or the right soft key");
}

void TMonkey::CheckInvariants() {
  const std::vector<plat::MessageBoxRecord> boxes = m_tp->MessageBoxes();
  for (; m_nBoxesSeen < boxes.size(); ++m_nBoxesSeen) {
    const plat::MessageBoxRecord& box = boxes[m_nBoxesSeen];
    Fail("message box \"" + plat::ToUtf8(box.caption) + "\": " + plat::ToUtf8(box.text));
  }
  auto* pApp = static_cast<CQuorelAppUi*>(CAppUi::Instance());
  if (!pApp) return;
  const int32_t nView = pApp->GetActiveViewId();
  ++m_result.viewsSeen[nView];
  if (std::find(std::begin(kAppViews), std::end(kAppViews), nView) == std::end(kAppViews))
    Fail("active view " + std::to_string(nView) + " is none of the program's");
  CheckHistory(pApp);
  CheckOptionsMenu(pApp);
  // A message still open a step later is on screen, where a key or a tap
  // can close it (a rectangle comes one turn after it opens), or lies under
  // a newer dialog that holds its node and hands it back when it closes.
  std::vector<const CMessageDialog*> open;
  CLayoutNode* pRoot = pApp->GetRootLayout();
  for (const CMessageDialog* p : CMessageDialog::OpenDialogs()) {
    const RECT rc = p->ScreenRect();
    const CLayoutNode* pNode = pRoot ? pRoot->FindNode(p->NodeId(), -1) : nullptr;
    const auto* pOver = pNode ? dynamic_cast<const CModalDialog*>(pNode->GetObserver()) : nullptr;
    const bool bCovered = pOver && pOver->DialogLayer() > p->DialogLayer();
    const bool bPlaced = rc.right > rc.left && rc.bottom > rc.top;
    if (!bPlaced && !bCovered && std::find(m_openDialogs.begin(), m_openDialogs.end(), p) != m_openDialogs.end())
      Fail("a message is open with no place on the screen: " + plat::ToUtf8(p->Text()));
    open.push_back(p);
  }
  m_openDialogs = std::move(open);
  const uint32_t spent = plat::GetTickCount() - m_stepStart;
  if (!m_waitUntil && spent > m_options.stepLimitMs)
    Fail("the step took " + std::to_string(spent) + " ms of virtual time before the loop was idle");
  // Long quiet with the network up: every request has ended.
  const uint32_t quiet = plat::GetTickCount() - m_quietSince;
  CHTTPSession* pSession = CQuorelAppUi::HTTPSession();
  if (pSession && m_bNetworkUp && quiet > 120000 && pSession->OpenCount() != 0 && !CQuorelAppUi::Recorder())
    Fail(std::to_string(pSession->OpenCount()) + " requests still open after " + std::to_string(quiet / 1000) +
         " quiet seconds");
  CheckStore();
  CheckHives();
}

bool TMonkey::Idle() {
  m_progress.fetch_add(1, std::memory_order_relaxed);
  m_lastIdleTick.store(plat::GetTickCount());
  if (m_waitUntil) {
    if (static_cast<int32_t>(plat::GetTickCount() - *m_waitUntil) < 0) return false;
    m_waitUntil.reset();
  }
  CheckInvariants();
  if (!m_result.failure.empty() || m_result.stepsRun >= m_options.steps || m_bStormDone) {
    if (!m_bStop) {
      // Taken while the program still runs, as the warm-up figures are.
      if (m_options.warmUpSteps > 0) {
        plat::headless_audio::ClearCaptures();
        m_result.end = SampleResources();
      }
      m_bStop = true;
      plat::PostQuitMessage(0);
    }
    return true;
  }
  if (m_options.warmUpSteps > 0 && m_result.stepsRun == m_options.warmUpSteps) {
    plat::headless_audio::ClearCaptures();
    m_result.warm = SampleResources();
  }
  if (m_options.sampleEvery > 0 && m_result.stepsRun % m_options.sampleEvery == 0) PrintSample();
  if (m_options.stormCycles > 0) {
    StormTurn();
    ++m_result.stepsRun;
    return true;
  }
  // The captured debug output and sound would grow with the run (records
  // of the test device, not the program's).
  if (m_result.stepsRun % 256 == 0) {
    m_tp->ClearDebugLines();
    plat::headless_audio::ClearCaptures();
  }
  Step();
  ++m_result.stepsRun;
  return true;
}

void TMonkey::Run() {
  const auto realStart = std::chrono::steady_clock::now();
  plat::TestConfig config;
  config.virtualClock = true;
  // MONKEY_ECHO=1 shows the program's debug output while it runs.
  config.echoDebugOutput = std::getenv("MONKEY_ECHO") != nullptr;
  m_tp = std::make_unique<plat::TestPlatform>(config);
  const uint32_t startTick = plat::GetTickCount();
  qps::Options serverOptions = qpstest::TestOptions();
  serverOptions.strictRequests = false;
  m_server = std::make_unique<qpstest::ServerHarness>(serverOptions);
  // The server is in this process and answers at once; a short quiet stretch
  // lets virtual time move on sooner while a reply is outstanding.
  plat::SetReactorQuietMs(m_options.reactorQuietMs);
  // Its stalls, delays and dribbles are in real time and meant to end in the
  // program's time-outs, which any step may meet: paced, a dribbled preview
  // would hold a step for real minutes.
  plat::SetReactorPaceMarginMs(plat::kReactorUnpaced);

  // The program folder is the build's, with every pack and language module.
  plat::FileSystemConfig files = plat::CurrentFileSystemConfig();
  files.programFolder = QUOREL_PACK_DIR;
  files.programMount = u"\\Program Files\\Quorel";
  plat::ConfigureFileSystem(files);
  plat::ModuleHandle hMain = plat::LoadLibrary(u"\\Program Files\\Quorel\\Quorel.res");
  if (!hMain) {
    Fail("the program's pack does not load from " + std::string(QUOREL_PACK_DIR));
    return;
  }
  plat::SetMainModule(hMain);

  // The phone: Wi-Fi through the simulated connection manager, the server in
  // every URL, the tone on the microphone.
  m_connMgr = std::make_unique<plat::SimConnMgr>();
  plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0);
  RegOpenAppKey();
  const plat::WString base = plat::Widen(m_server->Base());
  for (const char16_t* name : {u"url", u"singurl", u"graburl"}) RegSetAppString(name, base);
  RegCloseAppKey();
  CHTTPSession::SetIdentitySource([] { return plat::Widen(qpstest::kUserAgent); });
  plat::MicSource mic;
  mic.script.push_back(plat::MicSegment::Wav(WriteTone(m_tp->DeviceRoot().parent_path())));
  mic.loop = true;
  m_tp->SetMicrophone(mic);

  // A loop that never reaches idle again is a hang the virtual clock cannot
  // see: a watchdog on the real clock ends the run with the steps so far.
  std::mutex lock;
  std::condition_variable done;
  bool bDone = false;
  // MONKEY_HANG_ABORT=1 aborts as soon as a step overruns its virtual time,
  // so that a debugger sees every thread where it is stuck.
  const bool bAbortAtOnce = std::getenv("MONKEY_HANG_ABORT") != nullptr;
  std::thread watchdog([&] {
    int last = -1;
    std::unique_lock<std::mutex> guard(lock);
    auto lastCheck = std::chrono::steady_clock::now();
    const auto every = bAbortAtOnce ? std::chrono::milliseconds(5) : support::kHangLimit;
    while (!done.wait_for(guard, every, [&] { return bDone; })) {
      if (bAbortAtOnce && m_lastIdleTick.load() != 0 &&
          plat::GetTickCount() - m_lastIdleTick.load() > m_options.stepLimitMs) {
        std::fprintf(stderr, "monkey: a step overran its virtual time\n");
        std::abort();
      }
      if (std::chrono::steady_clock::now() - lastCheck < support::kHangLimit) continue;
      lastCheck = std::chrono::steady_clock::now();
      const int now = m_progress.load();
      if (now == last) {
        std::fprintf(stderr, "%s", m_result.Report(m_options.seed).c_str());
        std::fprintf(stderr, "monkey: the loop has not been idle for %lld s of real time\n",
                     static_cast<long long>(support::kHangLimit.count() / 1000));
        std::abort();
      }
      last = now;
    }
  });

  m_tp->SetIdleHook([this] { return Idle(); });
  // The program ends on its own now and then (F4, Back on the start
  // screen, an accepted update): the phone starts it again.
  while (m_result.failure.empty() && !m_bStop) {
    ++m_result.starts;
    m_bNetworkUp = true;
    m_connMgr->RestoreNetwork();
    m_nBoxesSeen = m_tp->MessageBoxes().size();
    m_quietSince = plat::GetTickCount();
    const int nExit = WinMain(hMain, nullptr, u"", plat::SW_SHOW);
    if (nExit != 0) Fail("the program ended with " + std::to_string(nExit));
    if (plat::OpenWaveDeviceCount() != 0) Fail("a sound device outlived the program");
    if (m_result.stepsRun == 0) Fail("the program never reached its loop");
  }
  m_tp->SetIdleHook({});
  {
    std::lock_guard<std::mutex> guard(lock);
    bDone = true;
  }
  done.notify_all();
  watchdog.join();
  if (m_result.end.rssKb == 0) m_result.end = SampleResources();
  m_result.virtualMs = plat::GetTickCount() - startTick;
  CHTTPSession::SetIdentitySource(nullptr);
  plat::SetMainModule(nullptr);
  plat::FreeLibrary(hMain);
  m_connMgr.reset();
  m_server.reset();
  plat::SetReactorQuietMs(100);
  plat::SetReactorPaceMarginMs(5000);
  m_tp.reset();
  m_result.realSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - realStart).count();
}

}  // namespace

TResources SampleResources() { return support::SampleProcessFigures(); }

std::string TMonkeyResult::Report(uint64_t seed) const {
  std::ostringstream out;
  out << "monkey seed " << seed << " (replay: MONKEY_SEED=" << seed << " MONKEY_STEPS=" << stepsRun << "): "
      << (failure.empty() ? "every invariant held" : failure) << "\n";
  out << stepsRun << " steps, " << starts << " starts, " << virtualMs / 1000 << " s virtual, " << realSeconds
      << " s real; screens seen:";
  for (const auto& [view, steps] : viewsSeen) out << " " << view << " (" << steps << ")";
  out << "\n";
  // MONKEY_TRACE=1 shows the last steps of a run that passed too.
  if (!failure.empty() || std::getenv("MONKEY_TRACE"))
    for (const std::string& s : lastSteps) out << "  " << s << "\n";
  return out.str();
}

TMonkeyResult RunMonkey(const TMonkeyOptions& options) {
  TMonkeyResult result;
  TMonkey(options, result).Run();
  return result;
}

}  // namespace monkey
