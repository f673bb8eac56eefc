// Cache names over arbitrary keys: the first byte picks the record kind, the
// rest are UTF-16 units of the key. A key either has no name or gets one
// inside the store folder by the naming rule.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/base/Debug.h"
#include "platform/fs/FileSystem.h"
#include "protocol/PreviewStore.h"

namespace {

// A device root of its own, removed at exit.
struct TTempRoot {
  std::string path;
  ~TTempRoot() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
};

PreviewStore& Store() {
  static TTempRoot root;
  static std::unique_ptr<PreviewStore> store = [] {
    plat::SetDebugSink([](plat::WStringView) {});
    std::string pattern = (std::filesystem::temp_directory_path() / "quorel-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    root.path = pattern;
    plat::FileSystemConfig config;
    config.deviceRoot = pattern;
    if (!plat::ConfigureFileSystem(config)) std::abort();
    return std::make_unique<PreviewStore>();
  }();
  return *store;
}

bool IsNameUnit(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'-'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  TrackRecord track;
  track.m_nKind = data[0] % 4;
  plat::WString key;
  for (size_t i = 1; i + 1 < size; i += 2) key.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  (track.m_nKind == TrackKindFull ? track.m_recordingId : track.m_trackId) = key;

  PreviewStore& store = Store();
  plat::WString name;
  if (!store.CacheFileName(track, name)) return 0;
  const plat::WString prefix = store.Directory() + (track.m_nKind == TrackKindFull ? u"\\r-" : u"\\t-");
  const plat::WString suffix = u".mp3_";
  bool usable = (track.m_nKind == TrackKindFull || track.m_nKind == TrackKindPreview) && !key.empty() &&
                key.size() <= PreviewStore::kMaxKeyLength;
  for (char16_t c : key) usable = usable && IsNameUnit(c);
  if (!usable || name != prefix + key + suffix) std::abort();
  return 0;
}
