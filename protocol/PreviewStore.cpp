#include "protocol/PreviewStore.h"

#include <algorithm>
#include <vector>

#include "framework/ProgramFolders.h"
#include "framework/Trace.h"
#include "net/HTTPSink.h"
#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"

namespace {

constexpr char16_t kStoreFolder[] = u"quorelstore";
constexpr char16_t kBufferName[] = u"buffer.dat";

bool IsCountedPreview(plat::WStringView name) {
  return name.find(u".mp3_") != plat::WStringView::npos || name.find(u".MP3_") != plat::WStringView::npos;
}

bool IsFile(const plat::FindData& entry) { return (entry.attributes & plat::FILE_ATTRIBUTE_DIRECTORY) == 0; }

// Keys come from the server's XML: only a short lower-case word may become a
// file name, so no key leaves the folder or collides with another by case.
bool IsUsableKey(plat::WStringView key) {
  if (key.empty() || key.size() > PreviewStore::kMaxKeyLength) return false;
  for (char16_t c : key) {
    bool ok = (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_' || c == u'-';
    if (!ok) return false;
  }
  return true;
}

// Calls `visit` for every entry of the folder.
template <class F>
void ForEachEntry(plat::WStringView folder, F visit) {
  plat::FindData entry;
  plat::Handle hFind = plat::FindFirstFile(plat::WString(folder) + u"\\*", &entry);
  if (hFind == plat::INVALID_HANDLE_VALUE) return;
  do {
    visit(entry);
  } while (plat::FindNextFile(hFind, &entry));
  plat::FindClose(hFind);
}

// The size of a file opened for reading without sharing; nothing when it
// does not open or its size cannot be read.
bool ReadFileSize(plat::WStringView path, uint64_t& size) {
  plat::Handle hFile = plat::CreateFile(path, plat::GENERIC_READ, 0, plat::OPEN_EXISTING, plat::FILE_ATTRIBUTE_NORMAL);
  if (hFile == plat::INVALID_HANDLE_VALUE) return false;
  uint32_t high = 0;
  uint32_t low = plat::GetFileSize(hFile, &high);
  bool ok = plat::GetLastError() == plat::ERROR_SUCCESS;
  plat::CloseHandle(hFile);
  if (ok) size = (uint64_t{high} << 32) | low;
  return ok;
}

struct TCachedPreview {
  uint64_t written;
  uint64_t size;
  plat::WString name;
};

// The bytes held by the counted files of the folder, and its cached
// previews that count, in enumeration order.
uint64_t Survey(plat::WStringView folder, std::vector<TCachedPreview>* pPreviews) {
  uint64_t total = 0;
  ForEachEntry(folder, [&](const plat::FindData& entry) {
    const bool bPreview = IsCountedPreview(entry.name);
    if (!IsFile(entry) || !(bPreview || entry.name == kBufferName)) return;
    uint64_t size = 0;
    if (!ReadFileSize(plat::WString(folder) + u"\\" + entry.name, size)) return;
    total += size;
    if (bPreview && pPreviews) pPreviews->push_back({entry.lastWriteTime.Value(), size, entry.name});
  });
  return total;
}

}  // namespace

PreviewStore::PreviewStore() {
  bool chosen = false;
  plat::FindData card;
  plat::Handle hCards = plat::FindFirstFlashCard(&card);
  if (hCards != plat::INVALID_HANDLE_VALUE && !card.name.empty()) {
    plat::WString folder = u"\\" + card.name + u"\\" + kStoreFolder;
    if (plat::CreateDirectory(folder) || plat::GetLastError() == plat::ERROR_ALREADY_EXISTS) {
      m_directory = folder;
      chosen = true;
    } else {
      DebugTrace(u"[QUOREL] Can't create directory on flash card, will be used application drive\n");
    }
  }
  if (!chosen) {
    plat::WString programCard = FindStoreCardFolder();
    m_directory = programCard.empty() ? plat::WString(u"\\") + kStoreFolder
                                      : u"\\" + programCard + u"\\" + kStoreFolder;
    plat::CreateDirectory(m_directory);
  }
  if (hCards != plat::INVALID_HANDLE_VALUE) plat::FindClose(hCards);
  m_bufferPath = m_directory + u"\\" + kBufferName;
  DebugTrace(u"[QUOREL] Quorelstore directory name: %s\n", m_directory);
  DebugTrace(u"[QUOREL] buffer.dat full name: %s\n", m_bufferPath);
  // No stream is under way while the store is made: a buffer left here is
  // the unfinished download of a run that was killed, and it would hold
  // part of the folder's budget until the next stream overwrote it.
  if (plat::DeleteFile(m_bufferPath)) DebugTrace(u"[QUOREL] Removed the unfinished download of an earlier run\n");

  plat::WString directory = m_directory;
  CHTTPFileSink::SetFolderSource([directory] { return directory; });
}

PreviewStore::~PreviewStore() { CHTTPFileSink::SetFolderSource(nullptr); }

bool PreviewStore::CacheFileName(const TrackRecord& track, plat::WString& name) const {
  plat::WString key;
  if (!track.CacheKey(key) || !IsUsableKey(key)) return false;
  // Recordings and tracks share the folder but never a name.
  const char16_t* prefix = track.m_nKind == TrackKindFull ? u"r-" : u"t-";
  name = m_directory + u"\\" + prefix + key + u".mp3_";
  return true;
}

bool PreviewStore::IsCached(const TrackRecord& track, plat::WString& name) const {
  return CacheFileName(track, name) && plat::CanOpenForRead(name);
}

bool PreviewStore::Commit(const TrackRecord& track) {
  uint64_t bufferSize = 0;
  if (!ReadFileSize(m_bufferPath, bufferSize)) return false;
  if (bufferSize < kMinPlayableBytes) {
    plat::DeleteFile(m_bufferPath);
    return false;
  }
  // One walk gives the total and every candidate, oldest first (a stable
  // sort keeps the enumeration order on equal times); evicting then needs no
  // further walk per deleted file.
  std::vector<TCachedPreview> candidates;
  uint64_t total = Survey(m_directory, &candidates);
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const TCachedPreview& a, const TCachedPreview& b) { return a.written < b.written; });
  for (auto next = candidates.begin(); total > kSizeLimit; ++next) {
    if (next == candidates.end() || !plat::DeleteFile(m_directory + u"\\" + next->name)) {
      plat::DeleteFile(m_bufferPath);
      return false;
    }
    total -= next->size;
  }
  plat::WString name;
  if (!CacheFileName(track, name)) return false;
  return plat::MoveFile(m_bufferPath, name);
}

bool PreviewStore::Discard(const TrackRecord& track) {
  plat::WString name;
  return CacheFileName(track, name) && plat::DeleteFile(name);
}

uint32_t PreviewStore::TotalSize(plat::WStringView folder, uint32_t* high) {
  uint64_t total = Survey(folder, nullptr);
  if (high) *high = static_cast<uint32_t>(total >> 32);
  return static_cast<uint32_t>(total);
}

bool PreviewStore::EvictOldest(plat::WStringView folder) {
  bool found = false;
  uint64_t oldest = 0;
  plat::WString victim;
  ForEachEntry(folder, [&](const plat::FindData& entry) {
    if (!IsFile(entry) || !IsCountedPreview(entry.name)) return;
    uint64_t written = entry.lastWriteTime.Value();
    if (!found || written < oldest) {
      found = true;
      oldest = written;
      victim = entry.name;
    }
  });
  return found && plat::DeleteFile(plat::WString(folder) + u"\\" + victim);
}
