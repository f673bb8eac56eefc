// The toolkit's imaging: decoding, physical sizes, area-averaged bitmaps in
// both formats, locks, drawing with a source rectangle in 0.01 mm, failures
// and the counters.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "framework/png_test_util.h"
#include "platform/gdi/Gdi.h"
#include "platform/imaging/Imaging.h"
#include "platform/testing/TestPlatform.h"
#include "support/PngMake.h"

namespace {

using plat::BitmapData;
using plat::BitmapImage;
using plat::DecodedImage;
using pngmake::MakePng;

// The picture with a pHYs chunk (pixels per metre) after its header.
std::vector<uint8_t> WithPhys(std::vector<uint8_t> png, uint32_t ppm) {
  std::vector<uint8_t> data(9);
  for (int i = 0; i < 2; ++i)
    for (int b = 0; b < 4; ++b) data[size_t(i * 4 + b)] = uint8_t(ppm >> (24 - 8 * b));
  data[8] = 1;
  const std::vector<uint8_t> chunk = pngt::Chunk("pHYs", data);
  png.insert(png.begin() + 8 + 25, chunk.begin(), chunk.end());  // after the signature and IHDR
  return png;
}

class ImagingTest : public ::testing::Test {
 protected:
  void SetUp() override { plat::ResetImagingCounters(); }
  std::unique_ptr<DecodedImage> Decode(const std::vector<uint8_t>& bytes) {
    std::unique_ptr<DecodedImage> image;
    EXPECT_EQ(m_factory.CreateImageFromBytes(bytes, image), plat::S_OK);
    return image;
  }
  plat::TestPlatform m_tp;
  plat::ImagingFactory m_factory;
};

TEST_F(ImagingTest, DecodesStraightBgraAndPhysicalSizes) {
  auto image = Decode(MakePng(96, 2, {0x0A141E80}));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->Info().width, 96);
  EXPECT_EQ(image->Info().height, 2);
  EXPECT_TRUE(image->Info().hasAlpha);
  const uint8_t* p = image->Pixels().data();
  EXPECT_EQ((std::vector<uint8_t>{p[0], p[1], p[2], p[3]}), (std::vector<uint8_t>{0x1E, 0x14, 0x0A, 0x80}));
  EXPECT_EQ(image->PhysicalSize(), (plat::Size{2540, 52}));  // 96 dpi
  auto phys = Decode(WithPhys(MakePng(100, 50, {}), 10000));  // 100 pixels per cm
  ASSERT_TRUE(phys);
  EXPECT_EQ(phys->PhysicalSize(), (plat::Size{1000, 500}));
  EXPECT_EQ(plat::CurrentImagingCounters().decodes, 2);
}

TEST_F(ImagingTest, BitmapsAverageOverPremultipliedValues) {
  auto image = Decode(MakePng(2, 1, {0xFF0000FF, 0x00FF0000}));  // opaque red, transparent green
  std::unique_ptr<BitmapImage> bitmap;
  ASSERT_EQ(m_factory.CreateBitmapFromImage(*image, 1, 1, plat::PixelFormat32bppARGB,
                                            plat::InterpolationHint::Averaging, bitmap),
            plat::S_OK);
  BitmapData data;
  ASSERT_EQ(bitmap->LockBits({0, 0, 1, 1}, plat::ImageLockModeRead, plat::PixelFormat32bppARGB, data), plat::S_OK);
  const auto* px = static_cast<const uint8_t*>(data.scan0);
  EXPECT_EQ((std::vector<uint8_t>{px[0], px[1], px[2], px[3]}), (std::vector<uint8_t>{0, 0, 255, 128}));
  EXPECT_EQ(bitmap->LockBits({0, 0, 1, 1}, plat::ImageLockModeRead, plat::PixelFormat32bppARGB, data),
            plat::E_IMAGE_LOCKED);
  EXPECT_EQ(bitmap->UnlockBits(data), plat::S_OK);
  // The 16-bit form drops alpha; rows are padded to 4 bytes, top-down.
  auto rows = Decode(MakePng(3, 2, {0xFF0000FF, 0xFF0000FF, 0xFF0000FF, 0x0000FFFF, 0x0000FFFF, 0x0000FF00}));
  ASSERT_EQ(m_factory.CreateBitmapFromImage(*rows, 3, 2, plat::PixelFormat16bppRGB565,
                                            plat::InterpolationHint::Averaging, bitmap),
            plat::S_OK);
  ASSERT_EQ(bitmap->LockBits({0, 0, 3, 2}, plat::ImageLockModeRead, plat::PixelFormat16bppRGB565, data), plat::S_OK);
  EXPECT_EQ(data.stride, 8);
  const auto* p16 = static_cast<const uint8_t*>(data.scan0);
  uint16_t first, second;
  std::memcpy(&first, p16, 2);
  std::memcpy(&second, p16 + 8, 2);
  EXPECT_EQ(first, 0xF800);
  EXPECT_EQ(second, 0x001F);
  EXPECT_EQ(bitmap->PhysicalSize(), rows->PhysicalSize());
  EXPECT_EQ(plat::CurrentImagingCounters().bitmaps, 2);
  EXPECT_EQ(plat::CurrentImagingCounters().locks, 2);
  for (auto [w, h] : {std::pair{0, 1}, std::pair{1, 0}, std::pair{-1, 5}})
    EXPECT_EQ(m_factory.CreateBitmapFromImage(*rows, w, h, plat::PixelFormat16bppRGB565,
                                              plat::InterpolationHint::Averaging, bitmap),
              plat::E_INVALIDARG);
  EXPECT_EQ(m_factory.CreateBitmapFromImage(*rows, 1, 1, 0x1234, plat::InterpolationHint::Averaging, bitmap),
            plat::E_INVALIDARG);
}

TEST_F(ImagingTest, ASourceRectangleInHundredthsPicksTheSamePixels) {
  auto image = Decode(MakePng(4, 1, {0xFF0000FF, 0x00FF00FF, 0x0000FFFF, 0xFFFFFFFF}));
  std::unique_ptr<BitmapImage> bitmap;
  ASSERT_EQ(m_factory.CreateBitmapFromImage(*image, 4, 1, plat::PixelFormat16bppRGB565,
                                            plat::InterpolationHint::Averaging, bitmap),
            plat::S_OK);
  plat::BitmapInfo info;
  info.header.width = 4;
  info.header.height = -1;
  info.header.bitCount = 16;
  info.header.compression = plat::BI_BITFIELDS;
  info.masks[0] = 0xF800, info.masks[1] = 0x07E0, info.masks[2] = 0x001F;
  void* bits = nullptr;
  plat::HBITMAP target = plat::CreateDIBSection(nullptr, info, plat::DIB_RGB_COLORS, &bits);
  plat::HDC dc = plat::CreateCompatibleDC(nullptr);
  plat::SelectObject(dc, target);
  // Pixels 2 and 3, as the toolkit converts them (truncating).
  const int32_t cx = image->PhysicalSize().cx;
  const plat::Rect src{2 * cx / 4, 0, 4 * cx / 4, image->PhysicalSize().cy};
  EXPECT_EQ(bitmap->Draw(dc, {0, 0, 2, 1}, &src), plat::S_OK);
  const auto* out = static_cast<const uint16_t*>(bits);
  EXPECT_EQ(out[0], 0x001F);
  EXPECT_EQ(out[1], 0xFFFF);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(image->Draw(dc, {2, 0, 4, 1}, nullptr), plat::S_OK);
  EXPECT_EQ(out[2], 0x07E0);  // nearest of the whole picture
  plat::DeleteDC(dc);
  plat::DeleteObject(target);
}

TEST_F(ImagingTest, FailuresAndCounters) {
  std::unique_ptr<DecodedImage> image;
  EXPECT_EQ(m_factory.CreateImageFromBytes(std::vector<uint8_t>{1, 2, 3}, image), plat::E_IMAGE_FORMAT);
  std::vector<uint8_t> cut = MakePng(8, 8, {});
  cut.resize(cut.size() / 2);
  EXPECT_EQ(m_factory.CreateImageFromBytes(cut, image), plat::E_IMAGE_FORMAT);
  EXPECT_FALSE(image);
  EXPECT_EQ(m_factory.CreateImageFromFile(u"\\none.png", image), plat::E_IMAGE_NOT_FOUND);
  const std::vector<uint8_t> png = MakePng(3, 3, {});
  std::ofstream(m_tp.DeviceRoot() / "fs" / "pic.png", std::ios::binary)
      .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
  EXPECT_EQ(m_factory.CreateImageFromFile(u"\\pic.png", image), plat::S_OK);
  EXPECT_EQ(plat::CurrentImagingCounters().decodes, 1);
  EXPECT_EQ(plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED), plat::S_OK);
  plat::CoUninitialize();
  EXPECT_EQ(plat::CurrentImagingCounters().coInitialize, 1);
  EXPECT_EQ(plat::CurrentImagingCounters().coUninitialize, 1);
  // An ancillary chunk above the allocation bound, though present in full.
  for (auto [length, result] : {std::pair{8000000u, plat::S_OK}, std::pair{8000001u, plat::E_IMAGE_FORMAT}}) {
    std::vector<uint8_t> withText = MakePng(2, 2, {});
    std::vector<uint8_t> text(length);  // keyword "k", then the text
    text[0] = 'k';
    const std::vector<uint8_t> chunk = pngt::Chunk("tEXt", text);
    withText.insert(withText.begin() + 8 + 25, chunk.begin(), chunk.end());
    EXPECT_EQ(m_factory.CreateImageFromBytes(withText, image), result) << length;
  }
}

}  // namespace
