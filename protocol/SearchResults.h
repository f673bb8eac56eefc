// What the server's XML replies deliver, in the shape the screens read: the
// result pages of a search (tracks, their artists, their recording and its
// users), the update message of an update check, and a track's videos, buy
// links and lyrics link.
//
// Texts are UTF-16, converted from the replies' UTF-8 attributes; an absent
// attribute gives an empty text. The replies are filled in by the parsers of
// SearchReply.cpp and ReplyParsers.cpp. UI thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/base/Strings.h"

class TiXmlDocument;
class CSearchResults;

// A recording's user (username, user_primary_image), a video thumbnail (url,
// time) or the lyrics link (url, status).
struct StringPair {
  plat::WString m_first;
  plat::WString m_second;
};

// An update message (message_type, message_text, message_persistence,
// message_id, message_url) or a buy link (url, url_title, store, store_name,
// status).
struct StringRecord5 {
  plat::WString m_texts[5];
};

struct CVideoItem {
  plat::WString m_video;
  plat::WString m_title;
  plat::WString m_description;
  plat::WString m_created;
  int32_t m_nViewsCount = 0;
  float m_fRatingAverage = 0.0f;
  int32_t m_nDuration = 0;
  std::vector<StringPair> m_thumbnails;  // url, time
};

struct CResultArtist {
  plat::WString m_artistId;
  plat::WString m_artistName;
  plat::WString m_artistPrimaryImage;
};

struct CResultRecording {
  plat::WString m_recordingId;
  plat::WString m_fullUrl;
  plat::WString m_matchedUrl;
  std::vector<StringPair> m_users;  // username, user_primary_image
};

struct CResultTrack {
  plat::WString m_trackId;
  plat::WString m_albumId;
  plat::WString m_trackName;
  plat::WString m_albumName;
  plat::WString m_audioPreviewUrl;
  plat::WString m_videoUrl;
  plat::WString m_albumPrimaryImage;
  std::vector<CResultArtist> m_artists;
  std::vector<CResultRecording> m_recordings;
};

// One parsed search or single-track reply.
struct CResultPage {
  plat::WString m_searchId;
  int32_t m_nTotalRecords = 0;
  int32_t m_nRecordsStart = 0;
  int32_t m_nRecordsEnd = 0;
  // The rows the page shows: the sum of the tracks' recording counts, or 1 for
  // a single-track reply.
  int32_t m_nRecordingsKept = 0;
  std::vector<CResultTrack> m_tracks;
  std::unique_ptr<CResultPage> m_pPrevious;  // the older page
  // The first display row of each track, then the row count the tracks hold:
  // built by the row readers at their first read of the page, so a page is
  // filled (by a parser or by hand) before it is read. A page whose track or
  // row count changed since, or whose row's track no longer has the
  // recordings the index counted, is indexed again.
  struct RowIndex {
    std::vector<size_t> starts;
    int32_t nRows = -1;  // m_nRecordingsKept when built
  };
  mutable RowIndex m_rowIndex;
};

// The image the client fetches for an album or user picture: the text after
// the last '.' that lies after the last '/' (or anywhere, without a '/') is
// replaced by "png"; without such a '.', ".png" is appended. "" gives ".png".
plat::WString PngImageName(plat::WStringView url);

class CSearchResults {
 public:
  CSearchResults() = default;
  ~CSearchResults();  // drops every page
  CSearchResults(const CSearchResults&) = delete;
  CSearchResults& operator=(const CSearchResults&) = delete;

  // Replace the newest page by the page of a search-format reply: true for a
  // result (possibly empty). On failure the model holds an empty page and the
  // server's error, if the reply carried one, is pending (ServerError.h).
  // LoadText reads up to the NUL; LoadBuffer reads `length` bytes, which need
  // not be terminated. A null text is an empty body. The caller's text is
  // never written.
  bool LoadText(const char* text);
  bool LoadBuffer(const char* buffer, size_t length);
  // LoadBuffer for a reply that loads; one that does not leaves every page as
  // it was (the server's error, if the reply carried one, is pending all the
  // same). The search's load: a failed search must not cost the user the
  // results found before.
  bool LoadBufferOrKeep(const char* buffer, size_t length);

  // Drops the newest page, making the previous one the newest; nothing
  // happens without a page.
  void Clear();
  void ClearUpdateMessage();
  void ClearVideos();
  void ClearBuyLinks();
  void ClearLyricsLinks();

  // Adds an empty page in front of the others and returns it; what the
  // parsers fill, and how a page is put together by hand.
  CResultPage& PushPage();
  const CResultPage* Page() const { return m_page.get(); }
  CResultPage* Page() { return m_page.get(); }

  // Readers of the newest page; 0 or "" without a page.
  int32_t TotalRecords() const;
  int32_t RecordingCount() const;
  plat::WString SearchId() const;

  // Readers by display row (0 to RecordingCount() - 1), through the row's
  // track. A row outside the page, or no page, reads "".
  plat::WString TrackId(int32_t index) const;
  plat::WString TrackName(int32_t index) const;
  plat::WString AlbumName(int32_t index) const;
  plat::WString VideoUrl(int32_t index) const;
  plat::WString AudioPreviewUrl(int32_t index) const;
  plat::WString ArtistName(int32_t index) const;      // the first artist's
  plat::WString AlbumImageName(int32_t index) const;  // PngImageName; "" stays ""

  // Readers by display row through the row's recording: "" also for a row
  // without one (a single-track page).
  plat::WString RecordingId(int32_t index) const;
  plat::WString RecordingFullUrl(int32_t index) const;
  plat::WString RecordingMatchedUrl(int32_t index) const;
  plat::WString RecordingUserName(int32_t index) const;  // the first user's
  plat::WString UserImageName(int32_t index) const;      // PngImageName; "" stays ""

  // How many tracks the row readers have stepped over to index their pages:
  // the whole cost of their walks, once per page rather than once per row.
  size_t TracksIndexed() const { return m_tracksIndexed; }

  // Readers of the other replies; an index out of range reads "".
  const StringRecord5* UpdateMessage() const { return m_updateMessage.get(); }
  plat::WString UpdateMessageUrl() const;
  int32_t VideoCount() const { return m_videoCount; }
  const std::vector<CVideoItem>& Videos() const { return m_videos; }
  plat::WString VideoLink(int32_t index) const;
  int32_t BuyLinkCount() const { return m_buyLinkCount; }
  const std::vector<StringRecord5>& BuyLinks() const { return m_buyLinks; }
  plat::WString BuyLinkUrl(int32_t index) const;
  plat::WString BuyLinkStoreName(int32_t index) const;
  int32_t Count() const { return m_lyricsLinkCount; }
  const std::vector<StringPair>& LyricsLinks() const { return m_lyricsLinks; }
  plat::WString LyricsLinkUrl(int32_t index) const;

 private:
  friend bool ParseUpdateReply(CSearchResults&, const char*, size_t);
  friend bool ParseVideos(CSearchResults&, const char*, size_t);
  friend bool ParseBuyLinks(CSearchResults&, const char*, size_t);
  friend bool ParseLyricsLink(CSearchResults&, const char*, size_t);

  static bool Load(CSearchResults& model, const char* text, size_t length);
  static bool ParseSearchReply(CSearchResults& model, const TiXmlDocument& doc);
  static bool ParseTrackReply(CSearchResults& model, const TiXmlDocument& doc);

  // The track and recording of display row `index` (recording -1 when the
  // row has none); null when there is no such row.
  const CResultTrack* TrackOfRow(int32_t index, const CResultRecording** ppRecording) const;
  const CResultTrack* TrackAt(int32_t index) const;
  const std::vector<size_t>& RowStarts(bool bRebuild) const;
  const CResultRecording* RecordingAt(int32_t index) const;

  std::unique_ptr<CResultPage> m_page;
  mutable size_t m_tracksIndexed = 0;
  std::unique_ptr<StringRecord5> m_updateMessage;
  int32_t m_videoCount = 0;
  std::vector<CVideoItem> m_videos;
  int32_t m_buyLinkCount = 0;
  std::vector<StringRecord5> m_buyLinks;
  int32_t m_lyricsLinkCount = 0;
  std::vector<StringPair> m_lyricsLinks;
};
