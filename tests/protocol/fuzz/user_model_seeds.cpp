// Writes the user model fuzz target's seeds: every reply document the
// protocol test server writes, prefixed with the byte of its reply kind, and
// the server's pictures behind picture prefixes.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "protocol/HTTPUserModel.h"
#include "tools/protocol-server/Catalogue.h"
#include "tools/protocol-server/Documents.h"
#include "tools/protocol-server/Media.h"

namespace {

int KindOfDocument(const std::string& name) {
  if (name.rfind("user information", 0) == 0 || name == "unknown user") return EUserInfoRequest;
  if (name.rfind("recordings", 0) == 0) return EUserRecordingsRequest;
  if (name.rfind("videos", 0) == 0) return EVideosRequest;
  if (name.rfind("buy links", 0) == 0) return EBuyLinksRequest;
  if (name.rfind("lyrics", 0) == 0) return ELyricsLinkRequest;
  return EUserPlaylistRequest;  // the search format
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: user_model_fuzz_seeds FOLDER\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  int n = 0;
  auto write = [&](const std::string& bytes) {
    std::ofstream(folder / ("seed-" + std::to_string(++n)), std::ios::binary) << bytes;
  };
  const qps::Catalogue catalogue = qps::Catalogue::Edge();
  for (const auto& [name, document] : qps::CannedDocuments(catalogue, "http://127.0.0.1:8080", qps::UpdateSettings{}))
    write(std::string(1, static_cast<char>(KindOfDocument(name))) + document);
  // Target rectangles: width 120 with derived height, 60 x 60, a zero width
  // and a width that passes the largest picture when derived.
  const std::string rects[] = {std::string("\x78\x00\x00\x00\x3c", 5), std::string("\x3c\x00\x3c\x00\x78", 5),
                               std::string("\x00\x00\x00\x00\x00", 5), std::string("\xff\xff\xff\xff\xff", 5)};
  const qps::PictureSpec pictures[] = {{200, 100, qps::PngKind::Rgb, 1},       {200, 200, qps::PngKind::Rgba, 2},
                                       {16, 16, qps::PngKind::PaletteTrns, 3}, {9, 7, qps::PngKind::Grey, 4},
                                       {33, 17, qps::PngKind::Interlaced, 5},  {1, 20000, qps::PngKind::Rgb, 6}};
  int i = 0;
  for (const qps::PictureSpec& picture : pictures) {
    const char kind = static_cast<char>(i % 2 ? ETrackImageRequest : EUserImageRequest);
    write(kind + rects[i % 4] + qps::MakePng(picture));
    ++i;
  }
  std::printf("wrote %d seeds to %s\n", n, folder.c_str());
  return 0;
}
