#include "app/SearchRecorder.h"

#include "audio/Recorder.h"

namespace {

// The program's recorder: the audio subsystem's, which records from the
// first wave input device.
class CAudioSearchRecorder : public CSearchRecorder {
 public:
  int32_t Start(plat::WStringView url) override { return m_recorder.Start(url); }
  void RequestStop() override { m_recorder.RequestStop(); }
  void Stop() override { m_recorder.Stop(); }
  void TakeResponse(CHTTPSink*& pSink) override { m_recorder.TakeResponse(&pSink); }
  int32_t GetResponseStatus() override { return m_recorder.GetResponseStatus(); }
  int32_t GetLevel() override { return m_recorder.GetLevel(); }
  int32_t GetElapsed() override { return m_recorder.GetElapsed(); }

 private:
  CRecorder m_recorder;
};

TSearchRecorderFactory& Factory() {
  static TSearchRecorderFactory factory;
  return factory;
}

}  // namespace

void SetSearchRecorderFactory(TSearchRecorderFactory factory) { Factory() = std::move(factory); }

bool HasSearchRecorderFactory() { return static_cast<bool>(Factory()); }

std::unique_ptr<CSearchRecorder> NewSearchRecorder() { return Factory() ? Factory()() : nullptr; }

std::unique_ptr<CSearchRecorder> NewAudioSearchRecorder() { return std::make_unique<CAudioSearchRecorder>(); }
