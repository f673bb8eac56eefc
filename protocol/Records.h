// The records the user model keeps: the track or recording opened on a page
// (TrackRecord), one user with that user's playlist and recordings
// (CUserRecord), and the payload of the user-information event
// (StringRecord7).
#pragma once

#include <cstdint>

#include "framework/wrappers.h"
#include "platform/base/Strings.h"
#include "protocol/SearchResults.h"

// Which audio a preview of a track record plays.
enum : int32_t {
  TrackKindMatched = 0,   // matched_url, never cached
  TrackKindFull = 1,      // full_url, cached by recording_id
  TrackKindPreview = 2,   // audio_preview_url, cached by track_id
};

// What a preview of a record plays: the URL and the track it belongs to.
struct TPreviewKey {
  plat::WString m_url;
  plat::WString m_trackId;
};

// A value record, copied whole onto and off the history.
struct TrackRecord {
  int32_t m_nKind = TrackKindMatched;
  plat::WString m_trackImageUrl;
  plat::WString m_savedImageUrl;  // the user model's image URL while on the history
  plat::WString m_matchedUrl;
  plat::WString m_audioPreviewUrl;
  plat::WString m_fullUrl;
  plat::WString m_videoUrl;
  plat::WString m_trackName;
  plat::WString m_artistName;
  plat::WString m_albumName;
  plat::WString m_trackId;
  plat::WString m_recordingId;
  int32_t m_nItemIndex = -1;     // the row that opened the record
  int32_t m_nSubItemIndex = -1;  // the recording row under it

  // The URL for the kind (empty for an unknown kind) and the track id.
  TPreviewKey PreviewKey() const;
  // The preview store's key: recording_id for full recordings, track_id for
  // track previews. False for kinds whose previews are never cached.
  bool CacheKey(plat::WString& key) const;
};

// One user, shared by the user model's current-user slot and its history
// through RefPtr::Assign; deleted with its two result models when the last
// holder lets go.
class CUserRecord : public RCObject {
 public:
  CUserRecord() = default;
  ~CUserRecord() override = default;
  CUserRecord(const CUserRecord&) = delete;
  CUserRecord& operator=(const CUserRecord&) = delete;

  plat::WString m_username;  // the key
  // The display name, the labelled texts and the third text have no source in
  // the replies; every user-information reply empties them.
  plat::WString m_displayName;
  plat::WString m_secondLabel;
  plat::WString m_firstLabel;
  plat::WString m_userImageUrl;  // PngImageName of user_primary_image
  plat::WString m_thirdText;
  plat::WString m_homepageUrl;
  CSearchResults m_playlist;
  CSearchResults m_recordings;
  uint8_t m_bInformationLoaded = 0;
  uint8_t m_bPlaylistLoaded = 0;
  uint8_t m_bRecordingsLoaded = 0;
  int32_t m_nRecordingsTotal = 0;
  int32_t m_nPlaylistTotal = 0;
};

// A byte and seven texts. As the user-information payload: the success flag;
// username, user image URL, second labelled text, display name, first
// labelled text, third text, homepage_url.
struct StringRecord7 {
  uint8_t m_nValue = 0;
  plat::WString m_texts[7];
};
