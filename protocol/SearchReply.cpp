// The search reply (also the playlist and recordings replies) and the
// single-track reply, read into a new result page.
#include <tinyxml.h>

#include <algorithm>
#include <vector>

#include "protocol/ReplyXml.h"
#include "protocol/SearchResults.h"
#include "protocol/ServerError.h"

namespace {

void ReadTrack(const TiXmlElement* element, CResultTrack& track) {
  track.m_trackId = ReplyXml::Text(element, "track_id");
  track.m_albumId = ReplyXml::Text(element, "album_id");
  track.m_trackName = ReplyXml::Text(element, "track_name");
  track.m_albumName = ReplyXml::Text(element, "album_name");
  track.m_audioPreviewUrl = ReplyXml::Text(element, "audio_preview_url");
  track.m_videoUrl = ReplyXml::Text(element, "video_url");
  track.m_albumPrimaryImage = ReplyXml::Text(element, "album_primary_image");
}

// Every "artist" of the track's required "artists"; false when there is none.
bool ReadArtists(const TiXmlElement* trackElement, CResultTrack& track) {
  const TiXmlElement* artists = ReplyXml::Child(trackElement, "artists");
  const TiXmlElement* artist = ReplyXml::Child(artists, "artist");
  if (!artist) return false;
  for (; artist; artist = ReplyXml::Next(artist, "artist")) {
    CResultArtist& entry = track.m_artists.emplace_back();
    entry.m_artistId = ReplyXml::Text(artist, "artist_id");
    entry.m_artistName = ReplyXml::Text(artist, "artist_name");
    entry.m_artistPrimaryImage = ReplyXml::Text(artist, "artist_primary_image");
  }
  return true;
}

// The first "recording" of the track's required "recordings", with every
// user of its required "users"; false when any of them is missing.
bool ReadFirstRecording(const TiXmlElement* trackElement, CResultTrack& track) {
  const TiXmlElement* recording = ReplyXml::Child(ReplyXml::Child(trackElement, "recordings"), "recording");
  if (!recording) return false;
  const TiXmlElement* user = ReplyXml::Child(ReplyXml::Child(recording, "users"), "user");
  if (!user) return false;
  CResultRecording& entry = track.m_recordings.emplace_back();
  entry.m_recordingId = ReplyXml::Text(recording, "recording_id");
  entry.m_fullUrl = ReplyXml::Text(recording, "full_url");
  entry.m_matchedUrl = ReplyXml::Text(recording, "matched_url");
  for (; user; user = ReplyXml::Next(user, "user"))
    entry.m_users.push_back({ReplyXml::Text(user, "username"), ReplyXml::Text(user, "user_primary_image")});
  return true;
}

// The "tracks" containers of a reply in document order: below the first
// "tracks_grouped" (through its name groups) when there is one, else below the
// root.
std::vector<const TiXmlElement*> TrackContainers(const TiXmlElement* root) {
  std::vector<const TiXmlElement*> containers;
  const TiXmlElement* grouped = ReplyXml::Child(root, "tracks_grouped");
  if (!grouped) {
    for (const TiXmlElement* tracks = ReplyXml::Child(root, "tracks"); tracks;
         tracks = ReplyXml::Next(tracks, "tracks"))
      containers.push_back(tracks);
    return containers;
  }
  for (const TiXmlElement* nameGroup = ReplyXml::Child(grouped, "track_name_group"); nameGroup;
       nameGroup = ReplyXml::Next(nameGroup, "track_name_group")) {
    for (const TiXmlElement* artistGroup = ReplyXml::Child(nameGroup, "artist_name_group"); artistGroup;
         artistGroup = ReplyXml::Next(artistGroup, "artist_name_group")) {
      for (const TiXmlElement* tracks = ReplyXml::Child(artistGroup, "tracks"); tracks;
           tracks = ReplyXml::Next(tracks, "tracks"))
        containers.push_back(tracks);
    }
  }
  return containers;
}

}  // namespace

bool CSearchResults::Load(CSearchResults& model, const char* text, size_t length) {
  LastServerError.Reset();
  TiXmlDocument doc;
  if (ReplyXml::Parse(doc, text, length) &&
      (ParseSearchReply(model, doc) || ParseTrackReply(model, doc))) {
    LastServerError.m_bPending = false;
    return true;
  }
  // A refused body leaves the document empty, so nothing becomes pending; a
  // body TinyXML gave up on still shows an error its first part carried.
  model.PushPage();
  ParseServerError(doc);
  return false;
}

bool CSearchResults::ParseSearchReply(CSearchResults& model, const TiXmlDocument& doc) {
  CResultPage& page = model.PushPage();
  const bool bOk = [&] {
    if (IsErrorReply(doc)) return false;
    const TiXmlElement* root = ReplyXml::Root(doc);
    page.m_searchId = ReplyXml::Text(root, "search_id");
    ReplyXml::Int(root, "total_records", page.m_nTotalRecords);
    const bool bEnd = ReplyXml::Int(root, "records_end", page.m_nRecordsEnd);
    const bool bStart = ReplyXml::Int(root, "records_start", page.m_nRecordsStart);
    // Only a range the server closed at 0 is empty: a negative end is
    // nonsense, and the tracks that follow it are read.
    const bool bEmptyRange = bEnd && bStart && page.m_nRecordsEnd == 0;
    // The screens print the counts as they stand: a negative one is kept as
    // 0 (and a 0 total is counted below).
    for (int32_t* pCount : {&page.m_nTotalRecords, &page.m_nRecordsStart, &page.m_nRecordsEnd})
      *pCount = std::max(*pCount, 0);
    if (bEmptyRange) return true;

    const std::vector<const TiXmlElement*> containers = TrackContainers(root);
    size_t count = 0;
    for (const TiXmlElement* tracks : containers) count += ReplyXml::CountChildren(tracks, "track");
    if (count == 0) return true;
    if (page.m_nTotalRecords == 0) page.m_nTotalRecords = static_cast<int32_t>(count);

    // The vectors grow as tracks prove valid: a reply of many empty tracks
    // fails on the first without allocating for the rest.
    for (const TiXmlElement* tracks : containers) {
      for (const TiXmlElement* element = ReplyXml::Child(tracks, "track"); element;
           element = ReplyXml::Next(element, "track")) {
        CResultTrack& track = page.m_tracks.emplace_back();
        ReadTrack(element, track);
        if (!ReadArtists(element, track) || !ReadFirstRecording(element, track)) return false;
        ++page.m_nRecordingsKept;
      }
    }
    return true;
  }();
  if (!bOk) model.Clear();
  return bOk;
}

bool CSearchResults::ParseTrackReply(CSearchResults& model, const TiXmlDocument& doc) {
  CResultPage& page = model.PushPage();
  const bool bOk = [&] {
    if (IsErrorReply(doc)) return false;
    const TiXmlElement* root = ReplyXml::Root(doc);
    int32_t total = 0;
    if (ReplyXml::Int(root, "total_records", total) && total == 0) return true;
    const TiXmlElement* tracks = ReplyXml::Child(root, "tracks");
    if (!tracks) return false;
    const TiXmlElement* element = ReplyXml::Child(tracks, "track");
    if (!element) return true;
    page.m_nTotalRecords = page.m_nRecordsStart = page.m_nRecordsEnd = 1;
    page.m_nRecordingsKept = 1;
    CResultTrack& track = page.m_tracks.emplace_back();
    ReadTrack(element, track);
    return ReadArtists(element, track);
  }();
  if (!bOk) model.Clear();
  return bOk;
}
