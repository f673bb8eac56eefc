#include "protocol/HTTPUserModel.h"

#include <climits>
#include <exception>
#include <utility>

#include "framework/PngLoader.h"
#include "framework/Resources.h"
#include "framework/Trace.h"
#include "protocol/AppServices.h"
#include "protocol/ReplyParsers.h"
#include "protocol/ServerError.h"
#include "protocol/UrlBuilder.h"

namespace {

// UI strings of the request-error screen.
constexpr int32_t kRequestErrorCaption = 82;
constexpr int32_t kNetworkGoneText = 50;
constexpr int32_t kRequestFailedText = 85;

template <class E>
CEventFireMessage<E>* NewKept() {
  CEventFireMessage<E>* pMessage = CEventFireMessage<E>::New();
  pMessage->SetKept(true);
  return pMessage;
}

bool IsPicture(EUserRequest kind) { return kind == EUserImageRequest || kind == ETrackImageRequest; }

// A burst of completions dispatches once, with the newest payload.
void PostUnlessQueued(CEventMessage* pMessage) {
  // Without an application there is nobody to tell.
  if (!CEventQueue::Current() || pMessage->IsQueued()) return;
  pMessage->Post();
}

// Takes over a bitmap that comes with its reference (a new picture or
// scaled copy), releasing what the slot held.
void Adopt(CBitmap*& rpSlot, CBitmap* pNew) {
  CBitmap* pOld = std::exchange(rpSlot, pNew);
  if (pOld) pOld->removeReference();
}

// The server's "no picture" user has the image ".png": a name without a
// file, which no request can fetch.
bool HasPictureName(plat::WStringView url) {
  const size_t slash = url.rfind(u'/');
  const plat::WStringView file = slash == plat::WStringView::npos ? url : url.substr(slash + 1);
  return !file.empty() && file != u".png";
}

}  // namespace

CHTTPUserModel* CHTTPUserModel::Create() { return new CHTTPUserModel(); }

CUserRecord* CHTTPUserModel::NewUserRecord() { return new CUserRecord(); }

CHTTPUserModel::CHTTPUserModel()
    : m_pUserInfoDone(NewKept<UserInfoLoadedEvent>()),
      m_pPlaylistDone(NewKept<PlaylistLoadedEvent>()),
      m_pRecordingsDone(NewKept<RecordingsLoadedEvent>()),
      m_pImageDone(NewKept<UserImageLoadedEvent>()),
      m_pTrackImageDone(NewKept<TrackImageLoadedEvent>()),
      m_pVideosDone(NewKept<VideosLoadedEvent>()),
      m_pBuyLinksDone(NewKept<BuyLinksLoadedEvent>()),
      m_pLyricsDone(NewKept<LyricsLinkLoadedEvent>()) {
  RefPtr::Assign(m_pUser, NewUserRecord());
  m_handles[EUserImageRequest].SetCallback(CDelegate::Member<&CHTTPUserModel::OnReply<EUserImageRequest>>(this));
  m_handles[ETrackImageRequest].SetCallback(CDelegate::Member<&CHTTPUserModel::OnReply<ETrackImageRequest>>(this));
  m_handles[EUserInfoRequest].SetCallback(CDelegate::Member<&CHTTPUserModel::OnReply<EUserInfoRequest>>(this));
  m_handles[EUserRecordingsRequest].SetCallback(
      CDelegate::Member<&CHTTPUserModel::OnReply<EUserRecordingsRequest>>(this));
  m_handles[EUserPlaylistRequest].SetCallback(CDelegate::Member<&CHTTPUserModel::OnReply<EUserPlaylistRequest>>(this));
  m_handles[EVideosRequest].SetCallback(CDelegate::Member<&CHTTPUserModel::OnReply<EVideosRequest>>(this));
  m_handles[EBuyLinksRequest].SetCallback(CDelegate::Member<&CHTTPUserModel::OnReply<EBuyLinksRequest>>(this));
  m_handles[ELyricsLinkRequest].SetCallback(CDelegate::Member<&CHTTPUserModel::OnReply<ELyricsLinkRequest>>(this));
}

CHTTPUserModel::~CHTTPUserModel() {
  for (CHTTPRequest& handle : m_handles) {
    handle.SetCallback(CDelegate());
    handle.Close();
  }
  // A message still queued leaves the queue as it is destroyed.
  delete m_pUserInfoDone;
  delete m_pPlaylistDone;
  delete m_pRecordingsDone;
  delete m_pImageDone;
  delete m_pTrackImageDone;
  delete m_pVideosDone;
  delete m_pBuyLinksDone;
  delete m_pLyricsDone;
  ReleasePair(m_user);
  ReleasePair(m_trackImage);
  for (CUserRecord*& pEntry : m_userHistory) RefPtr::Assign(pEntry, static_cast<CUserRecord*>(nullptr));
  RefPtr::Assign(m_pUser, static_cast<CUserRecord*>(nullptr));
}

// ---------------------------------------------------------------------------
// Current user, track and pictures

void CHTTPUserModel::SetUserName(plat::WStringView name) {
  if (name == m_pUser->m_username) return;
  ReleasePair(m_user);
  CUserRecord* pUser = NewUserRecord();
  pUser->m_username = name;
  RefPtr::Assign(m_pUser, pUser);
  m_track.m_nItemIndex = -1;
  m_track.m_nSubItemIndex = -1;
  CancelPending();
}

void CHTTPUserModel::CancelPending() {
  CEventMessage* messages[] = {m_pUserInfoDone, m_pPlaylistDone,   m_pRecordingsDone, m_pImageDone,
                               m_pTrackImageDone, m_pVideosDone, m_pBuyLinksDone,   m_pLyricsDone};
  for (CEventMessage* pMessage : messages)
    if (pMessage->IsQueued()) pMessage->Cancel();  // kept: not deleted
  for (CHTTPRequest& handle : m_handles) handle.Close();
}

void CHTTPUserModel::SetImageUrl(plat::WStringView url) {
  if (url != m_imageUrl) ReleasePair(m_user);
  m_imageUrl = url;
}

void CHTTPUserModel::SetTrackImageUrl(plat::WStringView url) {
  m_track.m_trackImageUrl = url;
  ReleasePair(m_trackImage);
}

void CHTTPUserModel::ReleasePair(TImagePair& pair) {
  RefPtr::Assign(pair.pUnscaled, static_cast<CBitmap*>(nullptr));
  RefPtr::Assign(pair.pScaled, static_cast<CBitmap*>(nullptr));
}

// ---------------------------------------------------------------------------
// History

void CHTTPUserModel::PushHistory() {
  m_track.m_savedImageUrl = m_imageUrl;
  m_userHistory.push_back(nullptr);
  RefPtr::Assign(m_userHistory.back(), m_pUser);
  m_trackHistory.push_back(m_track);
}

void CHTTPUserModel::PopHistory() {
  if (m_userHistory.empty() || m_trackHistory.empty()) QUOREL_PANIC(u".\\HTTPUserModel", 67);
  // The list payloads point into the current user: a reply still in flight
  // must not land in the user restored now.
  CancelPending();
  CUserRecord* pRestored = m_userHistory.back();
  m_userHistory.pop_back();
  RefPtr::Assign(m_pUser, pRestored);
  pRestored->removeReference();  // the history's reference moved to the current user
  m_track = std::move(m_trackHistory.back());
  m_trackHistory.pop_back();
  SetImageUrl(m_track.m_savedImageUrl);
  ReleasePair(m_trackImage);
}

void CHTTPUserModel::SetHistoryItemIndex(int32_t index) {
  if (m_trackHistory.empty()) QUOREL_PANIC(u".\\HTTPUserModel", 67);
  m_trackHistory.back().m_nItemIndex = index;
}

void CHTTPUserModel::SetHistorySubItemIndex(int32_t index) {
  if (m_trackHistory.empty()) QUOREL_PANIC(u".\\HTTPUserModel", 67);
  m_trackHistory.back().m_nSubItemIndex = index;
}

// ---------------------------------------------------------------------------
// Requests

void CHTTPUserModel::GetUserInformation() {
  if (m_pUser->m_bInformationLoaded) {
    PostUserInfoDone(true);
    return;
  }
  if (!m_handles[EUserInfoRequest].IsOpen()) SendMethod(EUserInfoRequest, kMethodGetUserInformation, true);
}

void CHTTPUserModel::GetUserPlaylist() {
  if (m_pUser->m_bPlaylistLoaded) {
    PostPlaylistDone(true);
    return;
  }
  if (!m_handles[EUserPlaylistRequest].IsOpen()) SendMethod(EUserPlaylistRequest, kMethodGetUserPlaylist, true);
}

void CHTTPUserModel::GetUserRecordings() {
  if (m_pUser->m_bRecordingsLoaded) {
    PostRecordingsDone(true);
    return;
  }
  if (!m_handles[EUserRecordingsRequest].IsOpen())
    SendMethod(EUserRecordingsRequest, kMethodGetUserRecordings, true);
}

void CHTTPUserModel::GetTrackBuyLinks() { SendMethod(EBuyLinksRequest, kMethodGetTrackBuyLinks, false); }

void CHTTPUserModel::GetTrackLyricsLink() {
  if (m_track.m_trackId.empty()) {
    PostLyricsDone(false, u"");
    return;
  }
  SendMethod(ELyricsLinkRequest, kMethodGetTrackLyricsLink, false);
}

void CHTTPUserModel::GetVideos() {
  if (m_track.m_videoUrl.empty()) {
    PostVideosDone(false, u"");
    return;
  }
  Send(EVideosRequest, m_track.m_videoUrl);
}

void CHTTPUserModel::SendMethod(EUserRequest kind, plat::WStringView method, bool bWithUser) {
  plat::WString url;
  try {
    CUrlBuilder builder(ServerBaseUrl(kServerBaseValue), method, UrlModeV2);
    if (bWithUser) {
      builder.AddParam(kParamUsername, m_pUser->m_username);
    } else if (kind == EBuyLinksRequest) {
      if (!m_track.m_trackId.empty()) builder.AddParam(kParamTrackId, m_track.m_trackId);
      builder.AddParam(kParamArtistName, m_track.m_artistName);
      builder.AddParam(kParamTrackName, m_track.m_trackName);
    } else {
      builder.AddParam(kParamTrackId, m_track.m_trackId);
    }
    url = builder.GetUrl();
  } catch (const Env::TSysErrorCode&) {
    PostFailure(kind);
    return;
  } catch (const std::exception&) {
    PostFailure(kind);
    return;
  }
  Send(kind, url);
}

void CHTTPUserModel::Send(EUserRequest kind, plat::WStringView url) {
  CHTTPRequest& handle = m_handles[kind];
  try {
    CHTTPSession* pSession = AppHttpSession();
    // Without a session (none installed, or released at shut-down) the
    // request fails at once.
    if (!pSession || !pSession->Core()) Env::ThrowError(Env::ErrSystem);
    handle.Open(pSession, EHttpGet, url);
    handle.Start();
    return;
  } catch (const Env::TSysErrorCode& e) {
    DebugTrace(u"[QUOREL] User model request %d not sent (error %d)\n", static_cast<int32_t>(kind), e.code);
  } catch (const std::exception&) {
    DebugTrace(u"[QUOREL] User model request %d not sent\n", static_cast<int32_t>(kind));
  }
  handle.Close();
  PostFailure(kind);
}

void CHTTPUserModel::RequestImage(RECT rcTarget) { RequestPairImage(EUserImageRequest, rcTarget); }

void CHTTPUserModel::RequestTrackImage(RECT rcTarget) { RequestPairImage(ETrackImageRequest, rcTarget); }

void CHTTPUserModel::RequestPairImage(EUserRequest kind, RECT rcTarget) {
  TImagePair& pair = Pair(kind);
  if (pair.pUnscaled) {
    // From memory: at the size made already nothing is scaled.
    PostImage(kind, Rescale(pair, rcTarget));
    return;
  }
  const plat::WString url = kind == EUserImageRequest ? m_imageUrl : m_track.m_trackImageUrl;
  if (!HasPictureName(url)) {
    PostImage(kind, false);
    return;
  }
  pair.rcTarget = rcTarget;
  pair.requestedUrl = url;
  Send(kind, url);
}

bool CHTTPUserModel::Rescale(TImagePair& pair, RECT& rcTarget) {
  const RECT size = pair.pUnscaled->GetSize();
  const int64_t imageWidth = size.right, imageHeight = size.bottom;
  const int64_t width = int64_t(rcTarget.right) - rcTarget.left;
  int64_t height = int64_t(rcTarget.bottom) - rcTarget.top;
  if (height <= 0) {
    // In 64 bits: width × height overflows 32 bits well below the largest
    // picture the loader takes.
    if (imageWidth <= 0 || width <= 0) return false;
    height = width * imageHeight / imageWidth;
    if (height <= 0 || rcTarget.top + height > INT32_MAX) return false;
    rcTarget.bottom = static_cast<int32_t>(rcTarget.top + height);
  }
  if (width <= 0 || height <= 0 || static_cast<uint64_t>(width) * static_cast<uint64_t>(height) > kMaxPngPixels)
    return false;
  if (pair.pScaled) {
    const RECT scaled = pair.pScaled->GetSize();
    if (scaled.right == width && scaled.bottom == height) return true;
  }
  try {
    Adopt(pair.pScaled, CBitmap::NewScaledSmooth(pair.pUnscaled, rcTarget, EScaleProportional));
  } catch (const Env::TSysErrorCode&) {
    RefPtr::Assign(pair.pScaled, static_cast<CBitmap*>(nullptr));
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Replies

bool CHTTPUserModel::IsStale(EUserRequest kind) const {
  if (kind == EUserImageRequest) return m_user.requestedUrl != m_imageUrl;
  if (kind == ETrackImageRequest) return m_trackImage.requestedUrl != m_track.m_trackImageUrl;
  return false;
}

void CHTTPUserModel::HandleReply(EUserRequest kind) {
  CHTTPRequest& handle = m_handles[kind];
  const int32_t code = handle.LastStatus();
  const bool bActs = code >= EHttpLookupFailed || code == EHttpHeadersDone || code == EHttpComplete;
  if (!bActs) return;
  if (IsStale(kind)) {
    // The picture now shown is another one: this reply answers for nothing.
    handle.Close();
    return;
  }
  if (code >= EHttpLookupFailed) {
    handle.Close();
    PostFailure(kind);
    // At shut-down the views are gone: nothing to open. A picture is
    // decoration: its screen shows the fallback picture, not an error page
    // in place of the one being read.
    if (code != EHttpSessionEnded && !IsPicture(kind)) ShowRequestError(code);
    return;
  }
  if (code == EHttpHeadersDone) {
    if (handle.GetStatus() >= 300) {
      handle.Close();
      PostFailure(kind);
    }
    return;
  }
  handle.Close();
  const char* pData = nullptr;
  size_t nLength = 0;
  if (CHTTPSink* pSink = handle.BodySink()) {
    pData = pSink->GetData();
    const int32_t length = pSink->GetLength();
    nLength = pData && length > 0 ? static_cast<size_t>(length) : 0;
  }
  HandleBody(kind, pData, nLength);
}

void CHTTPUserModel::HandleBody(EUserRequest kind, const char* pData, size_t nLength) {
  CUserRecord& user = *m_pUser;
  switch (kind) {
    case EUserImageRequest:
    case ETrackImageRequest:
      HandleImageBody(kind, pData, nLength);
      return;
    case EUserInfoRequest: {
      plat::WString username, image, further[5], homepage;
      if (ParseUserInformation(pData, nLength, username, image, further, homepage)) {
        user.m_userImageUrl = image;
        user.m_homepageUrl = homepage;
        user.m_displayName.clear();
        user.m_secondLabel.clear();
        user.m_firstLabel.clear();
        user.m_thirdText.clear();
        user.m_bInformationLoaded = 1;
        PostUserInfoDone(true);
      } else {
        PostUserInfoDone(false);
        ShowPendingServerError();
      }
      return;
    }
    case EUserPlaylistRequest:
    case EUserRecordingsRequest: {
      const bool bPlaylist = kind == EUserPlaylistRequest;
      CSearchResults& list = bPlaylist ? user.m_playlist : user.m_recordings;
      const bool bOk = list.LoadBuffer(pData, nLength);
      if (bOk) {
        (bPlaylist ? user.m_nPlaylistTotal : user.m_nRecordingsTotal) = list.TotalRecords();
        (bPlaylist ? user.m_bPlaylistLoaded : user.m_bRecordingsLoaded) = 1;
      }
      bPlaylist ? PostPlaylistDone(bOk) : PostRecordingsDone(bOk);
      if (!bOk) ShowPendingServerError();
      return;
    }
    case EVideosRequest: {
      CSearchResults found;
      if (ParseVideos(found, pData, nLength) && !found.Videos().empty()) {
        PostVideosDone(true, found.Videos().front().m_video);
      } else {
        PostVideosDone(false, u"");
        ShowPendingServerError();
      }
      return;
    }
    case EBuyLinksRequest: {
      CSearchResults found;
      if (ParseBuyLinks(found, pData, nLength) && found.BuyLinkCount() > 0) {
        PostBuyLinksDone(true, found.BuyLinkUrl(0), found.BuyLinkStoreName(0));
      } else {
        PostBuyLinksDone(false, u"", u"");
        ShowPendingServerError();
      }
      return;
    }
    case ELyricsLinkRequest: {
      CSearchResults found;
      if (ParseLyricsLink(found, pData, nLength) && found.Count() > 0) {
        PostLyricsDone(true, found.LyricsLinkUrl(0));
      } else {
        PostLyricsDone(false, u"");
        ShowPendingServerError();
      }
      return;
    }
    default:
      return;
  }
}

void CHTTPUserModel::HandleImageBody(EUserRequest kind, const char* pData, size_t nLength) {
  TImagePair& pair = Pair(kind);
  ReleasePair(pair);
  CBitmap* pDecoded = nullptr;
  try {
    if (nLength == 0) Env::ThrowError(Env::ErrBadArgument);
    pDecoded = CBitmap::FromPngData(reinterpret_cast<const uint8_t*>(pData), nLength);
  } catch (const Env::TSysErrorCode&) {
    // An undecodable picture is a failed request: the screens show their
    // fallback picture.
    PostImage(kind, false);
    return;
  }
  Adopt(pair.pUnscaled, pDecoded);
  PostImage(kind, Rescale(pair, pair.rcTarget));
}

void CHTTPUserModel::ShowRequestError(int32_t code) {
  const plat::WString caption = CResources::GetString(kRequestErrorCaption);
  const plat::WString text = CResources::GetString(code == EHttpNetworkLost ? kNetworkGoneText : kRequestFailedText);
  ShowServerMessageView(caption, text, false, u"");
}

void CHTTPUserModel::ShowPendingServerError() {
  TServerMessage message;
  if (GetShowableServerError(message)) ShowServerMessage(message, false);
}

// ---------------------------------------------------------------------------
// Posting

void CHTTPUserModel::PostFailure(EUserRequest kind) {
  switch (kind) {
    case EUserImageRequest:
    case ETrackImageRequest: PostImage(kind, false); return;
    case EUserInfoRequest: PostUserInfoDone(false); return;
    case EUserRecordingsRequest: PostRecordingsDone(false); return;
    case EUserPlaylistRequest: PostPlaylistDone(false); return;
    case EVideosRequest: PostVideosDone(false, u""); return;
    case EBuyLinksRequest: PostBuyLinksDone(false, u"", u""); return;
    case ELyricsLinkRequest: PostLyricsDone(false, u""); return;
    default: return;
  }
}

void CHTTPUserModel::PostImage(EUserRequest kind, bool bSuccess) {
  kind == EUserImageRequest ? PostImageDone(bSuccess) : PostTrackImageDone(bSuccess);
}

void CHTTPUserModel::PostUserInfoDone(bool bSuccess) {
  StringRecord7& payload = m_pUserInfoDone->Payload();
  payload.m_nValue = bSuccess ? 1 : 0;
  const CUserRecord& user = *m_pUser;
  payload.m_texts[0] = user.m_username;
  // After a failure the other texts still hold what the last post wrote.
  if (bSuccess) {
    payload.m_texts[1] = user.m_userImageUrl;
    payload.m_texts[2] = user.m_secondLabel;
    payload.m_texts[3] = user.m_displayName;
    payload.m_texts[4] = user.m_firstLabel;
    payload.m_texts[5] = user.m_thirdText;
    payload.m_texts[6] = user.m_homepageUrl;
  }
  PostUnlessQueued(m_pUserInfoDone);
}

void CHTTPUserModel::PostPlaylistDone(bool bSuccess) {
  // A failure carries no list: an earlier pointer could outlive its user.
  m_pPlaylistDone->Payload() = TResultsLoaded{uint8_t(bSuccess ? 1 : 0), bSuccess ? &m_pUser->m_playlist : nullptr};
  PostUnlessQueued(m_pPlaylistDone);
}

void CHTTPUserModel::PostRecordingsDone(bool bSuccess) {
  m_pRecordingsDone->Payload() =
      TResultsLoaded{uint8_t(bSuccess ? 1 : 0), bSuccess ? &m_pUser->m_recordings : nullptr};
  PostUnlessQueued(m_pRecordingsDone);
}

void CHTTPUserModel::WriteImagePayload(TImageLoaded& payload, const TImagePair& pair, bool bSuccess) {
  payload.m_bSuccess = bSuccess ? 1 : 0;
  payload.m_unscaled = TBitmapRef(bSuccess ? pair.pUnscaled : nullptr);
  payload.m_scaled = TBitmapRef(bSuccess ? pair.pScaled : nullptr);
}

void CHTTPUserModel::PostImageDone(bool bSuccess) {
  WriteImagePayload(m_pImageDone->Payload(), m_user, bSuccess);
  PostUnlessQueued(m_pImageDone);
}

void CHTTPUserModel::PostTrackImageDone(bool bSuccess) {
  WriteImagePayload(m_pTrackImageDone->Payload(), m_trackImage, bSuccess);
  PostUnlessQueued(m_pTrackImageDone);
}

void CHTTPUserModel::PostVideosDone(bool bSuccess, plat::WStringView text) {
  m_pVideosDone->Payload() = TTextLoaded{uint8_t(bSuccess ? 1 : 0), plat::WString(text)};
  PostUnlessQueued(m_pVideosDone);
}

void CHTTPUserModel::PostBuyLinksDone(bool bSuccess, plat::WStringView url, plat::WStringView storeName) {
  m_pBuyLinksDone->Payload() = TBuyLinkLoaded{uint8_t(bSuccess ? 1 : 0), plat::WString(storeName), plat::WString(url)};
  PostUnlessQueued(m_pBuyLinksDone);
}

void CHTTPUserModel::PostLyricsDone(bool bSuccess, plat::WStringView text) {
  m_pLyricsDone->Payload() = TTextLoaded{uint8_t(bSuccess ? 1 : 0), plat::WString(text)};
  PostUnlessQueued(m_pLyricsDone);
}
