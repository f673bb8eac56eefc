// What the audio subsystem takes from the application object, which sits
// above it: the HTTP core, the shared audio buffer and the search settings.
// The application installs them at start-up; tests install their own. Until
// then the core and the buffer are null (a recorder or player cannot start),
// the search mode is Sing and the Grab limit 30 s.
#pragma once

#include <cstdint>
#include <functional>

class CHTTPCore;

// The one 512 KB block the recorder captures into and the sound core plays
// from; recording and playback never overlap.
inline constexpr uint32_t kSharedAudioBufferSize = 0x80000;

// The settings' search mode: singing (a fixed 30 s limit) or grabbing the
// music around the phone (the server's limit).
enum TSearchMode : int32_t { ESearchSing = 0, ESearchGrab = 1 };

struct TAudioServices {
  std::function<CHTTPCore*()> httpCore;
  // kSharedAudioBufferSize bytes, or null.
  std::function<uint8_t*()> audioBuffer;
  std::function<int32_t()> searchMode;
  // The longest Grab recording in seconds, as the settings give it.
  std::function<int32_t()> maxSearchSeconds;
};

// Installs the services (an empty function keeps the default); an empty
// set goes back to the defaults.
void InstallAudioServices(TAudioServices services);

CHTTPCore* AudioHTTPCore();
uint8_t* SharedAudioBuffer();
int32_t AudioSearchMode();
int32_t AudioMaxSearchSeconds();
