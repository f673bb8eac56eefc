#include "protocol/SearchResults.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kMessageUrl = 4;   // in an update message
constexpr int kBuyLinkUrl = 0;   // in a buy link
constexpr int kStoreName = 3;    // in a buy link

}  // namespace

plat::WString PngImageName(plat::WStringView url) {
  const size_t dot = url.rfind(u'.');
  const size_t slash = url.rfind(u'/');
  plat::WString name(url);
  if (dot != plat::WStringView::npos && (slash == plat::WStringView::npos || dot > slash))
    name.resize(dot);
  name += u".png";
  return name;
}

CSearchResults::~CSearchResults() {
  // Page by page, so that a long chain is not freed by deep recursion.
  while (m_page) Clear();
}

bool CSearchResults::LoadText(const char* text) {
  return LoadBuffer(text, text ? std::strlen(text) : 0);
}

bool CSearchResults::LoadBuffer(const char* buffer, size_t length) {
  Clear();
  return Load(*this, buffer, length);
}

bool CSearchResults::LoadBufferOrKeep(const char* buffer, size_t length) {
  // The reply is read into a model of its own, so the pages the screens show
  // change only once it has loaded: then its one page takes the newest one's
  // place, as LoadBuffer would have put it.
  CSearchResults reply;
  if (!Load(reply, buffer, length)) return false;
  std::unique_ptr<CResultPage> page = std::move(reply.m_page);
  Clear();
  page->m_pPrevious = std::move(m_page);
  m_page = std::move(page);
  return true;
}

void CSearchResults::Clear() {
  if (!m_page) return;
  std::unique_ptr<CResultPage> previous = std::move(m_page->m_pPrevious);
  m_page = std::move(previous);
}

void CSearchResults::ClearUpdateMessage() { m_updateMessage.reset(); }

void CSearchResults::ClearVideos() {
  m_videos.clear();
  m_videoCount = 0;
}

void CSearchResults::ClearBuyLinks() {
  m_buyLinks.clear();
  m_buyLinkCount = 0;
}

void CSearchResults::ClearLyricsLinks() {
  m_lyricsLinks.clear();
  m_lyricsLinkCount = 0;
}

CResultPage& CSearchResults::PushPage() {
  auto page = std::make_unique<CResultPage>();
  page->m_pPrevious = std::move(m_page);
  m_page = std::move(page);
  return *m_page;
}

int32_t CSearchResults::TotalRecords() const { return m_page ? m_page->m_nTotalRecords : 0; }

int32_t CSearchResults::RecordingCount() const { return m_page ? m_page->m_nRecordingsKept : 0; }

plat::WString CSearchResults::SearchId() const { return m_page ? m_page->m_searchId : plat::WString(); }

const std::vector<size_t>& CSearchResults::RowStarts(bool bRebuild) const {
  const std::vector<CResultTrack>& tracks = m_page->m_tracks;
  CResultPage::RowIndex& index = m_page->m_rowIndex;
  std::vector<size_t>& starts = index.starts;
  if (bRebuild || starts.size() != tracks.size() + 1 || index.nRows != m_page->m_nRecordingsKept) {
    index.nRows = m_page->m_nRecordingsKept;
    starts.clear();
    starts.reserve(tracks.size() + 1);
    size_t row = 0;
    for (const CResultTrack& track : tracks) {
      starts.push_back(row);
      row += track.m_recordings.size();
    }
    starts.push_back(row);
    m_tracksIndexed += tracks.size();
  }
  return starts;
}

const CResultTrack* CSearchResults::TrackOfRow(int32_t index,
                                               const CResultRecording** ppRecording) const {
  *ppRecording = nullptr;
  if (!m_page || index < 0 || index >= m_page->m_nRecordingsKept) return nullptr;
  const std::vector<CResultTrack>& tracks = m_page->m_tracks;
  if (tracks.empty()) return nullptr;
  // A page whose first track has no recordings (a single-track reply) shows
  // that track on its rows, without a recording.
  if (tracks[0].m_recordings.empty()) return &tracks[0];
  const size_t row = static_cast<size_t>(index);
  for (bool bRebuild : {false, true}) {
    const std::vector<size_t>& starts = RowStarts(bRebuild);
    // The last track starting at or before the row: tracks without
    // recordings start where the next one does and are passed over.
    const size_t t = static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), row) - starts.begin());
    if (t == starts.size()) return nullptr;  // the row count claims more rows than the tracks hold
    const CResultTrack& track = tracks[t - 1];
    const size_t left = row - starts[t - 1];
    if (starts[t] - starts[t - 1] != track.m_recordings.size()) continue;  // changed since indexed
    *ppRecording = &track.m_recordings[left];
    return &track;
  }
  return nullptr;
}

const CResultTrack* CSearchResults::TrackAt(int32_t index) const {
  const CResultRecording* pRecording;
  return TrackOfRow(index, &pRecording);
}

const CResultRecording* CSearchResults::RecordingAt(int32_t index) const {
  const CResultRecording* pRecording;
  TrackOfRow(index, &pRecording);
  return pRecording;
}

plat::WString CSearchResults::TrackId(int32_t index) const {
  const CResultTrack* pTrack = TrackAt(index);
  return pTrack ? pTrack->m_trackId : plat::WString();
}

plat::WString CSearchResults::TrackName(int32_t index) const {
  const CResultTrack* pTrack = TrackAt(index);
  return pTrack ? pTrack->m_trackName : plat::WString();
}

plat::WString CSearchResults::AlbumName(int32_t index) const {
  const CResultTrack* pTrack = TrackAt(index);
  return pTrack ? pTrack->m_albumName : plat::WString();
}

plat::WString CSearchResults::VideoUrl(int32_t index) const {
  const CResultTrack* pTrack = TrackAt(index);
  return pTrack ? pTrack->m_videoUrl : plat::WString();
}

plat::WString CSearchResults::AudioPreviewUrl(int32_t index) const {
  const CResultTrack* pTrack = TrackAt(index);
  return pTrack ? pTrack->m_audioPreviewUrl : plat::WString();
}

plat::WString CSearchResults::ArtistName(int32_t index) const {
  const CResultTrack* pTrack = TrackAt(index);
  return pTrack && !pTrack->m_artists.empty() ? pTrack->m_artists[0].m_artistName : plat::WString();
}

plat::WString CSearchResults::AlbumImageName(int32_t index) const {
  const CResultTrack* pTrack = TrackAt(index);
  if (!pTrack || pTrack->m_albumPrimaryImage.empty()) return plat::WString();
  return PngImageName(pTrack->m_albumPrimaryImage);
}

plat::WString CSearchResults::RecordingId(int32_t index) const {
  const CResultRecording* pRecording = RecordingAt(index);
  return pRecording ? pRecording->m_recordingId : plat::WString();
}

plat::WString CSearchResults::RecordingFullUrl(int32_t index) const {
  const CResultRecording* pRecording = RecordingAt(index);
  return pRecording ? pRecording->m_fullUrl : plat::WString();
}

plat::WString CSearchResults::RecordingMatchedUrl(int32_t index) const {
  const CResultRecording* pRecording = RecordingAt(index);
  return pRecording ? pRecording->m_matchedUrl : plat::WString();
}

plat::WString CSearchResults::RecordingUserName(int32_t index) const {
  const CResultRecording* pRecording = RecordingAt(index);
  return pRecording && !pRecording->m_users.empty() ? pRecording->m_users[0].m_first : plat::WString();
}

plat::WString CSearchResults::UserImageName(int32_t index) const {
  const CResultRecording* pRecording = RecordingAt(index);
  if (!pRecording || pRecording->m_users.empty() || pRecording->m_users[0].m_second.empty())
    return plat::WString();
  return PngImageName(pRecording->m_users[0].m_second);
}

plat::WString CSearchResults::UpdateMessageUrl() const {
  return m_updateMessage ? m_updateMessage->m_texts[kMessageUrl] : plat::WString();
}

plat::WString CSearchResults::VideoLink(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_videos.size()) return plat::WString();
  return m_videos[index].m_video;
}

plat::WString CSearchResults::BuyLinkUrl(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_buyLinks.size()) return plat::WString();
  return m_buyLinks[index].m_texts[kBuyLinkUrl];
}

plat::WString CSearchResults::BuyLinkStoreName(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_buyLinks.size()) return plat::WString();
  return m_buyLinks[index].m_texts[kStoreName];
}

plat::WString CSearchResults::LyricsLinkUrl(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_lyricsLinks.size()) return plat::WString();
  return m_lyricsLinks[index].m_first;
}
