// The recorder and its upload on the simulated network, in virtual time:
// capture limits and level, the body's bytes in both modes, the order of the
// state codes, and the faults.
#include <algorithm>

#include "RecorderHarness.h"
#include "protocol/AppSettings.h"

namespace audiotest {
namespace {

// The 80-byte stream header, spelled out.
std::string ExpectedHeader() {
  const uint8_t fields[] = {
      0x01, 0, 0, 0, 0x50, 0, 0, 0, 0x40, 0x1F, 0, 0, 0, 0, 0, 0,  // version id, size, rate, mode
      0x04, 0, 0, 0, 0x01, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF,          // bitstream, channels, bit rate
      0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  };
  std::string h = "Speex   1.2beta3";
  h.append(12, '\0');
  h.append(reinterpret_cast<const char*>(fields), sizeof fields);
  return h;
}

class UploadTest : public RecorderTest {
 protected:
  // Records, then checks the body against what the microphone delivered.
  void ExpectBody(const std::string& body, bool counted) {
    std::vector<uint8_t> pcm = Delivered();
    size_t records = pcm.size() / 320;
    ASSERT_EQ(body.size(), 80 + records * 40 + (counted ? 40 : 0));
    EXPECT_EQ(body.substr(0, 80), ExpectedHeader());
    std::string frames = body.substr(80, records * 40);
    for (size_t i = 0; i < records; ++i) {
      ASSERT_EQ(frames[i * 40], 0x00);
      ASSERT_EQ(frames[i * 40 + 1], 0x26);  // 38 bytes each
    }
    EXPECT_TRUE(frames == ReferenceFrames(pcm)) << "frames differ from a direct encode";
    if (counted) {
      EXPECT_EQ(body.substr(80 + records * 40), std::string(40, '\0'));
    }
  }

  std::string TakeBody(CRecorder& recorder) {
    CHTTPSink* pSink = nullptr;
    recorder.TakeResponse(&pSink);
    std::string body;
    if (pSink && pSink->GetData()) body.assign(pSink->GetData(), static_cast<size_t>(pSink->GetLength()));
    DisposeOwnedSink(pSink);
    return body;
  }
};

TEST_F(UploadTest, StreamsThirtySecondsOfSingingWhileRecording) {
  BringNetworkUp();
  ASSERT_FALSE(m_core->IsProxiedOrOffline());
  CRecorder recorder;
  ASSERT_EQ(recorder.Start(kUrl), 0);
  ASSERT_TRUE(RunUntilCode(4));
  EXPECT_EQ(m_states.codes, (std::vector<int32_t>{6, 1, 2, 3, 4}));
  EXPECT_EQ(BuffersDelivered(), 120u);
  EXPECT_EQ(recorder.GetElapsed(), 3000);

  auto upload = Upload(0);
  ASSERT_TRUE(upload && upload->complete);
  std::string head = upload->Head();
  EXPECT_EQ(head.rfind("POST /search?s=1 HTTP/1.1\r\n", 0), 0u);
  for (const char* line : {"\r\nContent-Type: binary/octet-stream\r\n", "\r\nAccept-Encoding: gzip\r\n",
                           "\r\nTransfer-Encoding: chunked\r\n", "\r\nUser-Agent: Quorel/1.0 (Test Handset; 1.0)\r\n"}) {
    EXPECT_NE(head.find(line), std::string::npos) << line;
  }
  std::vector<size_t> chunks;
  std::string body = upload->Body(&chunks);
  ASSERT_GE(chunks.size(), 3u);
  EXPECT_EQ(chunks.front(), 80u);
  EXPECT_EQ(chunks.back(), 0u);
  // Streamed while recording: many pieces of whatever was encoded by then
  // (the body is checked as a whole, so no alignment of records to chunks
  // is assumed).
  EXPECT_GT(chunks.size(), 20u);
  ExpectBody(body, false);
  EXPECT_EQ(body.size(), 80u + 1500 * 40);  // every frame encoded

  EXPECT_EQ(recorder.GetResponseStatus(), 200);
  EXPECT_EQ(TakeBody(recorder), kReplyXml);
  EXPECT_EQ(recorder.GetResponseStatus(), 0);
  recorder.Stop();
}

TEST_F(UploadTest, CountedWhenOfflineOrProxied) {
  struct Case {
    const char* name;
    bool proxied;
  };
  m_nMode = ESearchGrab;
  m_maxSeconds = [] { return 5; };
  std::vector<std::shared_ptr<TUpload>> viaProxy;
  const uint32_t proxyIp = plat::Ipv4(10, 9, 9, 9);
  m_net->AddHost("proxy.test", proxyIp);
  Serve(viaProxy, proxyIp, 3128);
  for (const Case& c : {Case{"not connected at start", false}, Case{"through a proxy", true}}) {
    SCOPED_TRACE(c.name);
    m_states.codes.clear();
    if (c.proxied) {
      RegSetAppString(u"proxy", u"proxy.test:3128");
      BringNetworkUp();
    }
    ASSERT_TRUE(m_core->IsProxiedOrOffline());
    CRecorder recorder;
    TPartCounter parts(&recorder);
    int32_t id = NextConnectionId();
    ASSERT_EQ(recorder.Start(kUrl), 0);
    // Counted: the request has not started yet, so no event is missed.
    ASSERT_EQ(m_core->SetListener(id, &parts), 0);
    ASSERT_TRUE(RunUntilCode(4));
    EXPECT_EQ(m_states.codes, (std::vector<int32_t>{1, 2, 6, 3, 4}));
    // After the head: the stream header, all frames, the end.
    EXPECT_EQ(parts.nPartsSent.load(), 3);
    std::shared_ptr<TUpload> upload;
    {
      std::lock_guard<std::mutex> guard(m_serverLock);
      upload = c.proxied ? viaProxy.at(0) : m_uploads.at(0);
    }
    std::string head = upload->Head();
    if (c.proxied) {
      EXPECT_EQ(head.rfind("POST http://server.test:8080/search?s=1 HTTP/1.1\r\n", 0), 0u);
    }
    size_t records = Delivered().size() / 320;
    EXPECT_NE(head.find("\r\nContent-Length: " + std::to_string(80 + records * 40 + 40) + "\r\n"), std::string::npos);
    ExpectBody(upload->Body(), true);
    EXPECT_EQ(TakeBody(recorder), kReplyXml);
    recorder.Stop();
  }
}

TEST_F(RecorderTest, CaptureLimits) {
  struct Case {
    const char* name;
    int32_t mode;
    std::optional<uint32_t> setting;  // "maximum_search_length"
    bool seam;                        // the seam gives 40 s, past the area
    size_t buffers;
  };
  const Case cases[] = {
      {"Grab absent", ESearchGrab, std::nullopt, false, 120},  // first: nothing stored yet
      {"Sing", ESearchSing, 10, false, 120},   {"Grab 10", ESearchGrab, 10, false, 40},
      {"Grab 0", ESearchGrab, 0, false, 120},  {"Grab 3", ESearchGrab, 3, false, 20},
      {"Grab 45", ESearchGrab, 45, false, 120}, {"area", ESearchGrab, std::nullopt, true, 131},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_states.codes.clear();
    m_nMode = c.mode;
    if (c.setting) RegSetAppDword(kMaximumSearchLength, *c.setting);
    m_maxSeconds = c.seam ? std::function<int32_t()>([] { return 40; }) : [] { return MaxSearchLengthSeconds(); };
    size_t buffersAtOne = 0;
    m_states.onCode = [&](int32_t code) {
      if (code == 1) buffersAtOne = BuffersDelivered();
    };
    CRecorder recorder;
    ASSERT_EQ(recorder.Start(kUrl), 0);
    ASSERT_TRUE(RunUntilCode(4));
    EXPECT_EQ(BuffersDelivered(), c.buffers);
    EXPECT_EQ(buffersAtOne, c.buffers);  // 1 once the last came back
    EXPECT_EQ(recorder.GetElapsed(), static_cast<int32_t>(c.buffers * 25));
    recorder.Stop();
    m_states.onCode = nullptr;
  }
}

TEST_F(RecorderTest, StopRequestEndsCaptureOnceTheQueuedBuffersAreBack) {
  CRecorder recorder;
  ASSERT_EQ(recorder.Start(kUrl), 0);
  RunMs(1100);
  recorder.RequestStop();
  ASSERT_TRUE(RunUntilCode(1));
  EXPECT_EQ(recorder.GetElapsed(), 200);
  ASSERT_TRUE(RunUntilCode(4));
  EXPECT_EQ(m_states.codes, (std::vector<int32_t>{1, 2, 6, 3, 4}));
  recorder.Stop();
}

TEST_F(RecorderTest, Level) {
  struct Case {
    const char* name;
    plat::MicSegment first;  // the first buffer; silence after it
    std::vector<int32_t> levels;  // after buffers 1, 2, 3
  };
  using plat::MicSegment;
  const Case cases[] = {
      {"silence", MicSegment::Silence(250), {0, 0, 0}},
      {"one full-scale positive sample", MicSegment::Pulse(32767, 0, 250), {30576, 22932, 17199}},
      {"only negative samples", MicSegment::Constant(-32768, 250), {0, 0, 0}},
      {"peak 1", MicSegment::Constant(1, 250), {0, 0, 0}},
      {"peak 2", MicSegment::Constant(2, 250), {2184, 1638, 1228}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_tp.SetMicrophone({{c.first, MicSegment::Silence(0)}});
    CRecorder recorder;
    ASSERT_EQ(recorder.Start(kUrl), 0);
    std::vector<int32_t> levels;
    for (int i = 0; i < 3; ++i) {
      m_tp.Clock()->RunFor(i == 0 ? 255 : 250);  // just after each buffer
      levels.push_back(recorder.GetLevel());
    }
    EXPECT_EQ(levels, c.levels);
    recorder.Stop();
    m_app.RunAll();
  }
}

// A device returns a short buffer only at the end; the body still ends, and
// 2 and 3 come once, whatever the last buffer held.
TEST_F(UploadTest, ShortAndEmptyFinalBuffers) {
  m_nMode = ESearchGrab;
  m_maxSeconds = [] { return 5; };
  for (bool streaming : {true, false}) {
    for (uint32_t last : {1000u, 318u, 0u}) {
      SCOPED_TRACE(std::string(streaming ? "streaming, " : "counted, ") + std::to_string(last));
      m_states.codes.clear();
      if (streaming) BringNetworkUp();
      m_tp.SetMicrophoneShortCount(last, 19);
      CRecorder recorder;
      ASSERT_EQ(recorder.Start(kUrl), 0);
      ASSERT_TRUE(RunUntilCode(4, 30000));
      RunMs(500);
      EXPECT_EQ(m_states.codes, streaming ? (std::vector<int32_t>{6, 1, 2, 3, 4}) : (std::vector<int32_t>{1, 2, 6, 3, 4}));
      EXPECT_EQ(Delivered().size(), 19 * 4000 + last);
      std::shared_ptr<TUpload> upload;
      {
        std::lock_guard<std::mutex> guard(m_serverLock);
        upload = m_uploads.back();
      }
      ExpectBody(upload->Body(), !streaming);
      recorder.Stop();
      m_core->ReleaseNetwork();
    }
  }
}

TEST_F(RecorderTest, AFailedStartLeavesNothingBehind) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    const char16_t* url = kUrl;
  };
  std::vector<int32_t> busy;
  const Case cases[] = {
      {"no input device", [this] { m_tp.SetWaveDeviceCounts(0, std::nullopt); }},
      {"the device does not open", [this] { m_tp.FailNextWaveOpen(true, plat::MMSYSERR_NODRIVER); }},
      {"an empty URL", [] {}, u""},
      {"ten busy slots",
       [&] {
         for (int i = 0; i < CHTTPCore::kSlotCount; ++i) busy.push_back(m_core->Open(EHttpGet, kUrl));
       }},
      {"no audio buffer", [this] { m_bWithBuffer = false; }},
      {"no HTTP core", [this] { m_bWithCore = false; }},
  };
  size_t threads = ThreadCount();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.arrange();
    {
      CRecorder recorder;
      EXPECT_EQ(recorder.Start(c.url), -1);
      EXPECT_EQ(plat::OpenWaveDeviceCount(), 0u);
      EXPECT_EQ(ThreadCountSettled(threads), threads);
      EXPECT_EQ(recorder.Start(kUrl), -1);  // one start per recorder
      recorder.Stop();
      recorder.Stop();
    }
    RunMs(200);
    EXPECT_TRUE(m_states.codes.empty());
    for (int32_t id : busy) m_core->Close(id);
    busy.clear();
    m_tp.SetWaveDeviceCounts(std::nullopt, std::nullopt);
    m_bWithBuffer = m_bWithCore = true;
    // The device opens again.
    plat::HWaveIn h = nullptr;
    ASSERT_EQ(plat::waveInOpen(&h, 0, plat::PcmFormat(8000, 1), nullptr, 0), plat::MMSYSERR_NOERROR);
    plat::waveInClose(h);
  }
}

TEST_F(RecorderTest, StopAndDeleteInAnyState) {
  { CRecorder unstarted; }
  {
    CRecorder unstarted;
    unstarted.Stop();
    unstarted.Stop();
    CHTTPSink* pSink = reinterpret_cast<CHTTPSink*>(1);
    unstarted.TakeResponse(&pSink);
    EXPECT_EQ(pSink, nullptr);
    EXPECT_EQ(unstarted.GetResponseStatus(), 0);
  }
  {
    CRecorder running;
    ASSERT_EQ(running.Start(kUrl), 0);
    RunMs(600);
    running.Stop();
    running.Stop();
  }
  {
    CRecorder deletedWhileRunning;
    ASSERT_EQ(deletedWhileRunning.Start(kUrl), 0);
    RunMs(300);
  }
  EXPECT_EQ(plat::OpenWaveDeviceCount(), 0u);
  m_app.RunAll();
}

TEST_F(RecorderTest, AServerResetEndsCaptureWithOneError) {
  BringNetworkUp();
  SetAnswer([](plat::SimPeer& peer, TUpload& upload) {
    ReadUpload(peer, upload, 4);
    peer.Reset();
  });
  CRecorder recorder;
  ASSERT_EQ(recorder.Start(kUrl), 0);
  ASSERT_TRUE(RunUntilCode(8));
  RunMs(3000);
  EXPECT_EQ(m_states.codes, (std::vector<int32_t>{6, 8}));
  EXPECT_EQ(plat::OpenWaveDeviceCount(), 0u);  // capture ended
  EXPECT_LT(BuffersDelivered(), 12u);
  recorder.Stop();
  EXPECT_EQ(m_net->Connections().size(), 1u);
}

TEST_F(RecorderTest, AnEarlyReplyWhileCapturing) {
  BringNetworkUp();
  SetAnswer([](plat::SimPeer& peer, TUpload& upload) {
    ReadUpload(peer, upload, 3);
    peer.Write(GzipReply(kReplyXml));
    peer.WaitClientClosed(600000);
  });
  CRecorder recorder;
  int32_t status = -1;
  std::string reply;
  m_states.onCode = [&](int32_t code) {
    if (code != 4) return;
    status = recorder.GetResponseStatus();
    CHTTPSink* pSink = nullptr;
    recorder.TakeResponse(&pSink);
    if (pSink) reply.assign(pSink->GetData(), static_cast<size_t>(pSink->GetLength()));
    DisposeOwnedSink(pSink);
    recorder.Stop();
  };
  ASSERT_EQ(recorder.Start(kUrl), 0);
  ASSERT_TRUE(RunUntilCode(4));
  RunMs(1000);
  EXPECT_EQ(m_states.codes, (std::vector<int32_t>{6, 4}));
  EXPECT_EQ(status, 200);
  EXPECT_EQ(reply, kReplyXml);
  EXPECT_LT(BuffersDelivered(), 10u);
}

// A stopped recorder's state messages still in the queue fire nothing.
TEST_F(RecorderTest, StopWithdrawsQueuedStateMessages) {
  BringNetworkUp();
  CRecorder recorder;
  ASSERT_EQ(recorder.Start(kUrl), 0);
  m_tp.Clock()->RunFor(300);
  ASSERT_FALSE(m_app.queue.IsEmpty());  // 6 at least, not yet run
  recorder.Stop();
  m_app.RunAll();
  EXPECT_TRUE(m_states.codes.empty());
}

}  // namespace
}  // namespace audiotest
