// The application object's preview operations: the statics the screens and
// commands call, over the one preview control the object owns.
#include "app/PreviewControl.h"
#include "app/QuorelAppUi.h"
#include "protocol/AppSettings.h"

std::unique_ptr<CPreviewControl> CQuorelAppUi::NewPreviewControl() {
  CPreviewControl::TServices services;
  services.userModel = []() -> CHTTPUserModel* { return GetAppSettings() ? AppSettings::GetUserModel() : nullptr; };
  services.store = [] { return PreviewStore(); };
  services.makeFilePlayer = &CPreviewControl::NewFilePlayer;
  services.makeStreamPlayer = &CPreviewControl::NewStreamPlayer;
  services.setMenuItem = [](bool bPlaying) { SetPreviewMenuItem(bPlaying); };
  return std::make_unique<CPreviewControl>(std::move(services));
}

CPreviewControl* CQuorelAppUi::Preview() {
  CQuorelAppUi* pApp = App();
  return pApp ? pApp->m_preview.get() : nullptr;
}

void CQuorelAppUi::PlayPreview() {
  if (CPreviewControl* p = Preview()) p->Play();
}

void CQuorelAppUi::StopPreview() {
  RecordOutwardCall("StopPreview");
  if (CPreviewControl* p = Preview()) p->Stop();
}

void CQuorelAppUi::PausePreview() {
  if (CPreviewControl* p = Preview()) p->Pause();
}

void CQuorelAppUi::ResumePreview() {
  if (CPreviewControl* p = Preview()) p->Resume();
}

int32_t CQuorelAppUi::GetPreviewState() {
  CPreviewControl* p = Preview();
  return p ? p->GetState() : 0;
}

int32_t CQuorelAppUi::GetPreviewPlayedSeconds() {
  CPreviewControl* p = Preview();
  return p ? p->GetPlayedSeconds() : 0;
}

int32_t CQuorelAppUi::GetPreviewLength() {
  CPreviewControl* p = Preview();
  return p ? p->GetLength() : 0;
}

void CQuorelAppUi::TogglePreview(bool bPlay) {
  if (CPreviewControl* p = Preview()) p->Toggle(bPlay);
}

void CQuorelAppUi::PreviewCommand() {
  if (CPreviewControl* p = Preview()) p->Command();
}

void CQuorelAppUi::PlayPreviewKind(int32_t nKind) {
  if (CPreviewControl* p = Preview()) p->PlayKind(nKind);
}
