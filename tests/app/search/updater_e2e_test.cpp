// The updater through the real HTTP core against the protocol test server:
// checks silent and asked for, the offer, the download and hand-over, and
// every way a download ends early.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "E2eHarness.h"
#include "app/QuorelAppUi.h"
#include "app/Updater.h"
#include "platform/fs/FileSystem.h"
#include "platform/shell/Launch.h"
#include "protocol/PreviewStore.h"

namespace searchtest {
namespace {

class UpdaterE2eTest : public E2eHarness {
 protected:
  void SetUp() override {
    plat::SetLaunchRecordingOnly(true);
    plat::ClearLaunches();
  }
  void TearDown() override {
    Updater::SetRequiredUpdateForTests(false);
    plat::SetLaunchRecordingOnly(false);
    plat::ClearLaunches();
    E2eHarness::TearDown();
  }
  Updater& Up() { return *m_app->GetUpdater(); }
  TStep Check(uint8_t bUser) {
    return [this, bUser] { Up().CheckForUpdate(bUser); };
  }
  TStep UntilState(int32_t state) {
    return Until([this, state] { return Up().State() == state; });
  }
  plat::WString Package() {
    ::PreviewStore* pStore = CQuorelAppUi::PreviewStore();
    return (pStore ? pStore->Directory() : m_previewDir) + u"\\update.cab";
  }
  std::string ReadPackage() {
    std::ifstream in(plat::HostPath(Package()).value(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  // An offer answered yes, then the loop until the download ends.
  std::vector<TStep> Accept() {
    return {[this] { Control("/_ctl/set?update=offer"); }, Check(1), UntilState(Updater::StateAsking),
            [this] { Up().QuestionDialog()->Answer(true); },
            Until([this] { return Up().State() != Updater::StateDownloading; })};
  }
  // An offer answered yes, the package trickling in, until its progress
  // dialog shows bytes.
  std::vector<TStep> AcceptSlowly() {
    Inject("package", "dribble", "20000", 0);
    std::vector<TStep> steps = Accept();
    steps.pop_back();
    steps.push_back(Until([this] { return Up().ProgressDialog() && Up().ProgressDialog()->Position() > 0; }));
    return steps;
  }
};

TEST_F(UpdaterE2eTest, ChecksThatFindNothingReportOnlyWhenAsked) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    const char* silent;  // shown by a silent check ("" nothing)
    const char* asked;
  } cases[] = {
      {"refused", [] { RegSetAppString(u"url", u"http://127.0.0.1:1/"); }, "", "ShowMessage 50 152"},
      {"not a URL", [] { RegSetAppString(u"url", u"not a url"); }, "", "ShowMessage 50 152"},
      {"404", [] { Inject("checkForUpdate", "status", "404"); }, "", "ShowMessage 51 152"},
      {"no update", [] { Control("/_ctl/set?update=none"); }, "", "ShowMessage 52 121"},
      {"server message", [] { Inject("checkForUpdate", "error-root", "error,serverMessage"); },
       "ShowServerMessageView S82|Server message (error, serverMessage)|0|",
       "ShowServerMessageView S82|Server message (error, serverMessage)|0|"},
      // The check's server messages are silent even when the user asked.
      {"exit message", [] { Inject("checkForUpdate", "error-root", "error,exit"); }, "", ""},
  };
  for (const Case& c : cases) {
    for (uint8_t bUser : {0, 1}) {
      SCOPED_TRACE(std::string(c.name) + (bUser ? " asked" : " silent"));
      StartApp();
      c.arrange();
      Run({Check(bUser), UntilState(Updater::StateIdle), [] {}});
      const std::string expected = bUser ? c.asked : c.silent;
      EXPECT_EQ(Calls(), expected.empty() ? TLog{} : TLog{expected});
      EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
      EXPECT_EQ(0, m_openAtQuit);
      ExpectNoViolation();
      TearDown();
    }
  }
}

TEST_F(UpdaterE2eTest, AnOfferAsksAndNoKeepsTheQuestionState) {
  StartApp();
  Control("/_ctl/set?update=offer");
  Run({Check(0), UntilState(Updater::StateAsking),
       [this] {
         CMessageDialog* pQuestion = Up().QuestionDialog();
         ASSERT_NE(nullptr, pQuestion);
         EXPECT_EQ(u"S53\nS55", pQuestion->Text());
         EXPECT_EQ(14, pQuestion->LeftLabelId());
         EXPECT_EQ(9, pQuestion->RightLabelId());
         EXPECT_EQ(103, pQuestion->Kind());
         pQuestion->Answer(false);
       },
       [] {}});
  EXPECT_EQ(Updater::StateAsking, m_updaterStateAtQuit);
  EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(plat::Launches().empty());
}

TEST_F(UpdaterE2eTest, AcceptedPackagesAreHandedOverAndTheProgramQuits) {
  // A package left by an earlier run is gone at start-up.
  StartApp(false, {}, 440);
  EXPECT_FALSE(std::filesystem::exists(plat::HostPath(Package()).value()));
  int exitCode = Run(Accept());
  EXPECT_EQ(0, exitCode);
  const std::string package = ReadPackage();
  EXPECT_EQ(300004u, package.size());
  EXPECT_TRUE(package == Raw("/dl/update.cab"));
  std::vector<plat::LaunchRecord> launches = plat::Launches();
  ASSERT_EQ(1u, launches.size());
  EXPECT_EQ(plat::LaunchKind::Package, launches[0].kind);
  EXPECT_EQ(Package(), launches[0].file);
  EXPECT_EQ(0x40u, launches[0].mask);
  EXPECT_EQ(1, launches[0].show);
  EXPECT_TRUE(launches[0].result);
  EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
  EXPECT_TRUE(Calls().empty());
}

TEST_F(UpdaterE2eTest, StaleAndUnstartablePackages) {
  StartApp();
  // A handler that cannot be started: traced, and the program quits all the same.
  plat::SetLaunchRecordingOnly(false);
  plat::WriteString(plat::HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"PackageHandler", u"/nonexistent/quorel-handler");
  EXPECT_EQ(0, Run(Accept()));
  EXPECT_EQ(1u, plat::Launches().size());
  EXPECT_FALSE(plat::Launches()[0].result);
  size_t traced = 0;
  for (const std::string& line : m_tp->DebugLines()) traced += line.find("could not be handed over") != std::string::npos;
  EXPECT_EQ(1u, traced);
  TearDown();

  // The next start deletes the package the last run left.
  StartApp();
  // (The device root is new per start: once the program runs, plant one and
  // start an updater over it.)
  Run({[&] {
    const std::optional<std::filesystem::path> host = plat::HostPath(Package());
    ASSERT_TRUE(host.has_value());
    std::ofstream(*host) << "MSCF old";
    ASSERT_TRUE(std::filesystem::exists(*host));
    delete Updater::Create();
    EXPECT_FALSE(std::filesystem::exists(*host));
  }});
}

TEST_F(UpdaterE2eTest, DownloadsThatFailReportAndLeaveNothingOpen) {
  struct Case {
    const char* fault;
    const char* arg;
    const char* message;
  } cases[] = {{"chunked", "", "ShowMessage 50 152"},  {"truncate", "1000", "ShowMessage 50 152"},
               {"reset", "", "ShowMessage 50 152"},    {"status", "404", "ShowMessage 51 152"},
               {"close", "", "ShowMessage 50 152"},    {"cl-invalid", "x", "ShowMessage 50 152"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    StartApp();
    Inject("package", c.fault, c.arg);
    std::vector<TStep> steps = Accept();
    // Nothing is left of the package while the message shows, not only once
    // the program has quit.
    steps.push_back([&] {
      EXPECT_EQ(1u, CMessageDialog::OpenDialogs().size());
      EXPECT_FALSE(std::filesystem::exists(plat::HostPath(Package()).value()));
    });
    EXPECT_EQ(0, Run(steps) == 0 ? 0 : 1);
    EXPECT_EQ(Calls(), (TLog{c.message}));
    EXPECT_EQ(Updater::StateIdle, m_updaterStateAtQuit);
    EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
    EXPECT_TRUE(plat::Launches().empty());
    EXPECT_EQ(0, m_openAtQuit);
    // Nothing is left of the package.
    EXPECT_FALSE(plat::DeleteFile(Package()));
    TearDown();
  }
}

TEST_F(UpdaterE2eTest, CancellingOrCheckingAgainEndsTheDownload) {
  StartApp();
  Control("/_ctl/set?package-bytes=200000");
  std::vector<TStep> steps = AcceptSlowly();
  steps.push_back([this] {
    CProgressDialog* pProgress = Up().ProgressDialog();
    EXPECT_EQ(0, pProgress->LeftLabelId());
    EXPECT_EQ(9, pProgress->RightLabelId());
    EXPECT_EQ(u"S57", pProgress->Text());
    EXPECT_EQ(153, pProgress->Kind());
    EXPECT_EQ(200004, pProgress->Maximum());
    pProgress->Answer(false);
  });
  steps.push_back([this] {
    EXPECT_EQ(Updater::StateIdle, Up().State());
    EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
    EXPECT_EQ(0, CQuorelAppUi::HTTPSession()->OpenCount());
    EXPECT_FALSE(plat::DeleteFile(Package()));
    // Again, and a new check in the middle of it.
    Up().CheckForUpdate(1);
  });
  steps.push_back(UntilState(Updater::StateAsking));
  steps.push_back([this] { Up().QuestionDialog()->Answer(true); });
  steps.push_back(Until([this] { return Up().ProgressDialog() && Up().ProgressDialog()->Position() > 0; }));
  steps.push_back([this] {
    Up().CheckForUpdate(0);
    EXPECT_EQ(Updater::StateChecking, Up().State());
    EXPECT_EQ(nullptr, Up().ProgressDialog());
    EXPECT_FALSE(plat::DeleteFile(Package()));
  });
  steps.push_back(UntilState(Updater::StateAsking));
  EXPECT_EQ(0, Run(steps));
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(plat::Launches().empty());
}

TEST_F(UpdaterE2eTest, QuittingDuringADownloadLeavesNoPackage) {
  StartApp();
  EXPECT_EQ(0, Run(AcceptSlowly()));
  EXPECT_EQ(Updater::StateDownloading, m_updaterStateAtQuit);
  EXPECT_FALSE(plat::DeleteFile(Package()));
}

TEST_F(UpdaterE2eTest, APackageThatCannotBeWrittenIsReported) {
  StartApp();
  // A folder in the package's place (the store exists once the program
  // runs): the file cannot be created.
  std::vector<TStep> steps = Accept();
  steps.insert(steps.begin(), [this] { std::filesystem::create_directories(plat::HostPath(Package()).value()); });
  Run(steps);
  EXPECT_EQ(Calls(), (TLog{"ShowMessage 58 152"}));
  EXPECT_EQ(Updater::StateIdle, m_updaterStateAtQuit);
  EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
  EXPECT_EQ(0, m_openAtQuit);
}

TEST_F(UpdaterE2eTest, ARequiredUpdateQuitsWhenRefused) {
  Updater::SetRequiredUpdateForTests(true);
  StartApp();
  Control("/_ctl/set?update=offer");
  int exitCode = Run({Check(0), UntilState(Updater::StateAsking),
                      [this] {
                        EXPECT_EQ(u"S53\nS56", Up().QuestionDialog()->Text());
                        EXPECT_EQ(3, Up().QuestionDialog()->RightLabelId());
                        Up().QuestionDialog()->Answer(false);
                      },
                      [] { ADD_FAILURE() << "still running"; }});
  EXPECT_EQ(0, exitCode);
}

TEST_F(UpdaterE2eTest, ARequiredUpdateQuitsWhenItsDownloadIsCancelled) {
  Updater::SetRequiredUpdateForTests(true);
  StartApp();
  std::vector<TStep> steps = AcceptSlowly();
  steps.push_back([this] {
    EXPECT_EQ(3, Up().ProgressDialog()->RightLabelId());
    Up().ProgressDialog()->Answer(false);
  });
  steps.push_back([] { ADD_FAILURE() << "still running"; });
  EXPECT_EQ(0, Run(steps));
  EXPECT_EQ(Updater::StateIdle, m_updaterStateAtQuit);
  EXPECT_TRUE(plat::Launches().empty());
}

TEST_F(UpdaterE2eTest, ALostNetworkCancelsADownload) {
  StartApp();
  std::vector<TStep> steps = AcceptSlowly();
  steps.push_back([this] {
    CQuorelAppUi::OutwardCalls().clear();
    m_app->OnSearchStalled(0);
    m_app->OnSearchStalled(0);
  });
  Run(steps);
  EXPECT_EQ(Calls(), (TLog{"StopPreview", "ShowMessage 50 152"}));
  EXPECT_EQ(Updater::StateIdle, m_updaterStateAtQuit);
  EXPECT_TRUE(CMessageDialog::OpenDialogs().empty());
  EXPECT_EQ(0, m_openAtQuit);
  EXPECT_FALSE(plat::DeleteFile(Package()));
}

}  // namespace
}  // namespace searchtest
