// The folder of downloaded previews: a preview heard once replays from here
// without the network. The streaming player downloads into "buffer.dat"; a
// completed download is moved under its track's cache name after the oldest
// cached previews have made room. The update package is written into the same
// folder, so the store is the file sink's folder source while it lives.
//
// UI thread only.
#pragma once

#include <cstdint>

#include "platform/base/Strings.h"
#include "protocol/Records.h"

class PreviewStore {
 public:
  // Most bytes the folder keeps: cached previews plus "buffer.dat".
  static constexpr uint64_t kSizeLimit = 0x100001;
  // Longest cache key that gets a name.
  static constexpr size_t kMaxKeyLength = 64;
  // A download this short cannot hold one MP3 frame header.
  static constexpr uint32_t kMinPlayableBytes = 4;

  // Chooses the folder (the first storage card when it can hold it) and
  // creates it.
  PreviewStore();
  ~PreviewStore();
  PreviewStore(const PreviewStore&) = delete;
  PreviewStore& operator=(const PreviewStore&) = delete;

  // The folder without a trailing backslash.
  plat::WString Directory() const { return m_directory; }
  plat::WString BufferPath() const { return m_bufferPath; }

  // The file a track's preview is cached in; false for tracks whose previews
  // are never cached and for keys that cannot be a file name here (a key is
  // used only when it is 1 to 64 characters of a-z, 0-9, '_' and '-').
  bool CacheFileName(const TrackRecord& track, plat::WString& name) const;
  // The cache name, and whether that file can be opened for reading.
  bool IsCached(const TrackRecord& track, plat::WString& name) const;
  // Makes room, then moves "buffer.dat" under the track's cache name. False
  // (and "buffer.dat" deleted) when it is too short to play or the folder
  // cannot be brought under the limit; false when the track has no cache
  // name or the move fails ("buffer.dat" stays).
  bool Commit(const TrackRecord& track);
  // Deletes the track's cached file (one that failed to open or decode).
  bool Discard(const TrackRecord& track);

  // Bytes held by the counted files of `folder` ("buffer.dat" and names
  // holding ".mp3_" or ".MP3_"): the low word, the high word through `high`.
  static uint32_t TotalSize(plat::WStringView folder, uint32_t* high);
  // Deletes the cached preview with the oldest last-write time (the first
  // met on a tie); true only when one was deleted.
  static bool EvictOldest(plat::WStringView folder);

 private:
  plat::WString m_directory;
  plat::WString m_bufferPath;
};
