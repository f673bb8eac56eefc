#include "app/Updater.h"

#include "app/QuorelAppUi.h"
#include "framework/Resources.h"
#include "framework/Trace.h"
#include "platform/shell/Launch.h"
#include "protocol/ReplyParsers.h"
#include "protocol/ServerError.h"
#include "protocol/UrlBuilder.h"

namespace {

constexpr char16_t kPackageName[] = u"update.cab";

// UI strings.
constexpr int32_t kMsgNetworkLost = 50;
constexpr int32_t kMsgServerRefused = 51;
constexpr int32_t kMsgNoUpdate = 52;
constexpr int32_t kMsgUpdateAvailable = 53;
constexpr int32_t kMsgInstallQuestion = 55;
constexpr int32_t kMsgRequiredInstall = 56;
constexpr int32_t kMsgDownloading = 57;
constexpr int32_t kMsgCannotSave = 58;
constexpr int32_t kLabelYes = 14;
constexpr int32_t kLabelNo = 9;
constexpr int32_t kLabelExit = 3;
// Dialog kinds.
constexpr int32_t kKindQuestion = 103;
constexpr int32_t kKindInfo = 121;
constexpr int32_t kKindError = 152;
constexpr int32_t kKindProgress = 153;

bool g_requiredForTests = false;

void QuitApplication() {
  if (CAppUi* pApp = CAppUi::Instance()) pApp->QuitApplication();
}

}  // namespace

void Updater::SetRequiredUpdateForTests(bool bRequired) { g_requiredForTests = bRequired; }

Updater::Updater() = default;

Updater* Updater::Create() {
  auto* pUpdater = new Updater();
  pUpdater->Init();
  return pUpdater;
}

void Updater::Init() {
  m_fileSink = new CHTTPFileSink();
  m_fileSink->addReference();
  CHTTPFileSink::DeleteFile(kPackageName);
  Subscribe();
}

Updater::~Updater() {
  Unsubscribe();
  Cancel();
  m_request.Close();
  if (m_fileSink) m_fileSink->removeReference();
  m_fileSink = nullptr;
}

int32_t Updater::RightLabelId() const { return m_required ? kLabelExit : kLabelNo; }

void Updater::CheckForUpdate(uint8_t bUserInitiated) {
  Cancel();
  m_state = StateIdle;
  m_userInitiated = bUserInitiated;
  plat::WString url = CUrlBuilder(ServerBaseUrl(kServerBaseValue), kMethodCheckForUpdate, UrlModeV2).GetUrl();
  try {
    CHTTPSession* pSession = CQuorelAppUi::HTTPSession();
    if (!pSession || !pSession->Core()) throw Env::TSysErrorCode{Env::ErrSystem};
    m_request.Open(pSession, EHttpGet, url);
  } catch (const Env::TSysErrorCode&) {
    // No request, so no reply will ever end this check.
    m_state = StateIdle;
    if (m_userInitiated) CQuorelAppUi::ShowMessage(kMsgNetworkLost, kKindError);
    return;
  }
  m_request.SetCallback(CDelegate::Member<&Updater::OnCheckReply>(this));
  m_request.SetHeader(u"User-Agent", CHTTPSession::IdentityLine());
  m_request.Start();
  m_state = StateChecking;
}

void Updater::OnCheckReply() {
  const int32_t code = m_request.LastStatus();
  if (code >= EHttpLookupFailed) {
    m_request.Close();
    m_state = StateIdle;
    if (m_userInitiated) CQuorelAppUi::ShowMessage(kMsgNetworkLost, kKindError);
    return;
  }
  if (code == EHttpHeadersDone) {
    if (m_request.GetStatus() >= 300) {
      m_request.Close();
      m_state = StateIdle;
      if (m_userInitiated) CQuorelAppUi::ShowMessage(kMsgServerRefused, kKindError);
    }
    return;
  }
  if (code != EHttpComplete) return;
  m_request.Close();
  m_state = StateIdle;
  m_updateReply.Clear();
  CHTTPSink* pSink = m_request.BodySink();
  const char* pData = pSink ? pSink->GetData() : nullptr;
  const size_t length = pData ? static_cast<size_t>(pSink->GetLength()) : 0;
  if (ParseUpdateReply(m_updateReply, pData, length)) {
    m_required = g_requiredForTests ? 1 : 0;
    plat::WString text = CResources::GetString(kMsgUpdateAvailable) + u"\n" +
                         CResources::GetString(m_required ? kMsgRequiredInstall : kMsgInstallQuestion);
    delete m_question;
    m_question = CMessageDialog::CreateWithText(
        kLabelYes, CDelegate::Member<&Updater::OnAnswerArgument>(this, reinterpret_cast<void*>(1)), RightLabelId(),
        CDelegate::Member<&Updater::OnAnswerArgument>(this, nullptr), text, kKindQuestion);
    m_state = StateAsking;
    return;
  }
  TServerMessage message;
  if (GetServerErrorMessage(message))
    CQuorelAppUi::ShowServerMessage(message, true);
  else if (m_userInitiated)
    CQuorelAppUi::ShowMessage(kMsgNoUpdate, kKindInfo);
  m_state = StateIdle;
}

void Updater::OnAnswer(int32_t answer) {
  m_question = nullptr;  // it has closed itself
  if (answer == 1) {
    Download(m_updateReply.UpdateMessageUrl());
  } else if (m_required) {
    QuitApplication();
  }
}

void Updater::Download(plat::WStringView url) {
  try {
    m_request.Close();
    m_fileSink->Open(kPackageName);
    m_bPartialPackage = true;
    CHTTPSession* pSession = CQuorelAppUi::HTTPSession();
    if (!pSession || !pSession->Core()) throw Env::TSysErrorCode{Env::ErrSystem};
    m_request.Open(pSession, EHttpGet, url);
    m_request.SetCallback(CDelegate::Member<&Updater::OnDownload>(this));
    m_request.SetBodySink(m_fileSink);
    m_request.SetHeader(u"User-Agent", CHTTPSession::IdentityLine());
    delete m_progress;
    m_progress = CProgressDialog::Create(0, CDelegate(), RightLabelId(),
                                         CDelegate::Member<&Updater::OnProgressCancelled>(this), kMsgDownloading,
                                         kKindProgress);
    m_progress->SetProgress(0, 100);
    m_request.Start();
    m_state = StateDownloading;
  } catch (const Env::TSysErrorCode&) {
    Cancel();
    CQuorelAppUi::ShowMessage(kMsgCannotSave, kKindError);
  }
}

void Updater::HandleEvent(const TFileDownloadProgress& progress) {
  if (m_progress) m_progress->SetProgress(progress.nWritten, progress.nExpected);
}

void Updater::DropPackage() {
  if (m_fileSink) m_fileSink->Release();
  // A package that will never be run must not hold the store's space until
  // the next start.
  if (m_bPartialPackage) CHTTPFileSink::DeleteFile(kPackageName);
  m_bPartialPackage = false;
}

void Updater::EndWithMessage(int32_t nTextId) {
  m_request.Close();
  DropPackage();
  delete m_progress;
  m_progress = nullptr;
  m_state = StateIdle;
  CQuorelAppUi::ShowMessage(nTextId, kKindError);
}

void Updater::OnDownload() {
  const int32_t code = m_request.LastStatus();
  if (code >= EHttpLookupFailed) {
    EndWithMessage(kMsgNetworkLost);
    return;
  }
  if (code == EHttpHeadersDone) {
    if (m_request.GetStatus() >= 300) EndWithMessage(kMsgServerRefused);
    return;
  }
  if (code != EHttpComplete) return;
  m_request.Close();
  m_fileSink->Release();
  m_bPartialPackage = false;
  delete m_progress;
  m_progress = nullptr;
  m_state = StateIdle;
  plat::ShellExecInfo info;
  info.mask = plat::SEE_MASK_NOCLOSEPROCESS;
  info.show = 1;
  info.file = CHTTPFileSink::MakePath(kPackageName);
  // The program quits either way: the next start offers the update again.
  if (!plat::ShellExecuteEx(info))
    DebugTrace(u"[QUOREL] Update package could not be handed over: error %u\n", plat::GetLastError());
  QuitApplication();
}

void Updater::OnProgressCancelled() {
  m_progress = nullptr;  // it has closed itself
  Cancel();
  if (m_required) QuitApplication();
}

void Updater::Cancel() {
  m_request.Close();
  delete m_question;
  m_question = nullptr;
  delete m_progress;
  m_progress = nullptr;
  DropPackage();
  m_state = StateIdle;
}
