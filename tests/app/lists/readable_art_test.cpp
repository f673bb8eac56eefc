// The program's own pictures under what the user reads on them, drawn with
// the build's main pack: each caption against every pixel of its box with
// the caption taken away, and a progress bar's unplayed groove against what
// lies around it, on the screens where they meet.
#include <optional>
#include <string>
#include <vector>

#include "ScreensHarness.h"
#include "app/ImageSource.h"
#include "framework/Theme.h"
#include "platform/fs/FileSystem.h"
#include "platform/module/Module.h"
#include "tests/support/Contrast.h"

namespace screenstest {
namespace {

using support::Contrast565;

enum class EScene { Message, MessagePressed, Progress, PlayingRow, PlayingRowAtRest };

class ReadableArtTest : public ScreensHarness {
 protected:
  void TearDown() override {
    ScreensHarness::TearDown();
    plat::SetMainModule(nullptr);
    if (m_art) plat::FreeLibrary(m_art);
    m_art = nullptr;
  }
  // The pictures of the build's main pack, as the program registers them.
  void UseProgramArt() {
    m_registerImages = [this] {
      plat::FileSystemConfig files = plat::CurrentFileSystemConfig();
      files.programFolder = QUOREL_BIN_DIR;
      files.programMount = u"\\Program Files\\Quorel";
      ASSERT_TRUE(plat::ConfigureFileSystem(files));
      m_art = plat::LoadLibrary(u"\\Program Files\\Quorel\\Quorel.res");
      ASSERT_NE(nullptr, m_art) << "no main pack in " << QUOREL_BIN_DIR;
      plat::SetMainModule(m_art);
      RegisterImages();
    };
  }

  // What is read: a caption in its colour, or a bar half played.
  struct TRead {
    std::string what;
    CControl* p;
    std::optional<TColor> text;  // none: a bar
  };
  // Opens the scene on the results screen; what it shows to be read.
  std::vector<TRead> Open(EScene scene, uint32_t nTheme) {
    const TColor dialogText = ThemeDialogTextColor(nTheme);
    auto caption = [](CtlAdvButton* p) { return p->FirstChild(); };
    if (scene == EScene::Message || scene == EScene::MessagePressed) {
      CMessageDialog* p = CMessageDialog::Create(3, {}, 7, {}, 44, 2);
      return {{"left button", caption(p->LeftButton()), dialogText},
              {"right button", caption(p->RightButton()), dialogText}};
    }
    if (scene == EScene::Progress) {
      CProgressDialog* p = CProgressDialog::Create(0, {}, 7, {}, 86, 1);
      p->SetProgress(1, 2);
      return {{"button", caption(p->RightButton()), dialogText}, {"bar", p->Bar(), std::nullopt}};
    }
    Panel()->OnPlayPressed(0);
    PreviewScript().length = 100;
    PreviewScript().played = 50;
    Tick();
    const CRecordListItem& row = Panel()->Row(0);
    if (scene == EScene::PlayingRowAtRest) {
      Panel()->Row(2).pButton->SetFocus();
      return {{"bar", row.pBar, std::nullopt}};
    }
    return {{"bar", row.pBar, std::nullopt},
            {"title", row.pTitle, ThemeCaptionColor(nTheme)},
            {"subtitle", row.pSubtitle, ThemeSecondaryTextColor(nTheme)}};
  }
  std::vector<uint16_t> Pixels(const RECT& rc) const {
    std::vector<uint16_t> out;
    for (int32_t y = rc.top; y < rc.bottom; ++y)
      for (int32_t x = rc.left; x < rc.right; ++x) out.push_back(m_tp->Pixel(x, y));
    return out;
  }
  // `shown` with the read thing, `behind` without it, over its rectangle.
  static void Expect(const TRead& r, const RECT& rc, const std::vector<uint16_t>& shown,
                     const std::vector<uint16_t>& behind) {
    if (r.text) {
      // The caption's colour against every pixel of its box; a box where no
      // pixel shows that colour has no caption to measure.
      const uint16_t ink = apptest::To565(*r.text);
      ASSERT_NE(shown.end(), std::find(shown.begin(), shown.end(), ink)) << r.what;
      double worst = 21;
      for (uint16_t p : behind) worst = std::min(worst, Contrast565(ink, p));
      EXPECT_GE(worst, 3.0) << r.what;
      return;
    }
    // The unplayed half, less the ends (rounded caps) and the border of the
    // played share: each column shows the groove somewhere; and the played
    // middle against the unplayed middle.
    const int32_t w = rc.right - rc.left, h = rc.bottom - rc.top;
    double edge = 21;
    for (int32_t x = w / 2 + h; x < w - h; ++x) {
      double best = 1;
      for (int32_t y = 0; y < h; ++y) best = std::max(best, Contrast565(shown[y * w + x], behind[y * w + x]));
      edge = std::min(edge, best);
    }
    EXPECT_GE(edge, 3.0) << r.what << ": the groove's edge";
    EXPECT_GE(Contrast565(shown[h / 2 * w + w / 4], shown[h / 2 * w + w * 3 / 4]), 3.0)
        << r.what << ": the played share against the groove";
  }

  plat::ModuleHandle m_art = nullptr;
};

// Dialog buttons: one set of pictures for every theme, under white (theme 0)
// or black captions. Theme 1 lights a focused row in landscape only. A
// playing row's bar on the lit row and on a row at rest; the progress bar on
// the dialog's inside, white in theme 1.
TEST_F(ReadableArtTest, CaptionsTitlesAndBarsStandOutFromThePicturesBehindThem) {
  const struct {
    const char* name;
    EScene scene;
    uint32_t theme;
    bool landscape;
  } cases[] = {
      {"message, theme 0", EScene::Message, 0, false},
      {"message, theme 1", EScene::Message, 1, false},
      {"message, theme 2, right button held", EScene::MessagePressed, 2, false},
      {"progress, theme 0", EScene::Progress, 0, false},
      {"progress, theme 1", EScene::Progress, 1, false},
      {"playing row, theme 0", EScene::PlayingRow, 0, false},
      {"playing row at rest, theme 0", EScene::PlayingRowAtRest, 0, false},
      {"playing row, theme 1, landscape", EScene::PlayingRow, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<TRead> reads;
    std::vector<std::vector<uint16_t>> shown;
    MakeScreens(c.theme);
    UseProgramArt();
    LoadResults(kResults);
    const TStep settle = Until([this] { return m_app->Queue().IsEmpty(); }, 2000);
    Run({[] {
           StartScreens();
           CAppUi::Instance()->ActivateView(4);
         },
         [&, this] {
           if (c.landscape) m_tp->Rotate(90);
         },
         settle, [&, this] { reads = Open(c.scene, c.theme); },
         [&, this] {
           if (c.scene != EScene::MessagePressed) return;
           const RECT rc = CMessageDialog::OpenDialogs().back()->RightButton()->ScreenRect();
           m_tp->Down((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
         },
         settle,
         [&, this] {
           for (const TRead& r : reads) {
             shown.push_back(Pixels(r.p->ScreenRect()));
             r.p->SetVisible(false);
           }
         },
         settle,
         [&, this] {
           ASSERT_EQ(reads.size(), shown.size());
           for (size_t i = 0; i < reads.size(); ++i) {
             const RECT rc = reads[i].p->ScreenRect();
             Expect(reads[i], rc, shown[i], Pixels(rc));
           }
         }});
    TearDown();
  }
}

}  // namespace
}  // namespace screenstest
