#include "e2e/Road.h"

#include <cxxabi.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <typeinfo>

#include "app/QuorelAppUi.h"
#include "app/QuorelModalDialogs.h"
#include "framework/Control.h"
#include "platform/audio/Audio.h"
#include "platform/entry/Entry.h"
#include "platform/fs/FileSystem.h"
#include "platform/module/Module.h"
#include "platform/registry/Registry.h"
#include "platform/shell/Launch.h"
#include "protocol/PreviewStore.h"
#include "support/ProgramProcess.h"
#include "support/Waits.h"
#include "tools/protocol-server/TestSupport.h"

namespace e2e {

namespace {

constexpr char16_t kAppKey[] = u"SOFTWARE\\Orlamet\\Quorel";
constexpr char16_t kMainPack[] = u"\\Program Files\\Quorel\\Quorel.res";

std::string Hex4(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", v);
  return buf;
}

std::filesystem::path FreshFolder(const std::string& name) {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quorel-" + name + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  return mkdtemp(buf.data()) ? std::filesystem::path(buf.data()) : std::filesystem::path();
}

// How many of the journal's and the trace's last lines a report shows.
constexpr size_t kReportJournalLines = 12;
constexpr size_t kReportTraceLines = 20;

std::string TypeName(const CControl& control) {
  int status = 0;
  const char* mangled = typeid(control).name();
  char* name = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string out = status == 0 && name ? name : mangled;
  std::free(name);
  return out;
}

std::string RectText(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + ")";
}

}  // namespace

std::filesystem::path BinFolder() { return QUOREL_BIN_DIR; }

// ---------------------------------------------------------------------------
// The server process.

ServerProcess::~ServerProcess() { Stop(); }

bool ServerProcess::Start(const std::filesystem::path& folder, const std::vector<std::string>& options) {
  m_folder = folder;
  const std::filesystem::path portFile = folder / "server.port";
  std::vector<std::string> argv = {(BinFolder() / "quorel-protocol-server").string(),
                                   "--listen", "127.0.0.1:0", "--port-file", portFile.string(),
                                   "--log", (folder / "server.jsonl").string(), "--lifetime", "600"};
  argv.insert(argv.end(), options.begin(), options.end());
  m_pid = programtest::SpawnProgram(argv, folder / "unused-device", "headless", folder / "server.err");
  if (m_pid == 0) {
    m_error = "cannot start " + argv[0];
    return false;
  }
  // A process of its own: its port appears in real time (it checks its
  // catalogue first).
  std::string text;
  if (support::PollUntil([&] {
        text = programtest::ReadAll(portFile);
        return !text.empty() && text.back() == '\n';
      }, m_pid)) {
    m_port = std::stoi(text);
    return true;
  }
  m_error = "the server did not come up: " + programtest::ReadAll(folder / "server.err");
  if (support::ChildEnded(m_pid)) {
    waitpid(m_pid, nullptr, 0);
    m_pid = 0;
  }
  return false;
}

bool ServerProcess::Alive() const { return m_pid != 0 && !support::ChildEnded(m_pid); }

std::string ServerProcess::Control(const std::string& target) const {
  if (m_port == 0) return {};
  const std::string raw = qpstest::Fetch(
      m_port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_port) + "\r\nConnection: close\r\n\r\n");
  return qpstest::ParseResponse(raw).body;
}

std::vector<std::string> ServerProcess::Log() const {
  std::vector<std::string> entries;
  std::istringstream in(Control("/_ctl/log"));
  for (std::string line; std::getline(in, line);)
    if (line.rfind("{\"seq\"", 0) == 0) entries.push_back(line);
  return entries;
}

int ServerProcess::Stop() {
  if (m_pid == 0) return -1;
  Control("/_ctl/quit");
  if (!support::PollUntil([this] { return support::ChildEnded(m_pid); })) kill(m_pid, SIGKILL);
  int status = 0;
  waitpid(m_pid, &status, 0);
  m_pid = 0;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Field(const std::string& entry, const std::string& name) {
  std::string value = qpstest::JsonField(entry, name);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return value;
}

std::vector<std::string> Entries(const std::vector<std::string>& log, const std::string& route) {
  std::vector<std::string> out;
  for (const std::string& entry : log)
    if (Field(entry, "route") == route) out.push_back(entry);
  return out;
}

bool WriteToneWav(const std::filesystem::path& file, double seconds, uint32_t rate, double hz, double dbfs) {
  const double peak = 32767.0 * std::pow(10.0, dbfs / 20.0);
  const auto count = static_cast<size_t>(seconds * rate);
  std::vector<uint8_t> pcm(count * 2);
  for (size_t i = 0; i < count; ++i) {
    const auto v = static_cast<int16_t>(std::lround(peak * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate)));
    pcm[2 * i] = static_cast<uint8_t>(v & 0xff);
    pcm[2 * i + 1] = static_cast<uint8_t>((v >> 8) & 0xff);
  }
  return plat::WriteWavFile(file, plat::PcmFormat(rate, 1), pcm);
}

// ---------------------------------------------------------------------------
// The road.

Road::Road(RoadConfig config) : m_config(std::move(config)) {
  m_folder = FreshFolder("road");
  if (m_folder.empty()) {
    m_error = "cannot make a folder for the road";
    return;
  }
  m_wav = m_folder / "microphone.wav";
  if (!WriteToneWav(m_wav, m_config.micSeconds, 8000, m_config.micHz, m_config.micDbfs)) {
    m_error = "cannot write the microphone's WAV file";
    return;
  }
  std::vector<std::string> options = m_config.serverOptions;
  if (m_config.catalogue != "default") options.insert(options.end(), {"--catalogue", m_config.catalogue});
  if (!m_server.Start(m_folder, options)) {
    m_error = m_server.Error();
    return;
  }
  StartDevice();
}

Road::~Road() {
  m_tp.reset();
  m_server.Stop();
  std::error_code ignored;
  if (!m_folder.empty()) std::filesystem::remove_all(m_folder, ignored);
}

void Road::StartDevice() {
  const std::string base = m_server.Base();
  plat::TestConfig config;
  config.screenWidth = m_config.width;
  config.screenHeight = m_config.height;
  config.dpi = m_config.dpi;
  config.echoDebugOutput = m_config.echoDebugOutput;
  config.virtualClock = m_config.virtualClock;
  // As quorel-server-urls writes them; the switches stay absent.
  config.registrySeed =
      "[HKEY_CURRENT_USER\\SOFTWARE\\Orlamet\\Quorel]\n"
      "\"url\"=\"" + base + "\"\n"
      "\"singurl\"=\"" + base + "\"\n"
      "\"graburl\"=\"" + base + "\"\n"
      "\"terms_and_conditions_url\"=\"" + base + "/page/terms\"\n"
      "[HKEY_CURRENT_USER\\ControlPanel\\VibeTonz]\n"
      "\"TouchEvent\"=dword:00000001\n"
      "\"TouchVibeOn\"=dword:00000001\n"
      "\"TouchSoundOn\"=dword:00000001\n"
      "[HKEY_LOCAL_MACHINE\\Platform\\Linux]\n"
      "\"UILanguage\"=dword:" + Hex4(m_config.uiLanguage) + "\n"
      "[HKEY_LOCAL_MACHINE\\Ident]\n"
      "\"Name\"=\"" + std::string(m_config.theme == 1 ? "QT-M5180" : "Linux") + "\"\n";
  m_tp = std::make_unique<plat::TestPlatform>(config);

  // The program's folder is the build's bin folder (its packs and language
  // modules), with one storage card, as the program's own start sets it up.
  plat::FileSystemConfig files;
  files.deviceRoot = m_tp->DeviceRoot();
  files.programFolder = BinFolder();
  files.cards.push_back({u"Storage Card", m_tp->DeviceRoot() / "cards" / "Storage Card", false});
  std::filesystem::create_directories(m_tp->DeviceRoot() / "cards" / "Storage Card");
  if (!plat::ConfigureFileSystem(files)) {
    m_error = "cannot mount the program's folder";
    return;
  }
  // The phone's stock touch-feedback files, so feedback is recorded.
  const std::filesystem::path windows = m_tp->DeviceRoot() / "fs" / "Windows";
  std::filesystem::create_directories(windows);
  for (const char* name : {"press.ivt", "release.ivt", "itemSearch.ivt", "listEnd.ivt", "tap.ivt", "popup.ivt",
                           "button.ivt", "02_List Enter.wav", "26_Tap_touch.wav", "25_Tap_take off.wav",
                           "12_List Popup.wav", "09_Play,Pause.wav", "22_Cancel.wav", "23_Select.wav",
                           "13_Popup.wav", "03_Toolbar.wav"})
    std::ofstream(windows / name) << "stock";
  m_tp->SetMicrophone({{plat::MicSegment::Wav(m_wav)}});
  m_tp->SetAudioUnpaced(m_config.unpacedAudio);
  // Links are recorded, never opened.
  plat::SetLaunchRecordingOnly(true);
  plat::ClearLaunches();
}

void Road::Then(Step step) { m_steps.push_back({std::move(step), {}, {}, 0}); }

void Road::Until(std::string what, std::function<bool()> condition, uint32_t maxMs) {
  m_steps.push_back({{}, std::move(what), std::move(condition), maxMs});
}

void Road::Wait(uint32_t ms) {
  auto until = std::make_shared<uint32_t>(0);
  Then([until, ms] { *until = plat::GetTickCount() + ms; });
  Until("", [until] { return static_cast<int32_t>(plat::GetTickCount() - *until) >= 0; }, ms + 1000);
}

void Road::Journal(const std::string& line) {
  const auto realMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_runReal).count();
  m_journal.push_back("[" + std::to_string(plat::GetTickCount() - m_runTick) + " ms platform, " +
                      std::to_string(realMs) + " ms real] " + line);
}

// One line of what a user would notice changing: the view, the preview's
// state, the dialogs, the options menu.
void Road::JournalState() {
  CQuorelAppUi* pApp = App();
  if (!pApp) return;
  std::string state = "view " + std::to_string(pApp->GetActiveViewId()) + ", preview state " +
                      std::to_string(CQuorelAppUi::GetPreviewState()) + ", " +
                      std::to_string(CMessageDialog::OpenDialogs().size()) + " dialog(s), top layer " +
                      std::to_string(pApp->TopShownLayer()) + (pApp->IsMenuMode() ? ", options menu" : "");
  if (state == m_lastState) return;
  m_lastState = state;
  Journal(state);
}

std::string Road::Describe() const {
  std::string out;
  CQuorelAppUi* pApp = App();
  if (!pApp) return "  the program is not running\n";
  out += "  view " + std::to_string(pApp->GetActiveViewId()) + ", history";
  for (int32_t view : History()) out += " " + std::to_string(view);
  out += "; top shown layer " + std::to_string(pApp->TopShownLayer()) +
         (pApp->IsMenuMode() ? "; the options menu is open\n" : "\n");
  out += "  preview state " + std::to_string(CQuorelAppUi::GetPreviewState()) + ", " +
         std::to_string(CQuorelAppUi::GetPreviewPlayedSeconds()) + " s played of " +
         std::to_string(CQuorelAppUi::GetPreviewLength()) + "\n";
  const CControl* pHolder = CControl::CaptureHolder();
  out += "  pointer capture: " + (pHolder ? TypeName(*pHolder) + " at " + RectText(pHolder->ScreenRect()) : "none") + "\n";
  for (const CMessageDialog* pDialog : CMessageDialog::OpenDialogs())
    out += "  dialog of kind " + std::to_string(pDialog->Kind()) + " (buttons " + std::to_string(pDialog->LeftLabelId()) +
           "/" + std::to_string(pDialog->RightLabelId()) + "): \"" + plat::ToUtf8(pDialog->Text()) + "\"\n";
  for (const auto& box : m_tp->MessageBoxes()) out += "  message box: \"" + plat::ToUtf8(box.text) + "\"\n";
  const size_t firstJournal = m_journal.size() > kReportJournalLines ? m_journal.size() - kReportJournalLines : 0;
  out += "  the road's last steps:\n";
  for (size_t i = firstJournal; i < m_journal.size(); ++i) out += "    " + m_journal[i] + "\n";
  const std::vector<std::string> trace = m_tp->DebugLines();
  const size_t firstTrace = trace.size() > kReportTraceLines ? trace.size() - kReportTraceLines : 0;
  out += "  the program's last trace lines:\n";
  for (size_t i = firstTrace; i < trace.size(); ++i) {
    std::string line = trace[i];
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    out += "    " + line + "\n";
  }
  return out;
}

int Road::Run() {
  if (!Ready()) return -1;
  plat::ModuleHandle hModule = plat::LoadLibrary(kMainPack);
  if (!hModule) {
    m_error = "cannot load the main pack from " + BinFolder().string();
    return -1;
  }
  plat::SetMainModule(hModule);
  size_t next = 0;
  bool bQuit = false;
  uint32_t waitStart = 0;
  std::chrono::steady_clock::time_point realStart;
  bool bWaiting = false;
  m_runTick = plat::GetTickCount();
  m_runReal = std::chrono::steady_clock::now();
  m_tp->SetIdleHook([&] {
    const int32_t nView = ActiveView();
    if (nView != -1 && (m_viewsSeen.empty() || m_viewsSeen.back() != nView)) m_viewsSeen.push_back(nView);
    JournalState();
    while (next < m_steps.size()) {
      Pending& p = m_steps[next];
      if (p.until) {
        if (!bWaiting) {
          bWaiting = true;
          waitStart = plat::GetTickCount();
          realStart = std::chrono::steady_clock::now();
          if (!p.what.empty()) Journal("waits for " + p.what);
        }
        if (!p.until()) {
          // The server is a process of its own: while it works, virtual time
          // may run ahead, so a wait also lasts as long in real time, and a
          // named one, which only bounds a hang, at least two minutes while
          // the server lives (a busy machine, a sanitizer build).
          const bool bVirtualLeft = plat::GetTickCount() - waitStart < p.maxMs;
          const auto realSpent = std::chrono::steady_clock::now() - realStart;
          const bool bRealLeft = realSpent < std::chrono::milliseconds(p.maxMs) ||
                                 (!p.what.empty() && realSpent < support::kHangLimit && m_server.Alive());
          if (bVirtualLeft || bRealLeft) return false;  // let the loop block
          if (!p.what.empty()) {
            Journal("missed " + p.what);
            m_misses.push_back(p.what + ": not after " + std::to_string(plat::GetTickCount() - waitStart) +
                               " ms of platform time and " +
                               std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(realSpent).count()) +
                               " ms of real time; the screen held:\n" + Describe());
          }
        }
        bWaiting = false;
        ++next;
        continue;
      }
      ++next;
      p.step();
      if (m_config.abandon && m_config.abandon()) {
        Journal("a step failed: the rest of the road is skipped");
        next = m_steps.size();
      }
      return true;
    }
    if (!bQuit) {
      bQuit = true;
      if (CQuorelAppUi::App()) CQuorelAppUi::Exit();
      else plat::PostQuitMessage(0);
    }
    return true;
  });
  const int code = WinMain(hModule, nullptr, u"", 5);
  m_tp->SetIdleHook({});
  m_steps.clear();
  plat::SetMainModule(nullptr);
  plat::FreeLibrary(hModule);
  return code;
}

void Road::TapOn(CControl* pControl) {
  const RECT r = pControl->ScreenRect();
  Journal("taps " + TypeName(*pControl) + " at " + RectText(r));
  m_tp->Tap((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

CQuorelAppUi* Road::App() { return CQuorelAppUi::App(); }

int32_t Road::ActiveView() const { return App() ? App()->GetActiveViewId() : -1; }

std::vector<int32_t> Road::History() const { return App() ? App()->HistoryViews() : std::vector<int32_t>{}; }

std::vector<std::string> Road::StoreFiles() const {
  std::vector<std::string> names;
  ::PreviewStore* pStore = CQuorelAppUi::PreviewStore();
  if (!pStore) return names;
  plat::FindData entry;
  plat::Handle hFind = plat::FindFirstFile(pStore->Directory() + u"\\*", &entry);
  if (hFind == plat::INVALID_HANDLE_VALUE) return names;
  do {
    if ((entry.attributes & plat::FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(plat::ToUtf8(entry.name));
  } while (plat::FindNextFile(hFind, &entry));
  plat::FindClose(hFind);
  return names;
}

bool Road::Traced(const std::string& line) const {
  for (const std::string& l : m_tp->DebugLines())
    if (l == line) return true;
  return false;
}

std::optional<std::string> Road::AppString(const std::u16string& name) const {
  auto value = plat::ReadString(plat::HKEY_CURRENT_USER, kAppKey, name);
  if (!value) return std::nullopt;
  return plat::ToUtf8(*value);
}

}  // namespace e2e
