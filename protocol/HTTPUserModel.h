// The user model: the one object through which the screens ask the server
// about a user and a track, and which keeps the answers while the screens
// need them — the current user and track, a history of earlier ones for the
// Back navigation, the user's and the track's pictures, and eight kinds of
// request whose completions reach the screens as posted events.
//
// Everything here runs on the UI thread: requests go out through the
// application's CHTTPSession (AppServices.h) and replies come back through
// the handles' callbacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "framework/Events.h"
#include "framework/Graphics.h"
#include "net/HTTPWrapper.h"
#include "protocol/Records.h"

// A counted reference to a bitmap that copies as a reference: image payloads
// keep their pictures alive until the listeners have seen them, whatever the
// model releases meanwhile.
class TBitmapRef {
 public:
  TBitmapRef() = default;
  explicit TBitmapRef(CBitmap* pBitmap) { RefPtr::Assign(m_pBitmap, pBitmap); }
  TBitmapRef(const TBitmapRef& other) { RefPtr::Assign(m_pBitmap, other.m_pBitmap); }
  TBitmapRef& operator=(const TBitmapRef& other) {
    RefPtr::Assign(m_pBitmap, other.m_pBitmap);
    return *this;
  }
  ~TBitmapRef() { RefPtr::Assign(m_pBitmap, static_cast<CBitmap*>(nullptr)); }
  CBitmap* Get() const { return m_pBitmap; }

 private:
  CBitmap* m_pBitmap = nullptr;
};

// Payloads of the loaded events.
struct TResultsLoaded {
  uint8_t m_bSuccess = 0;
  CSearchResults* m_pResults = nullptr;  // the current user's list; null on failure
};
struct TImageLoaded {
  uint8_t m_bSuccess = 0;
  TBitmapRef m_unscaled;  // both null on failure
  TBitmapRef m_scaled;
};
struct TTextLoaded {
  uint8_t m_bSuccess = 0;
  plat::WString m_text;  // empty on failure
};
struct TBuyLinkLoaded {
  uint8_t m_bSuccess = 0;
  plat::WString m_storeName;  // both empty on failure
  plat::WString m_url;
};

struct UserInfoLoadedEvent { using TPayload = StringRecord7; };
struct PlaylistLoadedEvent { using TPayload = TResultsLoaded; };
struct RecordingsLoadedEvent { using TPayload = TResultsLoaded; };
struct UserImageLoadedEvent { using TPayload = TImageLoaded; };
struct TrackImageLoadedEvent { using TPayload = TImageLoaded; };
struct VideosLoadedEvent { using TPayload = TTextLoaded; };      // the first video's "video"
struct BuyLinksLoadedEvent { using TPayload = TBuyLinkLoaded; };  // the first buy link
struct LyricsLinkLoadedEvent { using TPayload = TTextLoaded; };  // the lyrics "url"

// The eight kinds of request, in the order of their handles.
enum EUserRequest : int32_t {
  EUserImageRequest = 0,
  ETrackImageRequest,
  EUserInfoRequest,
  EUserRecordingsRequest,
  EUserPlaylistRequest,
  EVideosRequest,
  EBuyLinksRequest,
  ELyricsLinkRequest,
  kUserRequestCount,
};

class CHTTPUserModel {
 public:
  // A model with a new empty current user.
  static CHTTPUserModel* Create();
  // Closes the handles, takes queued messages off the queue, releases
  // every reference.
  virtual ~CHTTPUserModel();
  CHTTPUserModel(const CHTTPUserModel&) = delete;
  CHTTPUserModel& operator=(const CHTTPUserModel&) = delete;

  // Another name starts from an empty user record: the user's pictures are
  // released, the current track's indexes reset and everything pending
  // cancelled. The current name does nothing.
  void SetUserName(plat::WStringView name);
  // Takes the loaded messages off the queue and closes every handle.
  void CancelPending();
  // The user picture's URL; another URL releases the user's pictures.
  void SetImageUrl(plat::WStringView url);
  const plat::WString& ImageUrl() const { return m_imageUrl; }
  // The current track's picture URL; always releases the track's pictures.
  void SetTrackImageUrl(plat::WStringView url);

  // The current user's and track's fields.
  plat::WString UserName() const { return m_pUser->m_username; }
  plat::WString MatchedUrl() const { return m_track.m_matchedUrl; }
  plat::WString AudioPreviewUrl() const { return m_track.m_audioPreviewUrl; }
  plat::WString TrackName() const { return m_track.m_trackName; }
  plat::WString ArtistName() const { return m_track.m_artistName; }
  plat::WString AlbumName() const { return m_track.m_albumName; }
  plat::WString VideoUrl() const { return m_track.m_videoUrl; }
  plat::WString TrackId() const { return m_track.m_trackId; }
  plat::WString RecordingId() const { return m_track.m_recordingId; }
  void SetMatchedUrl(plat::WStringView v) { m_track.m_matchedUrl = v; }
  void SetFullUrl(plat::WStringView v) { m_track.m_fullUrl = v; }
  void SetAudioPreviewUrl(plat::WStringView v) { m_track.m_audioPreviewUrl = v; }
  void SetTrackName(plat::WStringView v) { m_track.m_trackName = v; }
  void SetArtistName(plat::WStringView v) { m_track.m_artistName = v; }
  void SetAlbumName(plat::WStringView v) { m_track.m_albumName = v; }
  void SetVideoUrl(plat::WStringView v) { m_track.m_videoUrl = v; }
  void SetTrackId(plat::WStringView v) { m_track.m_trackId = v; }
  void SetRecordingId(plat::WStringView v) { m_track.m_recordingId = v; }
  void SetTrackKind(int32_t kind) { m_track.m_nKind = kind; }
  int32_t TrackKind() const { return m_track.m_nKind; }
  void SetItemIndex(int32_t index) { m_track.m_nItemIndex = index; }
  int32_t ItemIndex() const { return m_track.m_nItemIndex; }
  void SetSubItemIndex(int32_t index) { m_track.m_nSubItemIndex = index; }
  int32_t SubItemIndex() const { return m_track.m_nSubItemIndex; }
  TPreviewKey PreviewKey() const { return m_track.PreviewKey(); }
  CSearchResults* PlaylistResults() { return &m_pUser->m_playlist; }
  CSearchResults* RecordingsResults() { return &m_pUser->m_recordings; }
  const CUserRecord& CurrentUser() const { return *m_pUser; }
  const TrackRecord& CurrentTrack() const { return m_track; }

  // The eight requests. Each ends in its loaded event: at once from memory,
  // at once on a failure that needs no traffic, or when the reply is in.
  void GetUserInformation();
  void GetUserPlaylist();
  void GetUserRecordings();
  void GetTrackBuyLinks();
  void GetTrackLyricsLink();
  void GetVideos();
  // The picture for the rectangle; a rectangle of height 0 or less takes the
  // picture's proportions at the rectangle's width.
  void RequestImage(RECT rcTarget);
  void RequestTrackImage(RECT rcTarget);

  // History for the Back navigation. Popping without a push is a broken
  // invariant: TPanic (".\HTTPUserModel", 67).
  void PushHistory();
  void PopHistory();
  size_t HistoryDepth() const { return m_trackHistory.size(); }
  // The newest history entry's indexes.
  void SetHistoryItemIndex(int32_t index);
  void SetHistorySubItemIndex(int32_t index);

  // Write the payload and post the message unless it is queued already.
  void PostUserInfoDone(bool bSuccess);
  void PostPlaylistDone(bool bSuccess);
  void PostRecordingsDone(bool bSuccess);
  void PostImageDone(bool bSuccess);
  void PostTrackImageDone(bool bSuccess);
  void PostVideosDone(bool bSuccess, plat::WStringView text);
  void PostBuyLinksDone(bool bSuccess, plat::WStringView url, plat::WStringView storeName);
  void PostLyricsDone(bool bSuccess, plat::WStringView text);

  // What a complete reply's body does for its kind: parse, store, post. The
  // handles' callbacks end here; so does the fuzz target.
  void HandleBody(EUserRequest kind, const char* pData, size_t nLength);

  // The server-message screen for a failed request: caption 82, text 50 for
  // code 25 (the network went away), else 85.
  static void ShowRequestError(int32_t code);

  CBitmap* UserImage() const { return m_user.pUnscaled; }
  CBitmap* ScaledUserImage() const { return m_user.pScaled; }
  CBitmap* TrackImage() const { return m_trackImage.pUnscaled; }
  CBitmap* ScaledTrackImage() const { return m_trackImage.pScaled; }
  const CHTTPRequest& Request(EUserRequest kind) const { return m_handles[kind]; }

 private:
  // A picture with its copy scaled for the last target, and the URL its
  // request went out for.
  struct TImagePair {
    CBitmap* pUnscaled = nullptr;
    CBitmap* pScaled = nullptr;
    RECT rcTarget{};
    plat::WString requestedUrl;
  };

  CHTTPUserModel();
  static CUserRecord* NewUserRecord();

  template <EUserRequest K>
  void OnReply() {
    HandleReply(K);
  }
  void HandleReply(EUserRequest kind);
  void Send(EUserRequest kind, plat::WStringView url);
  void SendMethod(EUserRequest kind, plat::WStringView method, bool bWithUser);
  void PostFailure(EUserRequest kind);
  void PostImage(EUserRequest kind, bool bSuccess);
  void RequestPairImage(EUserRequest kind, RECT rcTarget);
  void HandleImageBody(EUserRequest kind, const char* pData, size_t nLength);
  // Makes the scaled copy for the rectangle; false when the rectangle
  // cannot be made for this picture (nothing is scaled then).
  bool Rescale(TImagePair& pair, RECT& rcTarget);
  bool IsStale(EUserRequest kind) const;
  TImagePair& Pair(EUserRequest kind) { return kind == EUserImageRequest ? m_user : m_trackImage; }
  static void ReleasePair(TImagePair& pair);
  // Success: references to the pair's pictures; failure: null references.
  static void WriteImagePayload(TImageLoaded& payload, const TImagePair& pair, bool bSuccess);
  static void ShowPendingServerError();

  std::vector<CUserRecord*> m_userHistory;  // one reference each
  CUserRecord* m_pUser = nullptr;           // one reference; never null
  std::vector<TrackRecord> m_trackHistory;
  TrackRecord m_track;
  plat::WString m_imageUrl;
  TImagePair m_user;
  TImagePair m_trackImage;
  CHTTPRequest m_handles[kUserRequestCount];

  // Kept: posted again for every request of their kind.
  CEventFireMessage<UserInfoLoadedEvent>* m_pUserInfoDone;
  CEventFireMessage<PlaylistLoadedEvent>* m_pPlaylistDone;
  CEventFireMessage<RecordingsLoadedEvent>* m_pRecordingsDone;
  CEventFireMessage<UserImageLoadedEvent>* m_pImageDone;
  CEventFireMessage<TrackImageLoadedEvent>* m_pTrackImageDone;
  CEventFireMessage<VideosLoadedEvent>* m_pVideosDone;
  CEventFireMessage<BuyLinksLoadedEvent>* m_pBuyLinksDone;
  CEventFireMessage<LyricsLinkLoadedEvent>* m_pLyricsDone;
};
