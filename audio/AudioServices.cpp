#include "audio/AudioServices.h"

#include <mutex>

#include "framework/Trace.h"

namespace {

constexpr int32_t kDefaultMaxSearchSeconds = 30;

std::mutex& ServicesLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

TAudioServices& Services() {
  static TAudioServices* services = new TAudioServices;
  return *services;
}

// A copy taken under the lock, so a call never races an installation.
template <class R>
R Call(std::function<R()> TAudioServices::*member, R fallback) {
  std::function<R()> f;
  {
    std::lock_guard<std::mutex> guard(ServicesLock());
    f = Services().*member;
  }
  return f ? f() : fallback;
}

}  // namespace

void InstallAudioServices(TAudioServices services) {
  std::lock_guard<std::mutex> guard(ServicesLock());
  Services() = std::move(services);
}

CHTTPCore* AudioHTTPCore() { return Call<CHTTPCore*>(&TAudioServices::httpCore, nullptr); }
uint8_t* SharedAudioBuffer() { return Call<uint8_t*>(&TAudioServices::audioBuffer, nullptr); }
int32_t AudioSearchMode() { return Call<int32_t>(&TAudioServices::searchMode, ESearchSing); }
int32_t AudioMaxSearchSeconds() { return Call<int32_t>(&TAudioServices::maxSearchSeconds, kDefaultMaxSearchSeconds); }
