// The desktop's real sound devices through SDL: the default capture device
// as the microphone (SDL converts to the asked 8000 Hz mono) and the default
// playback device, a stream of its own per open.
//
// SDL's audio callback only moves samples between a ring and SDL; the wave
// device's dispatch thread moves them between the ring and the queued
// headers and reports completions. Captured samples wait in the ring (2 s)
// until a header is queued; what does not fit is counted and traced.
#pragma once

#include <memory>

#include "platform/audio/AudioBackend.h"

namespace plat {

// Starts SDL's audio subsystem and makes its backend; null (with a log
// line) when SDL's audio cannot start.
std::shared_ptr<IAudioBackend> MakeSdlAudioBackend();

enum class AudioChoice { Headless, Sdl };
// `forced` (the setting "AudioBackend": "sdl" or "headless") wins, else the
// audio follows the display.
AudioChoice ChooseAudioBackend(const char* forced, bool sdlDisplay);

}  // namespace plat
