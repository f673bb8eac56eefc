// What the server knows: tracks, artists, users, their pictures and previews.
// URLs are kept as server paths ("/img/al1.jpg") and get the public base when
// a reply is written, so one catalogue serves any port.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/protocol-server/Media.h"

namespace qps {

// The preview kinds of the client's preview store.
enum class PreviewKind { Matched = 0, Full = 1, Track = 2 };
const char* PreviewKindPath(PreviewKind kind);  // "matched", "full", "preview"
// Each kind plays at its own multiple of the track's frequency, so a listener
// (or a test) can tell which preview played.
double PreviewFrequency(double trackFrequency, PreviewKind kind);

struct Artist {
  std::string id, name, image;
};

struct Recording {
  std::string id;
  std::string user;  // username
};

struct Video {
  std::string video, title, description, created;
  long long views = 0;
  std::string rating;
  long long duration = 0;
  std::vector<std::pair<std::string, std::string>> thumbnails;  // url, time
};

struct BuyLink {
  std::string url, title, store, storeName, status;
};

struct Track {
  std::string id, albumId, name, albumName, albumImage;
  std::vector<int> artists;           // indices into Catalogue::artists
  std::vector<Recording> recordings;  // shown in search replies
  Recording spare;                    // second recording, for the two-recordings fault
  double frequency = 440;             // signature: what a singer must hit to find it
  bool ranked = true;                 // takes part in pitch ranking
  Mp3Format format = Mp3Format::Mono44k;
  std::string previewPath;            // audio_preview_url
  std::string videoPath;              // video_url; empty stays empty
  bool videoHttps = false;            // video_url handed out on https
  std::vector<Video> videos;
  std::vector<BuyLink> buyLinks;
  std::string lyricsUrl, lyricsStatus;  // empty status: no lyrics at all
};

struct ListEntry {
  int track = 0;
  Recording recording;
};

struct User {
  std::string name;
  std::optional<std::string> image;
  std::string homepage;
  std::vector<ListEntry> playlist;
  std::vector<ListEntry> recordings;
};

struct Catalogue {
  std::string name;  // "default" or "edge"
  std::vector<Artist> artists;
  std::vector<Track> tracks;
  std::vector<User> users;
  std::map<std::string, PictureSpec> pictures;  // by name below /img/, without extension

  static Catalogue Default();
  static Catalogue Edge();
  static std::optional<Catalogue> ByName(const std::string& name);

  const Track* FindTrack(const std::string& id) const;
  const User* FindUser(const std::string& name) const;
  // The track a recording belongs to (search, list or spare recording).
  const Track* TrackOfRecording(const std::string& recordingId) const;

  // Every image path the catalogue hands out, every preview path, for the
  // self-check and the tests.
  std::vector<std::string> ImagePaths() const;
  std::vector<std::string> PreviewPaths() const;

 private:
  void Index();
  std::map<std::string, int> m_trackById;
  std::map<std::string, int> m_trackByRecording;
};

std::string PreviewPath(PreviewKind kind, const std::string& id);
std::string VideoPath(const std::string& trackId);

// The client's picture rule: the text after the last '.' that lies after the
// last '/' becomes "png", otherwise ".png" is appended.
std::string PngNameOf(const std::string& url);

}  // namespace qps
