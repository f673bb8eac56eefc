// Checks the search upload: the 80-byte Speex header, the length-prefixed
// frame records, the end of the body in both framings, and what the sound
// itself says (duration, level, dominant pitch).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qps {

struct ChunkInfo {
  uint64_t size = 0;
  double arrivalMs = 0;  // since the request head arrived
};

struct UploadBody {
  enum class Framing { Chunked, Counted };
  Framing framing = Framing::Counted;
  std::string bytes;               // the body with any chunk framing removed
  std::vector<ChunkInfo> chunks;   // chunked only
  bool terminated = true;          // chunked only: "0" CRLF CRLF arrived
  std::vector<std::string> framingViolations;  // found while reading the body
  std::string type;                // "singing" or "grabbing"
};

struct UploadReport {
  bool headerOk = false;
  int frames = 0;
  std::map<int, int> lengthHistogram;
  int decodeErrors = 0;
  double durationSeconds = 0;
  double rms = 0;           // of the decoded 16-bit samples
  double frequencyHz = 0;   // dominant pitch, 0 when none was found
  bool wholeBuffers = false;  // frames == floor(4000 k / 320) for a whole k
  std::vector<std::string> violations;
  std::vector<int16_t> pcm;   // decoded sound, 8000 Hz mono

  bool Valid() const { return violations.empty(); }
};

constexpr int kSpeexHeaderBytes = 80;
constexpr int kCountedEndZeros = 40;
constexpr int kMaxRecordLength = 200;
constexpr int kMaxSingingFrames = 1500;   // 30 s
constexpr int kMaxGrabbingFrames = 1637;  // 131 capture buffers of 4000 bytes

UploadReport ValidateUpload(const UploadBody& body);

// Goertzel power of one frequency over the samples.
double GoertzelPower(const std::vector<float>& samples, double frequency, double sampleRate);

// The strongest frequency between low and high Hz, scanned over at most
// 16384 samples from the middle of the sound; 0 when the sound is too quiet.
double DominantFrequency(const std::vector<int16_t>& pcm, double sampleRate, double low, double high);

}  // namespace qps
