// What the application and its screens ask of the recorder of a search: it
// records, uploads the recording as the search request, and reports its
// states as RecorderStateEvent (1 capture finished, 2 all encoded, 3 upload
// sent, 4 reply complete, 5 no network, 6 network up, 8 error).
//
// Contract the search flow relies on: a failed Start posts nothing; Stop is
// safe on a recorder never started or whose start failed, and withdraws the
// state messages it still has queued (a stale 4 would take the next
// recorder's reply); GetResponseStatus is read before TakeResponse.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "net/HTTPSink.h"
#include "platform/base/Strings.h"

class CSearchRecorder {
 public:
  virtual ~CSearchRecorder() = default;

  // Opens the search POST to `url` and starts recording: 0, or -1.
  virtual int32_t Start(plat::WStringView url) = 0;
  // Ends capture; encoding, upload and the reply go on.
  virtual void RequestStop() = 0;
  // Ends everything and closes the upload without taking its reply.
  virtual void Stop() = 0;
  // The reply's body sink (null when there is none); the caller owns it and
  // lets it go with DisposeOwnedSink.
  virtual void TakeResponse(CHTTPSink*& pSink) = 0;
  // The upload's HTTP status code, 0 when there is none.
  virtual int32_t GetResponseStatus() = 0;
  // The input level (0 to 30576) and the captured time in hundredths of a
  // second.
  virtual int32_t GetLevel() = 0;
  virtual int32_t GetElapsed() = 0;
};

// Makes the recorder of each new search; without a factory no search starts.
using TSearchRecorderFactory = std::function<std::unique_ptr<CSearchRecorder>()>;
// Whether a factory is installed.
bool HasSearchRecorderFactory();
void SetSearchRecorderFactory(TSearchRecorderFactory factory);
std::unique_ptr<CSearchRecorder> NewSearchRecorder();
// The program's factory: the audio subsystem's recorder.
std::unique_ptr<CSearchRecorder> NewAudioSearchRecorder();
