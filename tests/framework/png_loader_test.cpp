// The PNG loader: every colour type and depth to premultiplied bottom-up
// pixels, and bad data (short, foreign, corrupt, cut, oversize) to none with
// a trace line and nothing left behind.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/PngLoader.h"
#include "platform/base/Debug.h"
#include "platform/base/Strings.h"
#include "png_test_util.h"

#ifdef QUOREL_TEST_PACKS
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/fs/FileSystem.h"
#include "platform/module/Module.h"
#include "tools/qrespack/PackWriter.h"
#endif

namespace {

using pngt::Picture;

// The loader's DIB as picture rows, top row first, four bytes a pixel; the
// memory order is checked on the way: row y of the picture must be row
// height - 1 - y in memory.
struct Decoded {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> bytes;
  std::array<uint8_t, 4> At(int32_t x, int32_t y) const {
    const size_t i = (size_t(y) * size_t(width) + size_t(x)) * 4;
    return {bytes[i], bytes[i + 1], bytes[i + 2], bytes[i + 3]};
  }
};

Decoded Take(plat::HBITMAP bitmap) {
  Decoded d;
  plat::BitmapDesc desc;
  EXPECT_NE(plat::GetObject(bitmap, &desc), 0);
  EXPECT_EQ(desc.bitsPixel, 32);
  d.width = desc.width;
  d.height = desc.height;
  const auto* bits = static_cast<const uint8_t*>(desc.bits);
  for (int32_t y = 0; y < desc.height; ++y) {
    const uint8_t* row = bits + size_t(desc.height - 1 - y) * size_t(desc.widthBytes);
    d.bytes.insert(d.bytes.end(), row, row + size_t(desc.width) * 4);
  }
  plat::DeleteObject(bitmap);
  return d;
}

std::optional<Decoded> Load(const std::vector<uint8_t>& file) {
  // An exact-size copy, so that reading past the end is an ASan fault.
  std::vector<uint8_t> exact(file);
  plat::HBITMAP bitmap = LoadPngImage(exact.empty() ? nullptr : exact.data(), exact.size());
  if (!bitmap) return std::nullopt;
  return Take(bitmap);
}

std::string Describe(const Picture& p) {
  return "type " + std::to_string(p.colorType) + " depth " + std::to_string(p.bitDepth) + " " +
         std::to_string(p.width) + "x" + std::to_string(p.height) + (p.interlaced ? " interlaced" : "") +
         (p.paletteAlpha.empty() && !p.trnsColor ? "" : " tRNS");
}

void ExpectPicture(const Picture& p, const Decoded& d) {
  ASSERT_EQ(d.width, int32_t(p.width));
  ASSERT_EQ(d.height, int32_t(p.height));
  int mismatches = 0;
  for (uint32_t y = 0; y < p.height; ++y)
    for (uint32_t x = 0; x < p.width; ++x) {
      const auto want = pngt::Premultiplied(pngt::Truth(p, x, y));
      const auto got = d.At(int32_t(x), int32_t(y));
      if (want != got && ++mismatches <= 3) {
        ADD_FAILURE() << Describe(p) << " pixel (" << x << ", " << y << "): got " << int(got[0]) << "," << int(got[1])
                      << "," << int(got[2]) << "," << int(got[3]) << " want " << int(want[0]) << "," << int(want[1])
                      << "," << int(want[2]) << "," << int(want[3]);
      }
    }
}

// Collects the debug output for the test's lifetime.
class TraceCapture {
 public:
  TraceCapture() {
    m_saved = plat::SetDebugSink([this](plat::WStringView text) {
      std::lock_guard<std::mutex> lock(m_lock);
      m_text += plat::ToUtf8(text);
    });
  }
  ~TraceCapture() { plat::SetDebugSink(m_saved); }
  std::string Text() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_text;
  }

 private:
  std::mutex m_lock;
  std::string m_text;
  plat::DebugSink m_saved;
};

// ---------------------------------------------------------------------------
// Colour types

struct TypeCase {
  int colorType;
  int bitDepth;
};
const TypeCase kAllTypes[] = {
    {PNG_COLOR_TYPE_GRAY, 1},       {PNG_COLOR_TYPE_GRAY, 2},       {PNG_COLOR_TYPE_GRAY, 4},
    {PNG_COLOR_TYPE_GRAY, 8},       {PNG_COLOR_TYPE_GRAY, 16},      {PNG_COLOR_TYPE_GRAY_ALPHA, 8},
    {PNG_COLOR_TYPE_GRAY_ALPHA, 16}, {PNG_COLOR_TYPE_RGB, 8},       {PNG_COLOR_TYPE_RGB, 16},
    {PNG_COLOR_TYPE_RGB_ALPHA, 8},  {PNG_COLOR_TYPE_RGB_ALPHA, 16}, {PNG_COLOR_TYPE_PALETTE, 1},
    {PNG_COLOR_TYPE_PALETTE, 2},    {PNG_COLOR_TYPE_PALETTE, 4},    {PNG_COLOR_TYPE_PALETTE, 8},
};

TEST(PngLoader, EveryColourTypeAndDepthGivesPremultipliedPixels) {
  uint32_t seed = 1;
  for (const TypeCase& t : kAllTypes)
    for (bool interlaced : {false, true}) {
      Picture p = pngt::MakePicture(13, 11, t.colorType, t.bitDepth, interlaced, seed++);
      auto d = Load(pngt::Encode(p));
      ASSERT_TRUE(d) << Describe(p);
      ExpectPicture(p, *d);
    }
}

TEST(PngLoader, TransparencyChunksBecomeAlpha) {
  // Palette: some entries translucent, the entries past the tRNS list opaque.
  Picture pal = pngt::MakePicture(16, 9, PNG_COLOR_TYPE_PALETTE, 4, false, 7);
  pal.paletteAlpha = {0, 128, 255, 1, 200};
  // Grey and RGB: one exact colour is transparent; make sure it occurs.
  Picture grey = pngt::MakePicture(16, 9, PNG_COLOR_TYPE_GRAY, 8, false, 8);
  grey.trnsColor = png_color_16{0, 0, 0, 0, uint16_t(pngt::Sample(grey, 0, 0))};
  Picture grey16 = pngt::MakePicture(16, 9, PNG_COLOR_TYPE_GRAY, 16, true, 9);
  grey16.trnsColor = png_color_16{0, 0, 0, 0, uint16_t(pngt::Sample(grey16, 2, 3))};
  Picture rgb = pngt::MakePicture(16, 9, PNG_COLOR_TYPE_RGB, 8, false, 10);
  rgb.trnsColor = png_color_16{0, uint16_t(pngt::Sample(rgb, 1, 0)), uint16_t(pngt::Sample(rgb, 1, 1)),
                               uint16_t(pngt::Sample(rgb, 1, 2)), 0};
  for (Picture* p : {&pal, &grey, &grey16, &rgb}) {
    auto d = Load(pngt::Encode(*p));
    ASSERT_TRUE(d) << Describe(*p);
    ExpectPicture(*p, *d);
    int clear = 0;
    for (size_t i = 3; i < d->bytes.size(); i += 4) clear += d->bytes[i] == 0;
    EXPECT_GT(clear, 0) << Describe(*p) << ": the transparent colour never came out transparent";
  }
}

TEST(PngLoader, KnownPixelsComeOutAsTheDeviceHadThem) {
  // (red 200, green 100, blue 50, alpha 128) -> bytes B, G, R, A = 25, 50, 100, 128;
  // an opaque pixel keeps its colours; alpha 0 clears them.
  Picture p = pngt::MakePicture(3, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, 0);
  p.rows[0] = {200, 100, 50, 128, 12, 34, 56, 255, 200, 100, 50, 0};
  auto d = Load(pngt::Encode(p));
  ASSERT_TRUE(d);
  EXPECT_EQ(d->At(0, 0), (std::array<uint8_t, 4>{25, 50, 100, 128}));
  EXPECT_EQ(d->At(1, 0), (std::array<uint8_t, 4>{56, 34, 12, 255}));
  EXPECT_EQ(d->At(2, 0), (std::array<uint8_t, 4>{0, 0, 0, 0}));

  // An opaque RGB picture: alpha 255 everywhere, colours as stored, whatever
  // gamma the file declares (no gamma step).
  Picture rgb = pngt::MakePicture(7, 5, PNG_COLOR_TYPE_RGB, 8, false, 3);
  for (double gamma : {0.45455, 1.0, 2.2}) {
    rgb.gamma = gamma;
    auto o = Load(pngt::Encode(rgb));
    ASSERT_TRUE(o);
    for (uint32_t y = 0; y < rgb.height; ++y)
      for (uint32_t x = 0; x < rgb.width; ++x) {
        const auto px = o->At(int32_t(x), int32_t(y));
        EXPECT_EQ(px[3], 255);
        EXPECT_EQ(px[2], rgb.rows[y][x * 3]) << "gamma " << gamma;
        EXPECT_EQ(px[1], rgb.rows[y][x * 3 + 1]);
        EXPECT_EQ(px[0], rgb.rows[y][x * 3 + 2]);
      }
  }
}

TEST(PngLoader, InterlacedEqualsItsTwinAtEverySmallSize) {
  // Adam7 leaves passes empty for pictures under 8 pixels a side; every size
  // from 1x1 up must still come out whole and equal to the plain twin, also
  // without the IEND chunk (the "every row arrived" rule).
  for (uint32_t w = 1; w <= 10; ++w)
    for (uint32_t h = 1; h <= 10; ++h) {
      Picture plain = pngt::MakePicture(w, h, PNG_COLOR_TYPE_RGB_ALPHA, 8, false, w * 31 + h);
      Picture twin = plain;
      twin.interlaced = true;
      const std::vector<uint8_t> twinFile = pngt::Encode(twin);
      size_t iend = 0;
      for (const auto& [type, at] : pngt::ChunkOffsets(twinFile))
        if (type == "IEND") iend = at;
      auto a = Load(pngt::Encode(plain));
      auto b = Load(twinFile);
      auto c = Load(std::vector<uint8_t>(twinFile.begin(), twinFile.begin() + long(iend)));
      ASSERT_TRUE(a && b && c) << w << "x" << h;
      ExpectPicture(plain, *a);
      EXPECT_EQ(a->bytes, b->bytes) << w << "x" << h;
      EXPECT_EQ(a->bytes, c->bytes) << w << "x" << h;
    }
}

// ---------------------------------------------------------------------------
// Bad data

TEST(PngLoader, ShortOrForeignDataIsNoneWithATraceLine) {
  TraceCapture trace;
  const std::vector<uint8_t> full = pngt::Encode(pngt::MakePicture(4, 4, PNG_COLOR_TYPE_RGB, 8, false, 1));
  EXPECT_EQ(LoadPngImage(nullptr, 0), nullptr);
  EXPECT_EQ(LoadPngImage(nullptr, 100), nullptr);
  for (size_t n = 0; n < 8; ++n) {
    // Exactly n bytes: the signature test must not read past them.
    std::vector<uint8_t> cut(full.begin(), full.begin() + long(n));
    EXPECT_FALSE(Load(cut)) << n << " bytes";
  }
  const std::string text = "GIF89a is not a PNG";
  EXPECT_FALSE(Load(std::vector<uint8_t>(text.begin(), text.end())));
  std::vector<uint8_t> flipped = full;
  flipped[1] = 'p';
  EXPECT_FALSE(Load(flipped));
  EXPECT_NE(trace.Text().find("[QUOREL] png_check_sig() failed\n"), std::string::npos) << trace.Text();
}

TEST(PngLoader, CutFilesNeverBecomeHalfWrittenPictures) {
  TraceCapture trace;
  for (bool interlaced : {false, true}) {
    const Picture p = pngt::MakePicture(23, 17, PNG_COLOR_TYPE_RGB_ALPHA, 8, interlaced, 5);
    const std::vector<uint8_t> full = pngt::Encode(p, 0);  // stored: the rows spread over the file
    const auto whole = Load(full);
    ASSERT_TRUE(whole);
    const auto chunks = pngt::ChunkOffsets(full);
    size_t iend = 0;
    for (const auto& [type, at] : chunks)
      if (type == "IEND") iend = at;
    ASSERT_GT(iend, 0u);

    // Every cut point: either none, or exactly the whole picture.
    int decoded = 0;
    for (size_t n = 8; n < full.size(); ++n) {
      const auto part = Load(std::vector<uint8_t>(full.begin(), full.begin() + long(n)));
      if (!part) continue;
      ++decoded;
      EXPECT_EQ(part->bytes, whole->bytes) << "cut at " << n << " of " << full.size();
    }
    // A file missing only its IEND chunk has every row: it decodes.
    EXPECT_TRUE(Load(std::vector<uint8_t>(full.begin(), full.begin() + long(iend)))) << interlaced;
    EXPECT_GT(decoded, 0);
    // Cut in half, and inside IHDR: none.
    EXPECT_FALSE(Load(std::vector<uint8_t>(full.begin(), full.begin() + long(full.size() / 2))));
    EXPECT_FALSE(Load(std::vector<uint8_t>(full.begin(), full.begin() + 8 + 8 + 6)));
  }
  EXPECT_NE(trace.Text().find("readpng2: image data incomplete"), std::string::npos);
}

TEST(PngLoader, CorruptFilesAreNoneAndTraced) {
  TraceCapture trace;
  const Picture p = pngt::MakePicture(8, 8, PNG_COLOR_TYPE_RGB, 8, false, 2);
  const std::vector<uint8_t> full = pngt::Encode(p);
  const auto chunks = pngt::ChunkOffsets(full);
  size_t idat = 0;
  for (const auto& [type, at] : chunks)
    if (type == "IDAT") idat = at;
  ASSERT_GT(idat, 0u);

  // A flipped byte in IHDR and in IDAT: the CRC catches both.
  std::vector<uint8_t> badHeader = full;
  badHeader[8 + 8 + 3] ^= 0x01;
  EXPECT_FALSE(Load(badHeader));
  std::vector<uint8_t> badData = full;
  badData[idat + 8 + 2] ^= 0x40;
  EXPECT_FALSE(Load(badData));

  // Valid chunks around undecodable contents.
  std::vector<uint8_t> junk = pngt::Signature();
  for (const auto& c : {pngt::Chunk("IHDR", pngt::IhdrData(8, 8, 8, 2)),
                        pngt::Chunk("IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}), pngt::Chunk("IEND", {})})
    junk.insert(junk.end(), c.begin(), c.end());
  EXPECT_FALSE(Load(junk));
  // An impossible header: bit depth 3.
  std::vector<uint8_t> depth3 = pngt::Signature();
  for (const auto& c : {pngt::Chunk("IHDR", pngt::IhdrData(8, 8, 3, 0)), pngt::Chunk("IEND", {})})
    depth3.insert(depth3.end(), c.begin(), c.end());
  EXPECT_FALSE(Load(depth3));
  // The image end without any image data.
  std::vector<uint8_t> noData = pngt::Signature();
  for (const auto& c : {pngt::Chunk("IHDR", pngt::IhdrData(8, 8, 8, 2)), pngt::Chunk("IEND", {})})
    noData.insert(noData.end(), c.begin(), c.end());
  EXPECT_FALSE(Load(noData));

  EXPECT_NE(trace.Text().find("[QUOREL] readpng2 libpng error: "), std::string::npos) << trace.Text();
}

TEST(PngLoader, OversizePicturesFailBeforeAllocating) {
  TraceCapture trace;
  struct Size {
    uint32_t w, h;
  };
  // Just above 16 M pixels, products that overflow 32 bits, and the widest
  // header PNG allows.
  for (Size s : {Size{4097, 4096}, Size{16777217, 1}, Size{65536, 65536}, Size{0x7FFFFFFF, 0x7FFFFFFF}}) {
    std::vector<uint8_t> file = pngt::Signature();
    for (const auto& c : {pngt::Chunk("IHDR", pngt::IhdrData(s.w, s.h, 8, 6)),
                          pngt::Chunk("IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}),
                          pngt::Chunk("IEND", {})})
      file.insert(file.end(), c.begin(), c.end());
    EXPECT_FALSE(Load(file)) << s.w << "x" << s.h;
  }
  EXPECT_NE(trace.Text().find("readpng2 libpng error"), std::string::npos);
  // A long thin picture inside the bound is fine.
  auto thin = Load(pngt::Encode(pngt::MakePicture(4096, 2, PNG_COLOR_TYPE_GRAY, 8, false, 4)));
  ASSERT_TRUE(thin);
  EXPECT_EQ(thin->width, 4096);
}

TEST(PngLoader, ResourcesThatAreMissingGiveNone) {
  // No main module is registered in this test: nothing to find.
  EXPECT_EQ(LoadPngResource(1), nullptr);
}

#ifdef QUOREL_TEST_PACKS
// Pictures are RT_RCDATA resources of the main pack.
TEST(PngLoader, ResourcesOfTheMainPackDecode) {
  char pattern[] = "/tmp/png-resource-test-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path root = pattern;
  std::filesystem::create_directories(root / "program");
  plat::FileSystemConfig config;
  config.deviceRoot = root / "device";
  config.programFolder = root / "program";
  ASSERT_TRUE(plat::ConfigureFileSystem(config));

  const Picture p = pngt::MakePicture(5, 4, PNG_COLOR_TYPE_PALETTE, 4, false, 21);
  qrespack::PackWriter writer;
  std::string error;
  ASSERT_TRUE(writer.AddRaw({plat::RT_RCDATA, {}}, 138, pngt::Encode(p), "t", error)) << error;
  ASSERT_TRUE(writer.AddRaw({plat::RT_RCDATA, {}}, 139, {'n', 'o', 't', ' ', 'a', ' ', 'P', 'N', 'G'}, "t", error));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(writer.Serialize(bytes, error)) << error;
  std::ofstream(root / "program" / "Quorel.res", std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  plat::ModuleHandle module = plat::LoadLibrary(u"\\Program Files\\Quorel\\Quorel.res");
  ASSERT_NE(module, nullptr);
  plat::SetMainModule(module);

  plat::HBITMAP bitmap = LoadPngResource(138);
  ASSERT_NE(bitmap, nullptr);
  ExpectPicture(p, Take(bitmap));
  EXPECT_EQ(LoadPngResource(139), nullptr);
  EXPECT_EQ(LoadPngResource(140), nullptr);

  plat::SetMainModule(nullptr);
  plat::FreeLibrary(module);
  std::filesystem::remove_all(root);
}
#endif

// ---------------------------------------------------------------------------
// Threads

TEST(PngLoaderThreads, DecodesOnSeveralThreadsAtOnce) {
  // Each call has its own decoder state: overlapping good and bad decodes
  // must neither disturb each other nor share a buffer.
  TraceCapture trace;
  const Picture p = pngt::MakePicture(31, 29, PNG_COLOR_TYPE_PALETTE, 8, true, 11);
  const std::vector<uint8_t> good = pngt::Encode(p);
  const auto reference = Load(good);
  ASSERT_TRUE(reference);
  std::vector<uint8_t> bad = good;
  bad.resize(bad.size() * 2 / 3);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 40; ++i) {
        const bool useGood = (i + t) % 2 == 0;
        const auto& file = useGood ? good : bad;
        plat::HBITMAP bitmap = LoadPngImage(file.data(), file.size());
        if (useGood != (bitmap != nullptr)) ++failures;
        if (!bitmap) continue;
        plat::BitmapDesc desc;
        plat::GetObject(bitmap, &desc);
        const auto* bits = static_cast<const uint8_t*>(desc.bits);
        const size_t last = size_t(desc.height - 1) * size_t(desc.widthBytes);
        if (std::memcmp(bits + last, reference->bytes.data(), size_t(desc.width) * 4) != 0) ++failures;
        plat::DeleteObject(bitmap);
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
