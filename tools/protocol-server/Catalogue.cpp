#include "tools/protocol-server/Catalogue.h"

#include <set>

#include "tools/protocol-server/Util.h"

namespace qps {

const char* PreviewKindPath(PreviewKind kind) {
  switch (kind) {
    case PreviewKind::Matched: return "matched";
    case PreviewKind::Full: return "full";
    case PreviewKind::Track: return "preview";
  }
  return "?";
}

double PreviewFrequency(double f, PreviewKind kind) {
  switch (kind) {
    case PreviewKind::Matched: return f * 3 / 2;
    case PreviewKind::Full: return f / 2;
    case PreviewKind::Track: return f;
  }
  return f;
}

std::string PreviewPath(PreviewKind kind, const std::string& id) {
  return std::string("/media/") + PreviewKindPath(kind) + "-" + PercentEncode(id) + ".mp3";
}

std::string VideoPath(const std::string& trackId) {
  return "/v2/?method=getVideos&track_id=" + PercentEncode(trackId);
}

std::string PngNameOf(const std::string& url) {
  size_t dot = url.rfind('.');
  size_t slash = url.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) return url.substr(0, dot) + ".png";
  return url + ".png";
}

namespace {

constexpr PngKind kKinds[] = {PngKind::Rgb, PngKind::Rgba, PngKind::PaletteTrns, PngKind::Grey,
                              PngKind::Interlaced};

// Registers the picture behind an image path ("/img/al1.jpg", "/img/al3",
// "/f/<fault>/img/e1.jpg") under the name the ".png" request will carry.
void AddPicture(Catalogue& c, const std::string& path, int width, int height) {
  if (path.empty()) return;
  std::string png = PngNameOf(path);
  size_t img = png.find("/img/");
  std::string name = png.substr(img + 5, png.size() - img - 5 - 4);
  PictureSpec pictureSpec;
  pictureSpec.width = width;
  pictureSpec.height = height;
  pictureSpec.kind = kKinds[c.pictures.size() % 5];
  pictureSpec.seed = Fnv1a(name) | 0x202020;
  c.pictures.emplace(name, pictureSpec);
}

Track MakeTrack(const std::string& id, const std::string& album, const std::string& name,
                const std::string& albumName, const std::string& albumImage, std::vector<int> artists,
                double frequency, Mp3Format format, const std::string& recordingId, const std::string& user,
                const std::string& spareUser) {
  Track t;
  t.id = id;
  t.albumId = album;
  t.name = name;
  t.albumName = albumName;
  t.albumImage = albumImage;
  t.artists = std::move(artists);
  t.frequency = frequency;
  t.format = format;
  t.recordings.push_back({recordingId, user});
  t.spare = {recordingId + "b", spareUser};
  t.previewPath = PreviewPath(PreviewKind::Track, id);
  t.videoPath = VideoPath(id);
  return t;
}

}  // namespace

Catalogue Catalogue::Default() {
  Catalogue c;
  c.name = "default";
  c.artists = {
      {"ar1", "Mira Sól & The Lanterns", "/img/ar1.jpg"},
      {"ar2", "Łukasz <Echo>", "/img/ar2.jpg"},
      {"ar3", "Håkon \"Hex\" Berg", "/img/ar3"},
      {"ar4", "Zoë > Noise", "/img/ar4.jpg"},
  };
  c.tracks = {
      MakeTrack("t1", "al1", "Café Nights & Days", "Señal <Live>", "/img/al1.jpg", {0}, 262,
                Mp3Format::Mono44k, "r1", "anna", "collector"),
      MakeTrack("t2", "al1", "\"Quoted\" Lullaby", "Señal <Live>", "/img/al1.jpg", {0}, 330,
                Mp3Format::JointStereo44k, "r2", "zoë", "anna"),
      MakeTrack("t3", "al2", "Less < More", "Über & Under", "/img/al2.jpg", {1}, 392, Mp3Format::Mpeg2Mono22k,
                "r3", "nopic", "zoë"),
      MakeTrack("t4", "al2", "Greater > Less", "Über & Under", "/img/al2.jpg", {1}, 440, Mp3Format::Mono44k,
                "r4", "collector", "anna"),
      MakeTrack("t5", "al3", "Tōkyō 'Rain'", "Ørsted's Field", "/img/al3", {2, 3}, 523, Mp3Format::Mono44k,
                "r5", "anna", "empty"),
      MakeTrack("t6", "al4", "Straße Nine", "Noise & Signal", "/img/al4.jpg", {3}, 659, Mp3Format::Mono44k,
                "r6", "zoë", "nopic"),
  };
  Track& t1 = c.tracks[0];
  t1.videos = {
      {"/page/video-v1", "Live at the Harbour", "Concert & encore", "2009-05-01", 1234, "4.5", 215,
       {{"/img/v1.jpg", "00:00:10"}, {"/img/v2.jpg", "00:01:00"}}},
      {"/page/video-v2", "Acoustic <session>", "Recorded \"unplugged\"", "2010-11-20", 56, "3", 187,
       {{"/img/v3.jpg", "00:00:05"}}},
  };
  t1.buyLinks = {
      {"/page/buy-t1-s1", "Buy now", "s1", "Music Store", "found"},
      {"/page/buy-t1-s2", "Download", "s2", "Ünïcode Records & Co", "found"},
  };
  t1.lyricsUrl = "/page/lyrics-t1";
  t1.lyricsStatus = "found";
  Track& t2 = c.tracks[1];
  t2.videos = {{"/page/video-v3", "Lullaby (official)", "Video", "2008-01-02", 99999, "4.9", 182,
                {{"/img/v3.jpg", "00:00:30"}}}};
  t2.buyLinks = {{"", "", "s1", "Music Store", "not-found"}};
  t2.lyricsUrl = "/page/lyrics-t2";
  t2.lyricsStatus = "not-found";
  c.tracks[2].videoPath.clear();
  c.tracks[3].buyLinks = {
      {"", "", "s1", "Music Store", "not-found"},
      {"/page/buy-t4-s2", "Buy", "s2", "Second Store", "found"},
  };

  User anna{"anna", "/img/anna.jpg", "/page/user-anna", {}, {}};
  anna.playlist = {{1, {"pa1", "zoë"}}, {3, {"pa2", "collector"}}, {5, {"pa3", "nopic"}}};
  anna.recordings = {{0, {"ua1", "anna"}}, {2, {"ua2", "anna"}}, {4, {"ua3", "anna"}}};
  User zoe{"zoë", "/img/zoe.jpg", "/page/user-zoe", {}, {}};
  zoe.playlist = {{0, {"pz1", "anna"}}};
  zoe.recordings = {{1, {"uz1", "zoë"}}, {5, {"uz2", "zoë"}}};
  User nopic{"nopic", std::nullopt, "/page/user-nopic", {}, {}};
  nopic.playlist = {{2, {"pn1", "anna"}}};
  nopic.recordings = {{2, {"un1", "nopic"}}};
  User empty{"empty", "/img/empty.jpg", "/page/user-empty", {}, {}};
  empty.recordings = {{3, {"ue1", "empty"}}};
  User collector{"collector", "/img/collector.jpg", "/page/user-collector", {}, {}};
  const char* others[] = {"anna", "zoë", "nopic", "empty"};
  for (int i = 0; i < 20; ++i) {
    std::string id = std::string("pc") + (i + 1 < 10 ? "0" : "") + std::to_string(i + 1);
    collector.playlist.push_back({i % 6, {id, others[i % 4]}});
  }
  collector.recordings = {{3, {"uc1", "collector"}}, {0, {"uc2", "collector"}}};
  c.users = {anna, zoe, nopic, empty, collector};

  for (const Track& t : c.tracks) AddPicture(c, t.albumImage, 200, 200);
  for (const Artist& a : c.artists) AddPicture(c, a.image, 200, 200);
  for (const User& u : c.users)
    if (u.image) AddPicture(c, *u.image, 200, 100);
  for (const Track& t : c.tracks)
    for (const Video& v : t.videos)
      for (const auto& th : v.thumbnails) AddPicture(c, th.first, 200, 200);
  c.Index();
  return c;
}

Catalogue Catalogue::Edge() {
  Catalogue c = Default();
  c.name = "edge";
  struct EdgeTrack {
    const char* id;
    const char* name;
    double frequency;
    const char* albumImage;
  };
  // Ids the client's preview store must refuse to use as file names, and
  // resource URLs that carry a fault, so the failure handling can be watched.
  const EdgeTrack edges[] = {
      {"T1", "Upper-case Id", 294, "/f/png-corrupt/img/e1.jpg"},
      {"a.b", "Dotted Id & Two Recordings", 349, "/img/e2.jpg"},
      {"../x", "Parent <Folder> Id", 415, "/f/not-png/img/e3.jpg"},
      {"a\\b", "Backslash \"Id\"", 466, "/img/e.d/e4"},
      {"", "Empty Id", 554, "/f/png-truncated/img/e5.jpg"},
  };
  int n = 0;
  for (const EdgeTrack& e : edges) {
    ++n;
    Track t = MakeTrack(e.id, "ale", e.name, "Edge Cases", e.albumImage, {n % 4}, e.frequency,
                        Mp3Format::Mono44k, "e" + std::to_string(n), "edge", "tall");
    t.ranked = false;
    c.tracks.push_back(t);
  }
  Track& upper = c.tracks[6];
  upper.recordings[0].id = "t1";  // a recording id equal to a track id
  Track& dotted = c.tracks[7];
  dotted.recordings.push_back({"e2c", "anna"});
  dotted.previewPath = "/f/mp3-id3" + dotted.previewPath;
  Track& parent = c.tracks[8];
  parent.videoHttps = true;
  parent.previewPath = "/f/status~404" + parent.previewPath;
  Track& backslash = c.tracks[9];
  backslash.previewPath = "/f/dribble~20000" + backslash.previewPath;  // a little faster than it plays
  backslash.videoPath = "/f/empty-videos" + backslash.videoPath;
  Track& empty = c.tracks[10];
  empty.previewPath = "/f/mp3-garbage" + empty.previewPath;

  User tall{"tall", "/img/tall.jpg", "/page/user-tall", {}, {}};
  tall.playlist = {{0, {"pt1", "anna"}}};
  User edge{"edge", "/img/u.d/u1", "/page/user-edge", {}, {}};
  for (int i = 6; i < 11; ++i) {
    edge.playlist.push_back({i, {"pe" + std::to_string(i - 5), "anna"}});
    edge.recordings.push_back({i, {"ee" + std::to_string(i - 5), "edge"}});
  }
  c.users.push_back(tall);
  c.users.push_back(edge);

  for (size_t i = 6; i < c.tracks.size(); ++i) AddPicture(c, c.tracks[i].albumImage, 200, 200);
  PictureSpec tallSpec;
  tallSpec.width = 1;
  tallSpec.height = 20000;
  tallSpec.kind = PngKind::Rgb;
  tallSpec.seed = Fnv1a("tall") | 0x202020;
  c.pictures["tall"] = tallSpec;
  AddPicture(c, "/img/u.d/u1", 200, 100);
  c.Index();
  return c;
}

std::optional<Catalogue> Catalogue::ByName(const std::string& name) {
  if (name == "default") return Default();
  if (name == "edge") return Edge();
  return std::nullopt;
}

void Catalogue::Index() {
  m_trackById.clear();
  m_trackByRecording.clear();
  for (size_t i = 0; i < tracks.size(); ++i) {
    m_trackById.emplace(tracks[i].id, static_cast<int>(i));
    for (const Recording& r : tracks[i].recordings) m_trackByRecording.emplace(r.id, static_cast<int>(i));
    m_trackByRecording.emplace(tracks[i].spare.id, static_cast<int>(i));
  }
  for (const User& u : users) {
    for (const ListEntry& e : u.playlist) m_trackByRecording.emplace(e.recording.id, e.track);
    for (const ListEntry& e : u.recordings) m_trackByRecording.emplace(e.recording.id, e.track);
  }
}

const Track* Catalogue::FindTrack(const std::string& id) const {
  auto it = m_trackById.find(id);
  return it == m_trackById.end() ? nullptr : &tracks[it->second];
}

const User* Catalogue::FindUser(const std::string& name) const {
  for (const User& u : users)
    if (u.name == name) return &u;
  return nullptr;
}

const Track* Catalogue::TrackOfRecording(const std::string& recordingId) const {
  auto it = m_trackByRecording.find(recordingId);
  return it == m_trackByRecording.end() ? nullptr : &tracks[it->second];
}

std::vector<std::string> Catalogue::ImagePaths() const {
  std::set<std::string> paths;
  for (const Track& t : tracks) {
    if (!t.albumImage.empty()) paths.insert(t.albumImage);
    for (const Video& v : t.videos)
      for (const auto& th : v.thumbnails) paths.insert(th.first);
  }
  for (const Artist& a : artists) paths.insert(a.image);
  for (const User& u : users)
    if (u.image) paths.insert(*u.image);
  return {paths.begin(), paths.end()};
}

std::vector<std::string> Catalogue::PreviewPaths() const {
  std::set<std::string> paths;
  auto addRecording = [&](const Recording& r) {
    paths.insert(PreviewPath(PreviewKind::Full, r.id));
    paths.insert(PreviewPath(PreviewKind::Matched, r.id));
  };
  for (const Track& t : tracks) {
    paths.insert(t.previewPath);
    for (const Recording& r : t.recordings) addRecording(r);
    addRecording(t.spare);
  }
  for (const User& u : users) {
    for (const ListEntry& e : u.playlist) addRecording(e.recording);
    for (const ListEntry& e : u.recordings) addRecording(e.recording);
  }
  return {paths.begin(), paths.end()};
}

}  // namespace qps
