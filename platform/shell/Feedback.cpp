// Vibration effects and touch sounds. There is no vibration motor: a request
// whose file exists is recorded, which is all the program can observe of it.
// Sounds are recorded too, and heard when the audio backend is audible.
#include <mutex>
#include <system_error>

#include "platform/audio/Audio.h"
#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"
#include "platform/shell/DeviceServices.h"
#include "platform/shell/ShellState.h"

namespace plat {
namespace {

// Effect paths come from a caller's buffer; a path longer than any the
// device accepts is cut here rather than read on without end.
constexpr size_t kMaxPathUnits = 260;

struct FeedbackState {
  std::mutex lock;
  std::vector<FeedbackEvent> events;
};

FeedbackState& State() {
  static FeedbackState* state = new FeedbackState;
  return *state;
}

// The host file a virtual path names, when it is a regular file.
std::optional<std::filesystem::path> ExistingFile(WStringView virtualPath) {
  if (virtualPath.empty()) return std::nullopt;
  std::optional<std::filesystem::path> host = HostPath(virtualPath);
  if (!host) return std::nullopt;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(*host, ec)) return std::nullopt;
  return host;
}

void Record(FeedbackEvent event) {
  FeedbackState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  // Every tap is recorded, for weeks: only the newest are kept (the older
  // half goes at once, so trimming is rare).
  if (s.events.size() >= kKeptFeedbackEvents)
    s.events.erase(s.events.begin(), s.events.begin() + kKeptFeedbackEvents / 2);
  s.events.push_back(std::move(event));
}

}  // namespace

void shell_detail::ResetFeedback() {
  FeedbackState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.events.clear();
}

bool NLedSetDevice(uint32_t id, const LedSettings& settings) {
  if (id != NLED_SETTINGS_INFO_ID) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  if (settings.LedNum != kVibrationLed) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const auto* text = reinterpret_cast<const WChar*>(settings.MetaCycleOn);
  WString path;
  if (text) {
    for (size_t i = 0; i < kMaxPathUnits && text[i] != 0; ++i) path.push_back(text[i]);
  }
  std::optional<std::filesystem::path> file = ExistingFile(path);
  if (!file) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  Record({FeedbackEvent::Kind::Vibration, path, *file, 0});
  return true;
}

bool PlaySound(WStringView name, ModuleHandle, uint32_t flags) {
  if (name.empty()) {
    Record({FeedbackEvent::Kind::SoundStop, WString(), {}, flags});
    PlayWavFile({});
    return true;
  }
  std::optional<std::filesystem::path> file = ExistingFile(name);
  if (!file) {
    WString inWindows = u"\\Windows\\";
    inWindows.append(name);
    file = ExistingFile(inWindows);
  }
  if (!file) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  Record({FeedbackEvent::Kind::Sound, WString(name), *file, flags});
  PlayWavFile(*file);
  return true;
}

std::vector<FeedbackEvent> FeedbackEvents() {
  FeedbackState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.events;
}

}  // namespace plat
