// The resource registry: registration rules, strings by id, images by slot
// with their two caches, options, and the singleton's life.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "framework/Resources.h"
#include "graphics_test_util.h"

namespace {

using gfx::Held;

int32_t ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Env::TSysErrorCode& e) {
    return e.code;
  }
  return 0;
}

int32_t PanicLine(const std::function<void()>& f) {
  try {
    f();
  } catch (const TPanic& p) {
    EXPECT_EQ(std::u16string(p.source), u"Resources");
    return p.line;
  }
  return 0;
}

class CountedText : public IStringSource {
 public:
  CountedText(plat::WString text, int* deleted) : m_text(std::move(text)), m_deleted(deleted) {}
  ~CountedText() override {
    if (m_deleted) ++*m_deleted;
  }
  void Get(plat::WString& rText) override { rText = m_text; }
  plat::WString m_text;

 private:
  int* m_deleted;
};

// Makes a w x h picture on every load and counts the loads.
class CountedImage : public IImageSource {
 public:
  CountedImage(int32_t w, int32_t h, bool alpha = true) : m_w(w), m_h(h), m_alpha(alpha) {}
  ~CountedImage() override {
    if (m_deleted) ++*m_deleted;
  }
  CBitmap* Get() override {
    ++m_loads;
    if (m_throw) Env::ThrowError(Env::ErrSystem);
    if (m_null) return nullptr;
    gfx::Surface s(m_w, m_h);
    s.Fill(0xFF336699);
    return s.ToBitmap(m_alpha);
  }
  int m_loads = 0;
  bool m_throw = false;
  bool m_null = false;
  int* m_deleted = nullptr;

 private:
  int32_t m_w, m_h;
  bool m_alpha;
};

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override { CResources::Create(); }
  void TearDown() override {
    if (CResources::Instance()) CResources::Destroy();
  }
  // A source the registry holds (the test keeps a plain pointer).
  CountedImage* AddImage(int32_t slot, int32_t w, int32_t h) {
    auto* source = new CountedImage(w, h);
    CResources::RegisterImageSource(slot, source);
    return source;
  }
  static CBitmap* Image(int32_t slot, int32_t mode, const RECT& rc) { return CResources::GetImage(slot, mode, rc); }
};

TEST_F(ResourcesTest, StringsByIdAndRegistrationErrors) {
  int deleted = 0;
  auto* hello = new CountedText(u"Hello", &deleted);
  CResources::RegisterStringSource(0, hello);
  CResources::RegisterStringSource(230, new CountedText(u"Last", &deleted));
  EXPECT_EQ(CResources::GetString(0), u"Hello");
  EXPECT_EQ(CResources::GetString(230), u"Last");
  // The text is asked for every time: a source may change it.
  hello->m_text = u"Bonjour";
  EXPECT_EQ(CResources::GetString(0), u"Bonjour");

  EXPECT_EQ(ErrorOf([] { CResources::GetString(1); }), Env::ErrNotFound);
  // A duplicate is refused; a fresh source nobody holds is not leaked, and
  // the registered one stays.
  EXPECT_EQ(ErrorOf([&] { CResources::RegisterStringSource(0, new CountedText(u"Dup", &deleted)); }),
            Env::ErrAlreadyExists);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(CResources::GetString(0), u"Bonjour");
  // A source the caller holds survives the refusal.
  Held<CountedText> held(new CountedText(u"Held", &deleted));
  held->addReference();
  EXPECT_EQ(ErrorOf([&] { CResources::RegisterStringSource(230, held.get()); }), Env::ErrAlreadyExists);
  EXPECT_EQ(held->ReferenceCount(), 1);
  EXPECT_EQ(ErrorOf([] { CResources::RegisterStringSource(5, nullptr); }), Env::ErrBadArgument);

  AddImage(7, 4, 4);
  EXPECT_EQ(ErrorOf([&] { CResources::RegisterImageSource(7, new CountedImage(1, 1)); }), Env::ErrAlreadyExists);
  EXPECT_EQ(ErrorOf([] { Image(8, EScaleNone, {}); }), Env::ErrNotFound);
  EXPECT_EQ(ErrorOf([] { Image(7, 3, {0, 0, 4, 4}); }), Env::ErrBadArgument);

  // Destroy lets go of every source.
  CResources::Destroy();
  EXPECT_EQ(deleted, 3);
}

TEST_F(ResourcesTest, TheUnscaledPictureServesItsOwnSize) {
  CountedImage* source = AddImage(3, 40, 30);
  Held<CBitmap> own(Image(3, EScaleStretch, {0, 0, 40, 30}));
  EXPECT_EQ(own->GetSize(), (RECT{0, 0, 40, 30}));
  EXPECT_EQ(CResources::Instance()->ScaledCount(), 0u);
  // Same size elsewhere (a box inset by a margin): still the unscaled one.
  Held<CBitmap> inset(Image(3, EScaleProportional, {12, 7, 52, 37}));
  EXPECT_EQ(inset.get(), own.get());
  // Mode 2 always gives it, whatever the target.
  Held<CBitmap> kept(Image(3, EScaleNone, {0, 0, 5, 5}));
  EXPECT_EQ(kept.get(), own.get());
  EXPECT_EQ(CResources::Instance()->ScaledCount(), 0u);
  EXPECT_EQ(source->m_loads, 1);
  // Each caller got its own reference, the cache holds one more.
  EXPECT_EQ(own->ReferenceCount(), 4);
}

TEST_F(ResourcesTest, ScaledCopiesAreMadeOncePerSlotSizeAndMode) {
  CountedImage* source = AddImage(1, 40, 30);
  AddImage(2, 40, 30);
  Held<CBitmap> a(Image(1, EScaleStretch, {0, 0, 20, 15}));
  Held<CBitmap> b(Image(1, EScaleStretch, {100, 100, 120, 115}));
  EXPECT_EQ(a.get(), b.get());
  EXPECT_EQ(a->GetSize(), (RECT{0, 0, 20, 15}));
  EXPECT_EQ(CResources::Instance()->ScaledCount(), 1u);
  // Another mode, size or slot is another copy.
  Held<CBitmap> c(Image(1, EScaleProportional, {0, 0, 20, 15}));
  Held<CBitmap> d(Image(1, EScaleStretch, {0, 0, 21, 15}));
  Held<CBitmap> e(Image(2, EScaleStretch, {0, 0, 20, 15}));
  EXPECT_NE(c.get(), a.get());
  EXPECT_NE(d.get(), a.get());
  EXPECT_NE(e.get(), a.get());
  EXPECT_EQ(CResources::Instance()->ScaledCount(), 4u);
  EXPECT_EQ(CResources::Instance()->UnscaledCount(), 2u);
  EXPECT_EQ(source->m_loads, 1);
  // A target too small to draw into gives an empty bitmap, also cached.
  Held<CBitmap> none(Image(1, EScaleStretch, {0, 0, 0, 15}));
  EXPECT_EQ(none->Handle(), nullptr);
}

TEST_F(ResourcesTest, ClearingTheCachesLoadsAgainAndKeepsHeldBitmaps) {
  CountedImage* source = AddImage(9, 16, 16);
  Held<CBitmap> unscaled(Image(9, EScaleNone, {}));
  Held<CBitmap> scaled(Image(9, EScaleStretch, {0, 0, 8, 8}));
  EXPECT_EQ(source->m_loads, 1);
  CResources::ClearCaches();
  EXPECT_EQ(CResources::Instance()->ScaledCount(), 0u);
  EXPECT_EQ(CResources::Instance()->UnscaledCount(), 0u);
  // The held bitmaps are still whole (their pixels read back; ASan watches).
  EXPECT_EQ(unscaled->ReferenceCount(), 1);
  EXPECT_EQ(scaled->ReferenceCount(), 1);
  for (uint32_t v : gfx::Pixels(scaled.get())) EXPECT_EQ(v, 0xFF336699u);
  for (uint32_t v : gfx::Pixels(unscaled.get())) EXPECT_EQ(v, 0xFF336699u);
  // The next request decodes again and scales again.
  Held<CBitmap> again(Image(9, EScaleStretch, {0, 0, 8, 8}));
  EXPECT_EQ(source->m_loads, 2);
  EXPECT_NE(again.get(), scaled.get());
  // Bitmaps outlive the registry too.
  CResources::Destroy();
  EXPECT_EQ(again->ReferenceCount(), 1);
  EXPECT_EQ(gfx::Pixels(again.get()).front(), 0xFF336699u);
}

TEST_F(ResourcesTest, FailingSourcesLeaveNothingBehind) {
  CountedImage* source = AddImage(4, 8, 8);
  source->m_throw = true;
  EXPECT_EQ(ErrorOf([] { Image(4, EScaleNone, {}); }), Env::ErrSystem);
  source->m_throw = false;
  source->m_null = true;
  EXPECT_EQ(ErrorOf([] { Image(4, EScaleNone, {}); }), Env::ErrSystem);
  EXPECT_EQ(CResources::Instance()->UnscaledCount(), 0u);
  source->m_null = false;
  Held<CBitmap> ok(Image(4, EScaleNone, {}));
  EXPECT_EQ(source->m_loads, 3);
}

TEST_F(ResourcesTest, OptionsFallBackToTheCallersDefault) {
  EXPECT_EQ(CResources::GetOption(EOptionLandscape, -7), -7);
  CResources::SetOption(EOptionLandscape, 1);
  EXPECT_EQ(CResources::GetOption(EOptionLandscape, 0), 1);
  CResources::SetOption(EOptionLandscape, 0);
  EXPECT_EQ(CResources::GetOption(EOptionLandscape, 5), 0);
  EXPECT_EQ(CResources::GetOption(12345, 42), 42);
}

TEST_F(ResourcesTest, OneRegistryAtATime) {
  EXPECT_EQ(PanicLine([] { CResources::Create(); }), 34);
  CResources::Destroy();
  EXPECT_EQ(CResources::Instance(), nullptr);
  const std::pair<int, std::function<void()>> calls[] = {
      {40, [] { CResources::Destroy(); }},
      {47, [] { CResources::RegisterStringSource(0, nullptr); }},
      {76, [] { CResources::RegisterImageSource(0, nullptr); }},
      {63, [] { CResources::GetString(0); }},
      {94, [] { CResources::GetImage(0, 0, {}); }},
      {139, [] { CResources::ClearCaches(); }},
      {158, [] { CResources::GetOption(0, 0); }},
      {168, [] { CResources::SetOption(0, 0); }},
  };
  for (const auto& [line, call] : calls) EXPECT_EQ(PanicLine(call), line);
  // A new registry starts empty.
  CResources::Create();
  EXPECT_EQ(ErrorOf([] { CResources::GetString(0); }), Env::ErrNotFound);
  EXPECT_EQ(CResources::GetOption(EOptionLandscape, 3), 3);
}

}  // namespace
