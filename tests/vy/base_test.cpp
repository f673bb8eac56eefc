// Conventions, shared values, the move animation and device feedback.
#include <regex>

#include "vy/VyFont.h"
#include "vy_test_support.h"

namespace {

using vytest::VyFixture;

// Operations built on the check macros, to see each one leave early.
HRESULT CheckPointer(const int* pValue, int* pReached) {
  CPR(pValue);
  *pReached = 1;
  return S_OK;
}
int32_t CheckCondition(bool bOk, int* pReached) {
  CBR_RET(bOk, 7);
  *pReached = 1;
  return 1;
}
HRESULT CheckResult(HRESULT hr, int* pReached) {
  CHR(hr);
  *pReached = 1;
  return S_OK;
}
struct TCounted {
  int32_t nLeft;
  int32_t Release() { return nLeft; }
};
HRESULT ReleaseCounted(TCounted*& p, int* pReached) {
  RELEASE_OBJ(p);
  *pReached = 1;
  return S_OK;
}

TEST(VyScaleTest, DesignLengthsByDpi) {
  struct Case {
    int32_t dpi, n, expected;
  } cases[] = {{96, 20, 10}, {96, 352, 176}, {96, 450, 225}, {96, 3, 2},  {96, 66, 33},   {96, 11, 6},
               {192, 20, 20}, {192, 352, 352}, {192, 1, 1},  {130, 66, 45}, {-1, 20, 0},    {-1, 287, 0},
               {-1, 352, -1}, {-1, 450, -1}};
  for (const Case& c : cases) EXPECT_EQ(VyScale(c.dpi, c.n), c.expected) << c.dpi << " " << c.n;
}

TEST_F(VyFixture, MetricsAt192DpiAreTheDesignValuesAndStay) {
  EXPECT_EQ(VyFocusLineTolerance(), 20);
  EXPECT_EQ(VyEditMetric(), 57);
  EXPECT_EQ(VyLabelMetric(), 3);
  const TVyBasicMenuMetrics& m = VyBasicMenuMetrics();
  EXPECT_EQ(m.nNestedWidth, 352);
  EXPECT_EQ(m.nNestedHeight, 450);
  EXPECT_EQ(m.nItemHeight, 66);
  EXPECT_EQ(m.nItem11b, 11);
  // Computed once: a later DPI change does not reach them.
  plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"Dpi", 96);
  plat::ReloadDisplayConfig();
  EXPECT_EQ(VyReadScreenDpi(), 96);
  EXPECT_EQ(VyFocusLineTolerance(), 20);
  EXPECT_EQ(VyBasicMenuMetrics().nNestedWidth, 352);
}

TEST_F(VyFixture, SetNameNullWritesOneCprLineAndKeepsTheName) {
  CVyControl c;
  ASSERT_EQ(c.SetName(u"first"), S_OK);
  m_tp->ClearDebugLines();
  EXPECT_EQ(c.SetName(nullptr), E_FAIL);
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_TRUE(std::regex_match(
      Lines()[0], std::regex(R"(\[Quorel\.exe\]CVyControl::SetName\.\.Error CPR\(pwszName\):vy/VyControl\.cpp line \d+)")))
      << Lines()[0];
  EXPECT_EQ(plat::WString(c.GetName()), u"first");
}

TEST_F(VyFixture, EachCheckMacroLogsAndLeavesEarly) {
  int reached = 0;
  EXPECT_EQ(CheckPointer(nullptr, &reached), E_FAIL);
  EXPECT_EQ(CheckCondition(false, &reached), 7);
  EXPECT_EQ(CheckResult(static_cast<HRESULT>(0x80070002u), &reached), static_cast<HRESULT>(0x80070002u));
  TCounted bad{-1};
  TCounted* p = &bad;
  EXPECT_EQ(ReleaseCounted(p, &reached), E_FAIL);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(reached, 0);
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[0].find("CheckPointer..Error CPR(pValue):"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("CheckCondition..Error CBR(bOk):"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("..Error CHR(hr):"), std::string::npos);
  EXPECT_NE(lines[2].find(", hr = -2147024894"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("..Error RELEASE_OBJ(p):"), std::string::npos) << lines[3];
  // Passing checks log nothing and go on.
  m_tp->ClearDebugLines();
  int value = 1;
  TCounted good{0};
  TCounted* q = &good;
  EXPECT_EQ(CheckPointer(&value, &reached), S_OK);
  EXPECT_EQ(ReleaseCounted(q, &reached), S_OK);
  EXPECT_EQ(q, nullptr);
  EXPECT_TRUE(Lines().empty());
}

TEST_F(VyFixture, ALongMessageIsCutTo1024Units) {
  VY_LOG(u"%s", plat::WString(2000, u'x'));
  ASSERT_EQ(Lines().size(), 1u);
  const std::string line = Lines()[0];
  const size_t at = line.find("..");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(line.size() - at - 2, kVyMessageUnits);
}

// ---- Values ----

struct TProbeValue : RCObject {
  static inline int s_nDeleted = 0;
  static inline int s_nCopies = 0;
  TProbeValue() = default;
  TProbeValue(const TProbeValue& o) : RCObject(o) { ++s_nCopies; }
  ~TProbeValue() override { ++s_nDeleted; }
  using RCObject::SetShareable;
};
using TProbe = TVyHandle<TProbeValue>;

TEST(VyHandleTest, BindingRules) {
  TProbeValue::s_nDeleted = TProbeValue::s_nCopies = 0;
  {
    TProbe a(new TProbeValue());
    TProbeValue* v = a.Value();
    EXPECT_EQ(v->ReferenceCount(), 1);
    a = a;  // the value it holds: nothing changes
    EXPECT_EQ(v->ReferenceCount(), 1);
    TProbe b(a);
    a = b;  // both hold one value: nothing changes
    EXPECT_EQ(v->ReferenceCount(), 2);
    TProbe c(new TProbeValue());
    TProbeValue* w = c.Value();
    c = a;  // w had only c: deleted once c holds v
    EXPECT_EQ(TProbeValue::s_nDeleted, 1);
    EXPECT_EQ(c.Value(), v);
    EXPECT_EQ(v->ReferenceCount(), 3);
    (void)w;
    // An unshareable value is copied for the new holder.
    v->SetShareable(false);
    TProbe d(a);
    EXPECT_NE(d.Value(), v);
    EXPECT_EQ(TProbeValue::s_nCopies, 1);
    TProbe none;
    EXPECT_EQ(none.Value(), nullptr);
    TProbe fromNone(none);
    EXPECT_EQ(fromNone.Value(), nullptr);
  }
  EXPECT_EQ(TProbeValue::s_nDeleted, 3);
}

TEST_F(VyFixture, FontsShareOneGdiFontAndRestoreTheDc) {
  CVyFont a(500, 20, 0x0000FF, u"Tahoma", 0, 0);
  CVyFont b = a;
  ASSERT_NE(a.GetHFont(), nullptr);
  EXPECT_EQ(a.GetHFont(), b.GetHFont());
  EXPECT_EQ(a.GetEscapement(), 0);
  b.SetColor(0x00FF00);
  EXPECT_EQ(a.Value()->m_colour, 0x00FF00u);

  plat::HDC dc = plat::CreateCompatibleDC(nullptr);
  plat::FontDesc desc;
  plat::HFONT original = plat::CreateFontIndirect(desc);
  plat::SelectObject(dc, original);
  plat::SetTextColor(dc, 0x123456);
  plat::SetBkMode(dc, plat::OPAQUE);
  a.Select(dc, 1);
  EXPECT_EQ(plat::GetTextColor(dc), 0x00FF00u);
  EXPECT_EQ(plat::GetBkMode(dc), plat::TRANSPARENT);
  a.Select(dc, 0);
  EXPECT_EQ(plat::GetTextColor(dc), 0x123456u);
  EXPECT_EQ(plat::GetBkMode(dc), plat::OPAQUE);
  EXPECT_EQ(plat::SelectObject(dc, original), original);  // the original font is back
  plat::DeleteDC(dc);
  plat::DeleteObject(original);

  // A copy of an unshareable value makes its own font; a null handle does
  // nothing.
  a.Value()->SetShareable(false);
  CVyFont c = a;
  ASSERT_NE(c.GetHFont(), nullptr);
  EXPECT_NE(c.GetHFont(), a.GetHFont());
  CVyFont none;
  none.SetColor(1);
  EXPECT_EQ(none.Select(nullptr, 1), 1);
  EXPECT_EQ(none.GetHFont(), nullptr);
}

// ---- Animation ----

TEST(VyAnimationTest, CalcAnimationStep) {
  struct Case {
    int32_t distance, minStep, expected;
  } cases[] = {{0, 5, 5}, {10, 5, 15}, {100, 5, 45}, {480, 5, 100}, {800, 5, 125}, {100000, 100000, 100000}};
  for (const Case& c : cases) EXPECT_EQ(CalcAnimationStep(c.distance, c.minStep), c.expected) << c.distance;
  // A step below 1 counts as 1 and the search still ends.
  EXPECT_EQ(CalcAnimationStep(100, 0), CalcAnimationStep(100, 1));
  EXPECT_EQ(CalcAnimationStep(100, -3), CalcAnimationStep(100, 1));
  EXPECT_LE(CalcAnimationStep(2000000000, 0), 100000);
}

std::vector<int32_t> RunAnim(TMoveAnimation* anim, int32_t pos, int maxSteps = 100) {
  std::vector<int32_t> out;
  while (maxSteps-- > 0 && StepMoveAnimation(anim, &pos) == 0) out.push_back(pos);
  return out;
}

TEST(VyAnimationTest, MoveRunsOvershootAndSettle) {
  TMoveAnimation a{};
  EXPECT_EQ(InitMoveAnimation(&a, 0, 100, 0, 0), 45u);
  EXPECT_EQ(RunAnim(&a, 0), (std::vector<int32_t>{22, 42, 59, 74, 86, 96, 103, 100}));

  InitMoveAnimation(&a, -480, 0, 1, 50);
  EXPECT_EQ(a.nSpeed, 150);
  EXPECT_EQ(a.nTargetX, 0);
  InitMoveAnimation(&a, 0, -480, 1, 50);
  EXPECT_EQ(a.nSpeed, -150);

  // A menu slide: 700 to 0 with boost 80 lands in 7 frames.
  InitMoveAnimation(&a, 700, 0, 0, 80);
  const std::vector<int32_t> slide = RunAnim(&a, 700);
  ASSERT_EQ(slide.size(), 7u);
  EXPECT_EQ(slide.back(), 0);

  ResetMoveAnimation(&a);
  int32_t pos = 37;
  EXPECT_EQ(StepMoveAnimation(&a, &pos), 1);
  EXPECT_EQ(pos, 37);
}

// ---- Feedback ----

TEST_F(VyFixture, FeedbackFollowsTheSettingsAtEveryCall) {
  MakeFeedbackFiles();
  for (int64_t event : {-1, 2, 1})
    for (int64_t vibe : {0, 1})
      for (int64_t sound : {0, 1}) {
        Stop();
        Start(plat::TestConfig{});
        MakeFeedbackFiles();
        SetTouchSettings(event, vibe, sound);
        const bool on = event == 1;
        EXPECT_EQ(PlayHapticEffect(u"windows\\press.ivt"), on && vibe ? 1 : 0);
        EXPECT_EQ(PlayLumatapSound(u"49_button.wav"), on && sound ? 1 : 0);
        std::vector<std::string> expected;
        if (on && vibe) expected.push_back("v windows\\press.ivt");
        if (on && sound) expected.push_back("s 49_button.wav");
        EXPECT_EQ(Played(), expected) << event << vibe << sound;
      }
  // The effect resolves under the device's Windows folder.
  ASSERT_FALSE(plat::FeedbackEvents().empty());
  EXPECT_EQ(plat::FeedbackEvents()[0].file.filename(), "press.ivt");
}

TEST_F(VyFixture, AFailedSoundLogsBRetAndStillCounts) {
  SetTouchSettings(1, 1, 1);
  EXPECT_EQ(PlayLumatapSound(u"missing.wav"), 1);
  EXPECT_EQ(CountLines("]PlayLumatapSound..Error CBR(bRet):vy/VyUtil.cpp line"), 1);
  // A missing effect file is ignored: still 1, nothing logged.
  EXPECT_EQ(PlayHapticEffect(u"windows\\none.ivt"), 1);
  EXPECT_EQ(CountLines("PlayHapticEffect"), 0);
}

TEST_F(VyFixture, InputPanelFollowsTheSlide) {
  const char16_t* key = u"ControlPanel\\MotionSensor";
  plat::WriteDword(plat::HKEY_CURRENT_USER, key, u"SlideState", 1);
  EXPECT_EQ(UpdateSipForSlide(1), 0);
  plat::SipInfo info;
  info.cbSize = sizeof info;
  plat::SipGetInfo(&info);
  EXPECT_EQ(info.fdwFlags & plat::SIPF_ON, 0u);
  EXPECT_EQ(UpdateSipForSlide(0), 0);  // off already
  plat::WriteDword(plat::HKEY_CURRENT_USER, key, u"SlideState", 0);
  EXPECT_EQ(UpdateSipForSlide(1), 1);
  plat::SipGetInfo(&info);
  EXPECT_NE(info.fdwFlags & plat::SIPF_ON, 0u);
  EXPECT_EQ(UpdateSipForSlide(0), 1);
  plat::SipGetInfo(&info);
  EXPECT_EQ(info.fdwFlags & plat::SIPF_ON, 0u);
}

TEST_F(VyFixture, LargeScreenMemoryFigureAndHresultPrinter) {
  struct Case {
    int32_t w, h, large;
  } cases[] = {{240, 320, 0}, {320, 240, 0}, {480, 640, 1}, {240, 240, 0}, {480, 800, 1}};
  for (const Case& c : cases) {
    Stop();
    plat::TestConfig config;
    config.screenWidth = c.w;
    config.screenHeight = c.h;
    Start(config);
    EXPECT_EQ(IsLargeScreen(), c.large) << c.w << "x" << c.h;
  }
  EXPECT_GT(GetCurrentMemUsage(), 0u);
  m_tp->ClearDebugLines();
  PrintHR(E_FAIL);
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "[Quorel.exe]PrintHR.." + plat::ToUtf8(plat::FormatSystemMessage(0x80004005u)));
  EXPECT_EQ(lines[1].rfind("[Quorel.exe]PrintHR..ERROR:-2147467259 CurrentMemUsage:", 0), 0u) << lines[1];
}

}  // namespace
