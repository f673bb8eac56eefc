// The Speex upload check: hand-built bodies in both framings, each header
// field wrong, the record and end rules, and a real encoder round trip.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tools/protocol-server/Speex.h"
#include "tools/protocol-server/TestSupport.h"

using namespace qpstest;
using qps::UploadBody;
using qps::ValidateUpload;

namespace {

// Frames the decoder accepts, made once by the real encoder.
const std::vector<std::string>& SomeFrames() {
  static const std::vector<std::string> frames = EncodeTone(440, 0.5);
  return frames;
}

UploadBody Counted(std::string bytes) {
  UploadBody b;
  b.framing = UploadBody::Framing::Counted;
  b.bytes = std::move(bytes);
  b.type = "singing";
  return b;
}

UploadBody Chunked(const std::vector<std::string>& chunks, bool terminated = true) {
  UploadBody b;
  b.framing = UploadBody::Framing::Chunked;
  for (const std::string& c : chunks) {
    b.bytes += c;
    b.chunks.push_back({c.size(), 0});
  }
  b.terminated = terminated;
  b.type = "singing";
  return b;
}

bool HasViolation(const qps::UploadReport& r, const std::string& part) {
  for (const std::string& v : r.violations)
    if (v.find(part) != std::string::npos) return true;
  return false;
}

}  // namespace

TEST(UploadCheck, GoodBodiesInBothFramingsAreValid) {
  auto counted = ValidateUpload(Counted(CountedBody(SomeFrames())));
  EXPECT_TRUE(counted.Valid()) << counted.violations.front();
  EXPECT_TRUE(counted.headerOk);
  EXPECT_EQ(counted.frames, 25);
  EXPECT_EQ(counted.decodeErrors, 0);
  EXPECT_EQ(counted.lengthHistogram.at(38), 25);  // quality 8, VBR off
  EXPECT_TRUE(counted.wholeBuffers);  // 25 frames = two 250 ms buffers

  std::string records = Records(SomeFrames());
  auto streamed = ValidateUpload(Chunked({SpeexHeader(), records.substr(0, 101), records.substr(101)}));
  EXPECT_TRUE(streamed.Valid()) << streamed.violations.front();
  EXPECT_EQ(streamed.frames, 25);
}

TEST(UploadCheck, EveryHeaderFieldIsChecked) {
  struct Case {
    size_t offset;
    std::string bytes;
    const char* expect;
  };
  auto le = [](int32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    return s;
  };
  const Case cases[] = {
      {0, "speex", "identifier"},         {8, "1.2beta4", "version text"},
      {27, std::string(1, 'x'), "version text"},  // the padding must be zeros
      {28, le(2), "version id"},          {32, le(81), "header size"},
      {36, le(16000), "sample rate"},     {40, le(1), "mode is"},
      {44, le(3), "bitstream version"},   {48, le(2), "channels"},
      {52, le(24600), "bit rate"},        {56, le(320), "frame size"},
      {60, le(1), "variable bit rate"},   {64, le(1), "frames per packet"},
      {68, le(1), "extra headers"},       {72, le(7), "reserved (72)"},
      {76, le(7), "reserved (76)"},
  };
  for (const Case& c : cases) {
    std::string body = CountedBody(SomeFrames());
    body.replace(c.offset, c.bytes.size(), c.bytes);
    auto r = ValidateUpload(Counted(body));
    EXPECT_FALSE(r.headerOk) << c.expect;
    ASSERT_EQ(r.violations.size(), 1u) << c.expect;
    EXPECT_NE(r.violations[0].find(c.expect), std::string::npos) << r.violations[0];
  }
}

TEST(UploadCheck, RecordLengthsOutsideOneTo200AreRefused) {
  std::string header = SpeexHeader();
  std::string good = Records({SomeFrames()[0]});
  // 201 in a counted body; 0 in a streamed one (a counted body reads 0 as its end).
  auto tooLong = ValidateUpload(Counted(header + good + std::string("\x00\xC9", 2) + std::string(201, 'a') +
                                        std::string(40, '\0')));
  EXPECT_TRUE(HasViolation(tooLong, "record 2 has length 201")) << tooLong.violations.front();
  auto zero = ValidateUpload(Chunked({header, good + std::string(2, '\0') + good}));
  EXPECT_TRUE(HasViolation(zero, "zero-length record 2 in a streamed body"));
  // 200 itself is allowed by the format, decodable or not.
  auto at200 = ValidateUpload(Counted(header + good + std::string("\x00\xC8", 2) + std::string(200, '\0') +
                                      std::string(40, '\0')));
  EXPECT_FALSE(HasViolation(at200, "outside 1..200"));
  EXPECT_EQ(at200.frames, 2);
}

TEST(UploadCheck, CountedBodyNeedsExactlyFortyZerosAtTheEnd) {
  std::string body = CountedBody(SomeFrames());
  auto missing = ValidateUpload(Counted(body.substr(0, body.size() - 40)));
  EXPECT_TRUE(HasViolation(missing, "lacks its 40 zero bytes"));
  // A Content-Length one short of the truth leaves 39 zeros.
  auto shortLength = ValidateUpload(Counted(body.substr(0, body.size() - 1)));
  EXPECT_TRUE(HasViolation(shortLength, "ends with 39 zero bytes"));
  EXPECT_TRUE(HasViolation(shortLength, "Content-Length should be " + std::to_string(body.size())));
  auto longer = ValidateUpload(Counted(body + std::string(8, '\0')));
  EXPECT_TRUE(HasViolation(longer, "ends with 48 zero bytes"));
  std::string dirty = body;
  dirty[dirty.size() - 3] = 1;
  EXPECT_TRUE(HasViolation(ValidateUpload(Counted(dirty)), "non-zero bytes after the end record"));
}

TEST(UploadCheck, StreamedFramingRules) {
  std::string header = SpeexHeader();
  std::string records = Records(SomeFrames());
  auto firstNot80 = ValidateUpload(Chunked({header + records.substr(0, 40), records.substr(40)}));
  EXPECT_TRUE(HasViolation(firstNot80, "first chunk is 120 bytes, not the 80-byte header"));
  auto noTerminator = ValidateUpload(Chunked({header, records}, false));
  EXPECT_TRUE(HasViolation(noTerminator, "without its terminating zero-length chunk"));
  auto cut = ValidateUpload(Chunked({header, records.substr(0, records.size() - 5)}));
  EXPECT_TRUE(HasViolation(cut, "body ends inside record 25"));
  auto headerOnly = ValidateUpload(Chunked({header}));
  EXPECT_TRUE(HasViolation(headerOnly, "no frames"));
  auto tiny = ValidateUpload(Chunked({header.substr(0, 50)}));
  EXPECT_TRUE(HasViolation(tiny, "shorter than the 80-byte header"));
}

TEST(UploadCheck, FrameCountLimitsDependOnTheSearchType) {
  std::vector<std::string> many(1501, SomeFrames()[0]);
  UploadBody sing = Counted(CountedBody(many));
  EXPECT_TRUE(HasViolation(ValidateUpload(sing), "1501 frames exceed the 1500"));
  UploadBody grab = sing;
  grab.type = "grabbing";
  EXPECT_TRUE(ValidateUpload(grab).Valid());
  grab.bytes = CountedBody(std::vector<std::string>(1638, SomeFrames()[0]));
  EXPECT_TRUE(HasViolation(ValidateUpload(grab), "1638 frames exceed the 1637"));
}

TEST(UploadCheck, RoundTripOfA440HzToneInBothFramings) {
  const std::vector<std::string> frames = EncodeTone(440, 3);
  ASSERT_EQ(frames.size(), 150u);
  for (bool chunked : {false, true}) {
    ClientRequest req = SearchUpload(0, frames, chunked);
    UploadBody b = chunked ? Chunked(req.pieces) : Counted(req.pieces[0]);
    auto r = ValidateUpload(b);
    EXPECT_TRUE(r.Valid()) << (r.violations.empty() ? "" : r.violations.front());
    EXPECT_EQ(r.frames, 150);
    EXPECT_NEAR(r.durationSeconds, 3.0, 1e-9);
    EXPECT_NEAR(r.frequencyHz, 440, 10);
    EXPECT_GT(r.rms, 1000);
  }
  // Silence finds no pitch, so results come in catalogue order.
  auto silent = ValidateUpload(Counted(CountedBody(EncodeTone(440, 1, 0))));
  EXPECT_TRUE(silent.Valid());
  EXPECT_EQ(silent.frequencyHz, 0);
}

// The pitch is found to a small fraction of a bin wherever the tone sits
// between bins, for windows shorter than, equal to and longer than the
// transform, at both rates the server analyses; the louder of two tones
// wins; a tone outside the band leaves the answer inside it.
TEST(UploadCheck, DominantFrequencyFindsTheToneBetweenBins) {
  auto tone = [](std::initializer_list<std::pair<double, double>> parts, double rate, size_t n) {
    std::vector<int16_t> pcm(n);
    for (size_t i = 0; i < n; ++i) {
      double v = 0;
      for (auto [f, amplitude] : parts) v += amplitude * std::sin(2 * M_PI * f * static_cast<double>(i) / rate);
      pcm[i] = static_cast<int16_t>(std::lround(v));
    }
    return pcm;
  };
  struct Case {
    double f, rate;
    size_t n;
  } cases[] = {{262, 8000, 44000},   {261.63, 8000, 16384}, {440.25, 8000, 3001}, {1999.9, 8000, 20000},
               {100.1, 8000, 12345}, {393.3, 44100, 44100}, {131, 44100, 5000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.f << " Hz at " << c.rate << " Hz over " << c.n);
    const double bin = c.rate / static_cast<double>(std::min<size_t>(c.n, 16384));
    EXPECT_NEAR(qps::DominantFrequency(tone({{c.f, 8000}}, c.rate, c.n), c.rate, 100, 2000), c.f, bin / 10);
  }
  EXPECT_NEAR(qps::DominantFrequency(tone({{330, 3000}, {523, 9000}}, 8000, 30000), 8000, 100, 2000), 523, 0.1);
  EXPECT_NEAR(qps::DominantFrequency(tone({{330, 9000}, {523, 3000}}, 8000, 30000), 8000, 100, 2000), 330, 0.1);
  const double outside = qps::DominantFrequency(tone({{60, 9000}}, 8000, 30000), 8000, 100, 2000);
  EXPECT_GE(outside, 100);
  EXPECT_LE(outside, 2000);
  EXPECT_EQ(0, qps::DominantFrequency(tone({{440, 50}}, 8000, 30000), 8000, 100, 2000));  // too quiet
  EXPECT_EQ(0, qps::DominantFrequency(tone({{440, 9000}}, 8000, 255), 8000, 100, 2000));  // too short
}

class UploadOverTheWire : public ::testing::Test {
 protected:
  ServerHarness server;
};

TEST_F(UploadOverTheWire, StreamedUploadIsLoggedWithChunkTimesAndRankedByPitch) {
  // 5.5 s at t4's signature frequency, sent while "recording": three bursts
  // 100 ms apart, which the chunk arrival times in the log must show (with
  // room for a slow start of the connection thread).
  const std::vector<std::string> frames = EncodeTone(440, 5.5);
  std::string bytes = SearchUpload(server.Port(), frames, true).Bytes();
  size_t headEnd = bytes.find("\r\n\r\n") + 4;
  size_t third = (bytes.size() - headEnd) / 3;
  Response r = ParseResponse(FetchInPieces(
      server.Port(), {bytes.substr(0, headEnd + 90), bytes.substr(headEnd + 90, third), bytes.substr(headEnd + 90 + third)},
      0.1));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Encoding"), "gzip");
  std::string doc = Gunzip(r.body);
  ASSERT_FALSE(doc.empty());
  // t4 (440 Hz) first, then t3 (392 Hz) and t5 (523 Hz).
  size_t t4 = doc.find("track_id=\"t4\""), t3 = doc.find("track_id=\"t3\""), t5 = doc.find("track_id=\"t5\"");
  ASSERT_NE(t4, std::string::npos);
  EXPECT_LT(t4, t3);
  EXPECT_LT(t3, t5);
  EXPECT_EQ(doc.find("track_id=\"t1\""), std::string::npos);
  EXPECT_NE(doc.find("total_records=\"3\""), std::string::npos);

  std::string log = server.LastLog();
  EXPECT_EQ(JsonField(log, "violations"), "[]") << log;
  EXPECT_EQ(JsonField(log, "frames"), "275");
  EXPECT_EQ(JsonField(log, "framing"), "\"chunked\"");
  std::string chunks = JsonField(log, "chunks");
  double firstMs = std::stod(JsonField(chunks.substr(1), "ms"));
  double lastMs = std::stod(JsonField(chunks.substr(chunks.rfind("{\"size\"")), "ms"));
  EXPECT_GE(lastMs - firstMs, 100) << chunks;
}

TEST_F(UploadOverTheWire, CountedUploadAndItsFaultsOverTheWire) {
  const std::vector<std::string> frames = EncodeTone(262, 5);
  Response ok = ParseResponse(Fetch(server.Port(), SearchUpload(server.Port(), frames, false).Bytes()));
  ASSERT_TRUE(ok.ok) << ok.error;
  std::string doc = Gunzip(ok.body);
  EXPECT_LT(doc.find("track_id=\"t1\""), doc.find("track_id=\"t2\""));
  EXPECT_EQ(JsonField(server.LastLog(), "violations"), "[]");

  // Too short: fewer than five seconds of frames.
  Response shortOne = ParseResponse(Fetch(server.Port(), SearchUpload(server.Port(), EncodeTone(262, 2), false).Bytes()));
  EXPECT_NE(Gunzip(shortOne.body).find("message_text=\"Recording too short\""), std::string::npos);

  // A streamed body whose last chunk never comes: the peer half-closes.
  std::string bytes = SearchUpload(server.Port(), frames, true).Bytes();
  bytes.resize(bytes.size() - 5);  // drop "0\r\n\r\n"
  Response cut = ParseResponse(Fetch(server.Port(), bytes, true));
  ASSERT_TRUE(cut.ok) << cut.error;
  EXPECT_EQ(cut.status, 400);  // strict
  EXPECT_NE(Gunzip(cut.body).find("Upload rejected: streamed body ends without its terminating"), std::string::npos);

  // Without strict reading the same upload gets the error reply with 200.
  ASSERT_EQ(ParseResponse(Fetch(server.Port(), "GET /_ctl/set?strict-requests=off HTTP/1.1\r\n\r\n")).status, 200);
  ClientRequest wrongHeader = SearchUpload(server.Port(), frames, false);
  wrongHeader.pieces[0][37] = 0x3E;  // sample rate 0x3E40 = 15936
  Response rejected = ParseResponse(Fetch(server.Port(), wrongHeader.Bytes()));
  EXPECT_EQ(rejected.status, 200);
  EXPECT_NE(Gunzip(rejected.body).find("Upload rejected: header: sample rate is"), std::string::npos);
}
