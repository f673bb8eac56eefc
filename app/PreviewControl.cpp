#include "app/PreviewControl.h"

#include <type_traits>

#include "audio/FileSoundPlayer.h"
#include "audio/HTTPSoundPlayer.h"
#include "framework/Events.h"
#include "framework/Trace.h"
#include "platform/fs/FileSystem.h"
#include "protocol/HTTPUserModel.h"
#include "protocol/PreviewStore.h"

namespace {

// A player of the sound core behind the control's interface; only a stream
// has a download to be complete.
template <class TPlayer>
class CPreviewPlayer : public IPreviewPlayer {
 public:
  int32_t Play(plat::WStringView source) override { return m_player.Play(source); }
  void Pause() override { m_player.Pause(); }
  void Resume() override { m_player.Resume(); }
  int32_t GetState() override { return m_player.GetState(); }
  int32_t GetPlayedSeconds() override { return m_player.GetPlayedSeconds(); }
  int32_t GetLengthSeconds() override { return m_player.GetLengthSeconds(); }
  bool IsComplete() override {
    if constexpr (std::is_same_v<TPlayer, CHTTPSoundPlayer>)
      return m_player.IsComplete();
    else
      return false;
  }
  bool HasFailed() override { return m_player.HasFailed(); }

 private:
  TPlayer m_player;
};

}  // namespace

std::unique_ptr<IPreviewPlayer> CPreviewControl::NewFilePlayer() {
  return std::make_unique<CPreviewPlayer<CFileSoundPlayer>>();
}
std::unique_ptr<IPreviewPlayer> CPreviewControl::NewStreamPlayer() {
  return std::make_unique<CPreviewPlayer<CHTTPSoundPlayer>>();
}

CPreviewControl::CPreviewControl(TServices services) : m_services(std::move(services)) {}

CPreviewControl::~CPreviewControl() {
  // Players go first: their threads may still post, the queue drops it.
  m_streamPlayer.reset();
  m_filePlayer.reset();
}

IPreviewPlayer* CPreviewControl::Active() const {
  return m_filePlayer ? m_filePlayer.get() : m_streamPlayer.get();
}

void CPreviewControl::PostState(int32_t nState) {
  auto* pMessage = CEventFireMessage<PlayerStateEvent>::New();
  pMessage->Payload() = nState;
  pMessage->Post();
}

void CPreviewControl::Play() {
  Stop();
  CHTTPUserModel* pUsers = m_services.userModel ? m_services.userModel() : nullptr;
  if (!pUsers) return;
  TrackRecord track = pUsers->CurrentTrack();
  PreviewStore* pStore = m_services.store ? m_services.store() : nullptr;
  plat::WString path;
  if (pStore && pStore->IsCached(track, path)) {
    std::unique_ptr<IPreviewPlayer> pFile = m_services.makeFilePlayer();
    if (pFile->Play(path) == 1) {
      m_filePlayer = std::move(pFile);
      m_fileTrack = track;
      PostState(1);
      return;
    }
    // A cached file that does not open is dropped and the preview streamed.
    DebugTrace(u"[QUOREL] Cached preview does not play, streaming it\n");
    pFile.reset();
    pStore->Discard(track);
  }
  plat::WString url = track.PreviewKey().m_url;
  if (url.empty()) return;
  std::unique_ptr<IPreviewPlayer> pStream = m_services.makeStreamPlayer();
  if (pStream->Play(url) != 1) {
    DebugTrace(u"[QUOREL] Preview player did not start\n");
    return;
  }
  m_streamPlayer = std::move(pStream);
  m_streamTrack = track;
  PostState(1);
}

void CPreviewControl::Stop() {
  // A player still starting has not opened the device, so it would post no
  // "finished": the screens would go on showing it as playing.
  if (EndPlayers()) PostState(4);
}

void CPreviewControl::Shutdown() { EndPlayers(); }

bool CPreviewControl::EndPlayers() {
  IPreviewPlayer* pActive = Active();
  if (!pActive) return false;
  bool bWasStarting = pActive->GetState() == 1;
  bool bCommit = false;
  const bool bStreamed = m_streamPlayer != nullptr;
  if (m_streamPlayer) {
    bCommit = m_streamPlayer->IsComplete() && !m_streamPlayer->HasFailed();
    m_streamPlayer.reset();
  }
  bool bDiscard = false;
  if (m_filePlayer) {
    bDiscard = m_filePlayer->HasFailed();
    m_filePlayer.reset();
  }
  PreviewStore* pStore = m_services.store ? m_services.store() : nullptr;
  // The download file lives only while its stream does: one that was cut
  // short, failed, or belongs to a kind that is never cached would
  // otherwise stay in the folder, holding part of its budget.
  if (pStore && bStreamed && !(bCommit && pStore->Commit(m_streamTrack))) plat::DeleteFile(pStore->BufferPath());
  if (pStore && bDiscard) pStore->Discard(m_fileTrack);
  return bWasStarting;
}

void CPreviewControl::Pause() {
  if (IPreviewPlayer* p = Active()) p->Pause();
}

void CPreviewControl::Resume() {
  if (IPreviewPlayer* p = Active()) p->Resume();
}

int32_t CPreviewControl::GetState() {
  IPreviewPlayer* p = Active();
  return p ? p->GetState() : 0;
}

int32_t CPreviewControl::GetPlayedSeconds() {
  IPreviewPlayer* p = Active();
  return p ? p->GetPlayedSeconds() : 0;
}

int32_t CPreviewControl::GetLength() {
  IPreviewPlayer* p = Active();
  return p ? p->GetLengthSeconds() : 0;
}

void CPreviewControl::Toggle(bool bPlay) {
  int32_t nState = GetState();
  if (bPlay) {
    if (nState == 3)
      Resume();
    else
      Play();
  } else if (nState == 1 || nState == 2) {
    Pause();
  }
  if (m_services.setMenuItem) m_services.setMenuItem(!bPlay);
}

void CPreviewControl::Command() {
  switch (GetState()) {
    case 0:
    case 4: Play(); break;
    case 2: Stop(); break;
    case 3: Resume(); break;
    default: break;
  }
}

void CPreviewControl::PlayKind(int32_t nKind) {
  CHTTPUserModel* pUsers = m_services.userModel ? m_services.userModel() : nullptr;
  if (!pUsers) return;
  switch (GetState()) {
    case 2:
      Stop();
      if (nKind == pUsers->TrackKind()) return;
      break;
    case 3:
      if (nKind == pUsers->TrackKind()) {
        Resume();
        return;
      }
      Stop();
      break;
    case 0:
    case 4:
      break;
    default:
      return;
  }
  pUsers->SetTrackKind(nKind);
  Play();
}
