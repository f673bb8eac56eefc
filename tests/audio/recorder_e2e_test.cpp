// A recording against the local protocol test server over real loopback, on
// the real clock: the headless microphone plays a tone at a catalogue
// track's pitch, streamed while recording (through a relay that shows how
// much went up before the last frame) and counted through the proxy
// setting; the server's log judges the upload and the reply ranks the track.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "AudioTestUtil.h"
#include "RecorderHarness.h"
#include "protocol/SearchResults.h"
#include "tests/support/Waits.h"
#include "tools/protocol-server/TestSupport.h"

namespace audiotest {
namespace {

class RecorderEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    RegOpenAppKey();
    RegSetAppString(u"url", u"http://127.0.0.1/");
    plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0);
    // 7 s at 440 Hz (the catalogue's t4), as a WAV file the microphone plays.
    std::vector<int16_t> tone(7 * 8000);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * 440 * i / 8000.0));
    std::vector<uint8_t> pcm(reinterpret_cast<uint8_t*>(tone.data()), reinterpret_cast<uint8_t*>(tone.data()) + tone.size() * 2);
    m_wav = m_tp.DeviceRoot() / "tone.wav";
    std::filesystem::create_directories(m_tp.DeviceRoot());
    ASSERT_TRUE(plat::WriteWavFile(m_wav, plat::PcmFormat(8000, 1), pcm));
    ASSERT_TRUE(m_resolver.Start());
    m_core = std::make_unique<CHTTPCore>();
    ASSERT_TRUE(m_core->StartThread());
    TAudioServices services;
    services.httpCore = [this] { return m_core.get(); };
    services.audioBuffer = [this] { return m_buffer.get(); };
    services.searchMode = [] { return ESearchGrab; };
    services.maxSearchSeconds = [] { return kSeconds; };
    InstallAudioServices(std::move(services));
    CHTTPSession::SetIdentitySource([] { return plat::FromUtf8(qpstest::kUserAgent); });
    m_states.Subscribe();
  }
  void TearDown() override {
    InstallAudioServices({});
    CHTTPSession::SetIdentitySource({});
    m_core.reset();
    m_resolver.Stop();
    RegCloseAppKey();
  }

  // One recording; returns the reply's text. Streamed, it goes through the
  // relay, and the microphone's last header waits until the relay has
  // carried kStreamedMs of the sound up to the server: a recorder that kept
  // its upload for the end would never get there, and one that streams gets
  // there however slowly it runs.
  std::string Record(bool streamed) {
    m_states.codes.clear();
    m_streamedBeforeLastFrameMs = 0;
    m_tp.SetMicrophone({{plat::MicSegment::Wav(m_wav)}});
    if (streamed) plat::headless_audio::HoldHeader(kSeconds * CRecorder::kBytesPerSecond / CRecorder::kBufferBytes - 1);
    bool held = streamed;
    std::string url = (streamed ? m_relay.Base() : m_server.Base()) + "/v2/?method=search&type=singing&lang=all";
    CRecorder recorder;
    EXPECT_EQ(recorder.Start(plat::FromUtf8(url)), 0);
    std::string reply;
    const auto giveUp = std::chrono::steady_clock::now() + support::kHangLimit;
    while (reply.empty() && std::chrono::steady_clock::now() < giveUp) {
      if (held && (m_streamedBeforeLastFrameMs = ForwardedSoundMs()) >= kStreamedMs) {
        plat::headless_audio::ReleaseHeader();
        held = false;
      }
      m_app.RunAll();
      if (std::count(m_states.codes.begin(), m_states.codes.end(), 4)) {
        CHTTPSink* pSink = nullptr;
        recorder.TakeResponse(&pSink);
        if (pSink && pSink->GetData()) reply.assign(pSink->GetData(), static_cast<size_t>(pSink->GetLength()));
        DisposeOwnedSink(pSink);
        break;
      }
      if (std::count(m_states.codes.begin(), m_states.codes.end(), 8)) break;
      plat::WaitForSingleObject(m_tick, 10);  // real time: the microphone paces the test
    }
    plat::headless_audio::ReleaseHeader();
    recorder.Stop();
    return reply;
  }

  // The sound in the records of the whole chunks the relay has carried up.
  int ForwardedSoundMs() {
    std::string up = m_relay.Forwarded();
    size_t pos = up.find("\r\n\r\n");
    if (pos == std::string::npos) return 0;
    size_t body = 0;
    for (pos += 4;;) {
      size_t end = up.find("\r\n", pos);
      if (end == std::string::npos) break;
      size_t size = std::strtoul(up.c_str() + pos, nullptr, 16);
      if (size == 0 || end + 2 + size > up.size()) break;
      body += size;
      pos = end + 2 + size + 2;
    }
    size_t records = body > kHeaderBytes ? (body - kHeaderBytes) / kRecordBytes : 0;
    return static_cast<int>(records * 20);
  }

  void ExpectUploadJudgedGood(bool streamed) {
    std::string log = m_server.LastLog();
    std::string upload = qpstest::JsonField(log, "upload");
    size_t frames = m_tp.MicrophoneDelivered().size() / 320;
    EXPECT_EQ(qpstest::JsonField(upload, "valid"), "true") << log;
    EXPECT_EQ(qpstest::JsonField(upload, "header_ok"), "true");
    EXPECT_EQ(qpstest::JsonField(upload, "frames"), std::to_string(frames));
    EXPECT_EQ(qpstest::JsonField(upload, "lengths"), "{\"38\":" + std::to_string(frames) + "}");
    EXPECT_NEAR(std::stod(qpstest::JsonField(upload, "frequency_hz")), 440, 10);
    EXPECT_EQ(qpstest::JsonField(log, "framing"), streamed ? "\"chunked\"" : "\"counted\"");
    // Most of the six seconds had gone up before the last frame was captured,
    // not in one burst at the end.
    if (streamed) {
      EXPECT_GE(m_streamedBeforeLastFrameMs, kStreamedMs);
    }
  }

  void BringNetworkUp() {
    bool bCancelled = false;
    plat::Handle hCancel = plat::CreateEvent(true, false);
    ASSERT_TRUE(m_core->EstablishNetwork(hCancel, &bCancelled));
    plat::CloseHandle(hCancel);
  }

  static void ExpectTrackFirst(const std::string& reply) {
    ASSERT_FALSE(reply.empty());
    CSearchResults results;
    ASSERT_TRUE(results.LoadBuffer(reply.data(), reply.size()));
    ASSERT_GT(results.RecordingCount(), 0);
    EXPECT_EQ(results.TrackId(0), u"t4");
  }

  static constexpr int kSeconds = 6;
  static constexpr int kStreamedMs = 4500;
  // The stream header, then one {length, 38-byte frame} record per 20 ms.
  static constexpr size_t kHeaderBytes = CRecorder::kSpeexHeaderBytes;
  static constexpr size_t kRecordBytes = 40;

  plat::TestPlatform m_tp{[] {
    plat::TestConfig c;
    c.virtualClock = false;
    return c;
  }()};
  nettest::TTestApp m_app;
  plat::SimConnMgr m_connMgr;
  CDNSResolver m_resolver;
  std::unique_ptr<CHTTPCore> m_core;
  std::unique_ptr<uint8_t[]> m_buffer{new uint8_t[kSharedAudioBufferSize]};
  // The upload pauses while the last frame is held for the test to look, so
  // the server's wait for the next byte only bounds a hang.
  qpstest::ServerHarness m_server{[] {
    qps::Options o = qpstest::TestOptions();
    o.ioTimeout = qpstest::kHangSeconds;
    return o;
  }()};
  qpstest::Relay m_relay{m_server.Port()};
  int m_streamedBeforeLastFrameMs = 0;
  TStateLog m_states;
  std::filesystem::path m_wav;
  plat::Handle m_tick = plat::CreateEvent(false, false);
  ~RecorderEndToEnd() override { plat::CloseHandle(m_tick); }
};

TEST_F(RecorderEndToEnd, StreamedWhileRecording) {
  BringNetworkUp();
  ASSERT_FALSE(m_core->IsProxiedOrOffline());
  std::string reply = Record(true);
  EXPECT_EQ(m_states.codes, (std::vector<int32_t>{6, 1, 2, 3, 4}));
  ExpectUploadJudgedGood(true);
  ExpectTrackFirst(reply);
}

TEST_F(RecorderEndToEnd, CountedThroughTheProxySetting) {
  RegSetAppString(u"proxy", plat::FromUtf8(m_server.Authority()));
  BringNetworkUp();
  ASSERT_TRUE(m_core->IsProxiedOrOffline());
  std::string reply = Record(false);
  EXPECT_EQ(m_states.codes, (std::vector<int32_t>{1, 2, 6, 3, 4}));
  ExpectUploadJudgedGood(false);
  ExpectTrackFirst(reply);
}

}  // namespace
}  // namespace audiotest
