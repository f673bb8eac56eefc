// Images: the blends into the back buffer, clipping and addressing, the
// cached drawing bitmap, load failures, the factory's shut-down; the frame
// skin and the line control.
#include "vy/VyLine.h"
#include "vy_test_support.h"

namespace {

using vytest::BackBuffer;
using vytest::MakePng;
using vytest::SolidPng;
using vytest::To565;
using vytest::VyFixture;

class ImageTest : public VyFixture {
 protected:
  void SetUp() override {
    VyFixture::SetUp();
    MakeHost();
  }
  // A 1 x 1 picture of one RGBA colour as resource 600, drawn at (x, y).
  HRESULT DrawPixel(const BackBuffer& bb, uint32_t rgba, int32_t x = 5, int32_t y = 5, int32_t mode = 1) {
    PackImages({{600, SolidPng(1, 1, rgba)}});
    CIImage image;
    image.Load(m_hModule, 600);
    RECT rc{x, y, x + 1, y + 1};
    return image.Draw(bb.Dc(), &rc, nullptr, mode);
  }
};

TEST(VyAlphaTableTest, Entries) {
  CIImage image;  // builds the table
  for (uint32_t b : {0u, 1u, 128u, 255u}) EXPECT_EQ(CIImage::Alpha(255, b), b);
  for (uint32_t a : {0u, 7u, 255u}) EXPECT_EQ(CIImage::Alpha(a, 0), 0u);
  EXPECT_EQ(CIImage::Alpha(128, 255), 128u);
  EXPECT_EQ(CIImage::Alpha(1, 254), 0u);
  CIImage::SetGlobalAlpha(-5);
  EXPECT_EQ(CIImage::GetGlobalAlpha(), 0);
  CIImage::SetGlobalAlpha(300);
  EXPECT_EQ(CIImage::GetGlobalAlpha(), 255);
}

TEST_F(ImageTest, BlendRules) {
  BackBuffer bb(m_hWnd);
  struct Case {
    const char* name;
    uint32_t rgba;
    uint16_t dst;
    int32_t global;
    uint16_t expected;
  } cases[] = {
      {"alpha 255", 0xC86432FF, 0x1234, 255, To565(0xC8, 0x64, 0x32)},
      {"alpha 0 leaves the pixel", 0xC8643200, 0x1234, 255, 0x1234},
      {"half over white", 0xFF000080, 0xFFFF, 255, To565(252, 126, 124)},
      {"global 128 white over black", 0xFFFFFFFF, 0x0000, 128, To565(64, 64, 64)},
  };
  for (const Case& c : cases) {
    CIImage::SetGlobalAlpha(c.global);
    bb.At(5, 5) = c.dst;
    ASSERT_EQ(DrawPixel(bb, c.rgba), S_OK) << c.name;
    EXPECT_EQ(bb.At(5, 5), c.expected) << c.name;
    CIImage::SetGlobalAlpha(255);
    if (m_hModule) plat::FreeLibrary(m_hModule);
    m_hModule = nullptr;
  }
}

TEST_F(ImageTest, RowsAreBottomUpWithThePaddedStride) {
  plat::DestroyWindow(m_hWnd);
  MakeHost(481, 100);  // an odd width pads each 16-bit row
  BackBuffer bb(m_hWnd);
  ASSERT_EQ(CIImage::BackBufferStride(), 964);
  bb.Fill(0);
  std::vector<uint32_t> row(481, 0x00FF00FF);
  row[0] = row[480] = 0xFF0000FF;
  PackImages({{601, MakePng(481, 1, row)}});
  CIImage image;
  ASSERT_EQ(image.Load(m_hModule, 601), S_OK);
  RECT top{0, 0, 481, 1}, mid{0, 40, 481, 41};
  ASSERT_EQ(image.Draw(bb.Dc(), &top, nullptr, 1), S_OK);
  ASSERT_EQ(image.Draw(bb.Dc(), &mid, nullptr, 1), S_OK);
  // Screen row 0 is the last row in memory.
  const uint16_t* last = CIImage::BackBufferBits() + size_t(99) * (964 / 2);
  EXPECT_EQ(last[0], To565(255, 0, 0));
  EXPECT_EQ(last[480], To565(255, 0, 0));
  EXPECT_EQ(last[1], To565(0, 255, 0));
  for (int32_t x : {0, 480}) {
    EXPECT_EQ(bb.At(x, 40), To565(255, 0, 0)) << x;
    EXPECT_EQ(bb.At(x, 39), 0) << x;
    EXPECT_EQ(bb.At(x, 41), 0) << x;
  }
}

TEST_F(ImageTest, EmptyDestinationsAndSourcesPastTheBitmapDrawNothingOutside) {
  BackBuffer bb(m_hWnd);
  bb.Fill(0x1111);
  PackImages({{602, SolidPng(10, 10, 0xFFFFFFFF)}});
  CIImage image;
  ASSERT_EQ(image.Load(m_hModule, 602), S_OK);
  RECT natural{0, 0, 10, 10};
  ASSERT_EQ(image.Draw(bb.Dc(), &natural, nullptr, 1), S_OK);
  const int64_t bitmaps = plat::CurrentImagingCounters().bitmaps;
  bb.Fill(0x1111);
  for (RECT empty : {RECT{20, 20, 30, 20}, RECT{20, 20, 20, 30}, RECT{30, 30, 20, 20}}) {
    EXPECT_EQ(image.Draw(bb.Dc(), &empty, nullptr, 1), S_OK);
    EXPECT_EQ(image.Draw(bb.Dc(), &empty, nullptr, 0), S_OK);
  }
  EXPECT_EQ(plat::CurrentImagingCounters().bitmaps, bitmaps);
  EXPECT_EQ(bb.At(20, 20), 0x1111);
  EXPECT_EQ(bb.At(25, 25), 0x1111);
  // A source rectangle reaching past the bitmap reads only what is there.
  RECT dst{100, 100, 110, 110};
  RECT src{5, 5, 50, 50};
  EXPECT_EQ(image.DrawAlpha(bb.Dc(), &dst, &src), S_OK);
  EXPECT_EQ(bb.At(100, 100), 0xFFFF);
  EXPECT_EQ(bb.At(104, 104), 0xFFFF);
  EXPECT_EQ(bb.At(105, 105), 0x1111);
  // A destination whose left edge is the clip's last column draws nothing.
  RECT edge{479, 200, 489, 210};
  EXPECT_EQ(image.DrawAlpha(bb.Dc(), &edge, nullptr), S_OK);
  EXPECT_EQ(bb.At(479, 200), 0x1111);
}

TEST_F(ImageTest, AlternatingSizesRecreateTheBitmap) {
  BackBuffer bb(m_hWnd);
  PackImages({{603, SolidPng(8, 8, 0x336699FF)}});
  CIImage image;
  ASSERT_EQ(image.Load(m_hModule, 603), S_OK);
  RECT a{0, 0, 8, 8}, b{0, 0, 16, 4};
  for (int i = 0; i < 4; ++i) {
    const int64_t before = plat::CurrentImagingCounters().bitmaps;
    ASSERT_EQ(image.Draw(bb.Dc(), i % 2 ? &b : &a, nullptr, 1), S_OK);
    EXPECT_EQ(plat::CurrentImagingCounters().bitmaps, before + 1) << i;
  }
  const int64_t before = plat::CurrentImagingCounters().bitmaps;
  ASSERT_EQ(image.Draw(bb.Dc(), &b, nullptr, 1), S_OK);
  EXPECT_EQ(plat::CurrentImagingCounters().bitmaps, before);  // the same size keeps it
  ASSERT_EQ(image.Draw(bb.Dc(), &b, nullptr, 0), S_OK);      // the other mode does not
  EXPECT_EQ(plat::CurrentImagingCounters().bitmaps, before + 1);
  EXPECT_EQ(bb.At(3, 3), To565(0x33, 0x66, 0x99));
}

TEST_F(ImageTest, NewImagesAndLoadFailures) {
  {
    CIImage image;
    EXPECT_EQ(image.GetWidth(), 123);
    EXPECT_EQ(image.GetHeight(), 123);
    EXPECT_FALSE(image.IsLoaded());
    BackBuffer bb(m_hWnd);
    m_tp->ClearDebugLines();
    RECT rc{0, 0, 10, 10};
    EXPECT_EQ(image.Draw(bb.Dc(), &rc, nullptr, 1), E_FAIL);
    EXPECT_TRUE(Lines().empty());
  }
  // A corrupt picture: every draw retries, logs and leaks nothing.
  PackImages({{604, std::vector<uint8_t>{0x89, 'P', 'N', 'G', 0, 1, 2, 3, 4, 5}}});
  BackBuffer bb(m_hWnd);
  CIImage image;
  m_tp->ClearDebugLines();
  EXPECT_LT(image.Load(m_hModule, 604), 0);
  const auto lines = Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_NE(lines[lines.size() - 3].find("]CIImage::Load..ResourceID(604): "), std::string::npos);
  EXPECT_NE(lines[lines.size() - 1].find("]PrintHR..ERROR:"), std::string::npos);
  m_tp->ClearDebugLines();
  RECT rc{0, 0, 10, 10};
  for (int i = 0; i < 100; ++i) EXPECT_LT(image.Draw(bb.Dc(), &rc, nullptr, 1), 0);
  EXPECT_EQ(CountLines("ResourceID(604): "), 100);
  EXPECT_EQ(plat::CurrentImagingCounters().decodes, 0);
  EXPECT_EQ(image.GetResourceID(), 604);
  // A missing resource is a CPR line on the resource.
  CIImage missing;
  m_tp->ClearDebugLines();
  EXPECT_EQ(missing.Load(m_hModule, 999), E_FAIL);
  EXPECT_EQ(CountLines("]CIImage::LoadResourceImage..Error CPR(hRsrc):vy/ImageUtil.cpp"), 1);
}

TEST_F(ImageTest, AnAdoptedBitmapOutlivesItsImageAndIsStretched) {
  plat::BitmapInfo info;
  info.header.width = 2;
  info.header.height = -2;
  info.header.bitCount = 32;
  void* bits = nullptr;
  plat::HBITMAP bmp = plat::CreateDIBSection(nullptr, info, plat::DIB_RGB_COLORS, &bits);
  ASSERT_NE(bmp, nullptr);
  std::fill_n(static_cast<uint32_t*>(bits), 4, 0xFF0000FFu);  // blue
  {
    BackBuffer bb(m_hWnd);
    CIImage image;
    ASSERT_EQ(image.Load(bmp, 0), S_OK);
    EXPECT_TRUE(image.IsLoaded());
    EXPECT_EQ(image.GetWidth(), 2);
    RECT rc{10, 10, 20, 20};
    EXPECT_EQ(image.Draw(bb.Dc(), &rc, nullptr, 1), S_OK);
    EXPECT_EQ(bb.At(19, 19), To565(0, 0, 255));
  }
  plat::BitmapDesc desc;
  EXPECT_GT(plat::GetObject(bmp, &desc), 0);
  plat::DeleteObject(bmp);
}

TEST_F(ImageTest, FillsAndBackBufferBlends) {
  BackBuffer bb(m_hWnd);
  bb.Fill(0);
  RECT rc{10, 10, 20, 20};
  ASSERT_EQ(CIImage::FillColor(bb.Dc(), &rc, plat::RGB(255, 255, 255)), S_OK);
  EXPECT_EQ(bb.At(10, 10), 0xFFFF);
  EXPECT_EQ(bb.At(20, 20), 0);
  CIImage::SetGlobalAlpha(100);
  bb.Fill(0);
  ASSERT_EQ(CIImage::FillColor(bb.Dc(), &rc, plat::RGB(255, 255, 255)), S_OK);
  // Alpha 100 and the colour scaled to 100: 0 - 0 + T[100][100] = 39.
  EXPECT_EQ(bb.At(15, 15), To565(39, 39, 39));
  CIImage::SetGlobalAlpha(255);
  bb.Fill(0xFFFF);
  ASSERT_EQ(CIImage::FillAlpha(bb.Dc(), &rc, 0x00000000, 1), S_OK);
  EXPECT_EQ(bb.At(15, 15), 0xFFFF);
  ASSERT_EQ(CIImage::FillAlpha(bb.Dc(), &rc, 0x80000000, 1), S_OK);
  EXPECT_EQ(bb.At(15, 15), To565(124, 126, 124));
  EXPECT_EQ(bb.At(9, 9), 0xFFFF);

  // A fade snapshot of another size is refused.
  MemDCInfo snapshot;
  ASSERT_EQ(snapshot.Capture(m_hWnd, 0), S_OK);
  RECT all{0, 0, 480, 800};
  EXPECT_EQ(CIImage::BlendBackBuffer(&snapshot, &all, 100), S_OK);
  plat::SetWindowPos(m_hWnd, nullptr, 0, 0, 200, 200, plat::SWP_NOZORDER);
  snapshot.Release();
  ASSERT_EQ(snapshot.Capture(m_hWnd, 0), S_OK);
  EXPECT_EQ(CIImage::BlendBackBuffer(&snapshot, &all, 100), E_FAIL);
  snapshot.Release();
}

TEST_F(ImageTest, TheFactoryStopsWithTheLastImageAfterReserveDestroy) {
  {
    CIImage a;
    CIImage b = a;
    CIImage c;
    EXPECT_EQ(CIImage::LiveValueCount(), 2);
    CIImage::ReserveDestroy();
    m_tp->ClearDebugLines();
  }
  EXPECT_EQ(CIImage::LiveValueCount(), 0);
  EXPECT_EQ(CountLines("]CIImage::Destroy..CoUninitialize() Finished."), 1);
  EXPECT_EQ(plat::CurrentImagingCounters().coUninitialize, 1);
}

// ---- Frame skin and line ----

class FrameSkinTest : public ImageTest {
 protected:
  // Solid pieces: vertical edge 3 x 1 red, horizontal edge 1 x 4 green,
  // corners 6 x 5 in their own colours.
  void SetUp() override {
    ImageTest::SetUp();
    PackImages({{643, SolidPng(3, 1, 0xFF0000FF)},
                {644, SolidPng(1, 4, 0x00FF00FF)},
                {645, SolidPng(6, 5, 0x0000FFFF)},
                {646, SolidPng(6, 5, 0xFFFF00FF)},
                {647, SolidPng(6, 5, 0x00FFFFFF)},
                {648, SolidPng(6, 5, 0xFF00FFFF)}});
  }
};

TEST_F(FrameSkinTest, EightPiecesInsideTheRectangle) {
  BackBuffer bb(m_hWnd);
  bb.Fill(0);
  CFrameSkin skin;
  skin.Draw(bb.Dc(), RECT{10, 10, 60, 40});
  EXPECT_EQ(bb.At(10, 10), 0);  // nothing before Load
  skin.Load(643, 644, 645, 646, 647, 648);
  skin.Load(700, 701, 702, 703, 704, 705);  // a second load changes nothing
  EXPECT_EQ(skin.Image(0).GetResourceID(), 643);
  skin.Draw(bb.Dc(), RECT{10, 10, 60, 40});
  struct Probe {
    int32_t x, y;
    uint16_t colour;
  } probes[] = {
      {10, 10, To565(0, 0, 255)},   {15, 14, To565(0, 0, 255)},   {16, 10, To565(0, 255, 0)},
      {53, 13, To565(0, 255, 0)},   {54, 10, To565(0, 255, 255)}, {59, 14, To565(0, 255, 255)},
      {10, 15, To565(255, 0, 0)},   {12, 34, To565(255, 0, 0)},   {13, 20, 0},
      {10, 35, To565(255, 255, 0)}, {57, 15, To565(255, 0, 0)},   {54, 35, To565(255, 0, 255)},
      {16, 36, To565(0, 255, 0)},   {30, 25, 0},                  {60, 40, 0},
  };
  for (const Probe& p : probes) EXPECT_EQ(bb.At(p.x, p.y), p.colour) << p.x << "," << p.y;
}

TEST_F(FrameSkinTest, NarrowAndShortRectanglesSkipTheirEdges) {
  BackBuffer bb(m_hWnd);
  bb.Fill(0);
  CFrameSkin skin;
  skin.Load(643, 644, 645, 646, 647, 648);
  // 10 wide: the corners overlap, no top or bottom edge; 8 high: no sides.
  skin.Draw(bb.Dc(), RECT{100, 100, 110, 108});
  EXPECT_EQ(bb.At(100, 100), To565(0, 0, 255));
  EXPECT_EQ(bb.At(104, 100), To565(0, 255, 255));  // the top-right corner over the top-left
  EXPECT_EQ(bb.At(109, 107), To565(255, 0, 255));
  for (int32_t y = 100; y < 108; ++y)
    for (int32_t x = 100; x < 110; ++x) EXPECT_NE(bb.At(x, y), To565(0, 255, 0)) << x << "," << y;
  for (int32_t y = 100; y < 108; ++y) EXPECT_NE(bb.At(100, y), To565(255, 0, 0)) << y;
  // Pieces that did not load take no room.
  CFrameSkin partial;
  partial.Load(643, 644, 900, 646, 647, 648);
  bb.Fill(0);
  partial.Draw(bb.Dc(), RECT{200, 200, 260, 240});
  EXPECT_EQ(bb.At(203, 200), To565(0, 255, 0));  // the top edge starts at the left
  EXPECT_EQ(bb.At(200, 200), To565(255, 0, 0));  // the left edge at the top
  EXPECT_EQ(GetFrameSkin(), GetFrameSkin());
  EXPECT_NE(GetFrameSkin(), nullptr);
}

TEST_F(ImageTest, LinesFillTheirOffsetRectUnlessHidden) {
  BackBuffer bb(m_hWnd);
  bb.Fill(0);
  CVyLine line(10, 10, 50, 12, plat::RGB(255, 255, 255));
  line.SetOffset(0, 5);
  EXPECT_EQ(line.Draw(bb.Dc()), 0);
  EXPECT_EQ(bb.At(10, 15), 0xFFFF);
  EXPECT_EQ(bb.At(49, 16), 0xFFFF);
  EXPECT_EQ(bb.At(10, 10), 0);
  bb.Fill(0);
  line.SetVisible(0, 0);
  EXPECT_EQ(line.Draw(bb.Dc()), 1);
  EXPECT_EQ(bb.At(10, 15), 0);
}

}  // namespace
