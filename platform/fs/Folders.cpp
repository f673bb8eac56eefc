// Folder operations, enumeration and the storage-card list.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

#include "platform/base/Errors.h"
#include "platform/fs/FsInternal.h"

namespace plat {

using namespace fs_detail;

namespace {

std::atomic<bool> g_forceRenameFallback{false};

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

class FindObject final : public KernelObject {
 public:
  FindObject(std::vector<FindData> entries, bool cards) : m_entries(std::move(entries)), m_cards(cards) {}

  bool Next(FindData* data) {
    std::lock_guard<std::mutex> g(m_lock);
    if (m_next >= m_entries.size()) return Fail(ERROR_NO_MORE_FILES);
    *data = m_entries[m_next++];
    return true;
  }

  const std::vector<FindData> m_entries;
  const bool m_cards;

 private:
  std::mutex m_lock;
  size_t m_next = 0;
};

// Case-insensitive match of '*' (any run) and '?' (one unit).
bool WildcardMatch(WStringView pattern, WStringView name) {
  if (pattern == u"*.*") pattern = u"*";
  size_t p = 0, n = 0, starP = WStringView::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != WStringView::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

FindData MakeFindData(WString name, const struct stat& st, bool readOnlyMount) {
  FindData d;
  d.name = std::move(name);
  d.lastWriteTime = ToFileTime(st.st_mtim);
  if (S_ISDIR(st.st_mode)) {
    d.attributes = FILE_ATTRIBUTE_DIRECTORY;
  } else {
    auto size = static_cast<uint64_t>(st.st_size);
    d.sizeHigh = static_cast<uint32_t>(size >> 32);
    d.sizeLow = static_cast<uint32_t>(size);
    d.attributes = readOnlyMount || !(st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
  }
  return d;
}

// "The entry met first" must not depend on the host's directory order.
void SortEntries(std::vector<FindData>& entries) {
  std::sort(entries.begin(), entries.end(), [](const FindData& a, const FindData& b) {
    int c = CompareNoCase(a.name, b.name);
    return c != 0 ? c < 0 : a.name < b.name;
  });
}

bool ListFolder(const Resolved& r, std::vector<FindData>& out) {
  DIR* d = ::opendir(r.folder.c_str());
  if (!d) return Fail(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
  while (dirent* e = ::readdir(d)) {
    std::string_view host = e->d_name;
    WString name;
    if (host == "." || host == ".." || !DecodeHostName(host, name) || !WildcardMatch(r.pattern, name)) continue;
    struct stat st;
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) continue;  // links and devices are not the device's
    out.push_back(MakeFindData(std::move(name), st, r.mount->readOnly));
  }
  ::closedir(d);
  return true;
}

Handle RegisterFind(std::vector<FindData> entries, bool cards, FindData* data, uint32_t emptyError) {
  if (entries.empty()) {
    SetLastError(emptyError);
    return INVALID_HANDLE_VALUE;
  }
  auto find = std::make_shared<FindObject>(std::move(entries), cards);
  find->Next(data);
  Handle h = RegisterHandle(find);
  if (!h || h == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return h;
}

bool NextOf(Handle h, FindData* data, bool cards) {
  std::shared_ptr<FindObject> find = LookupHandleAs<FindObject>(h);
  if (!find || find->m_cards != cards) return Fail(ERROR_INVALID_HANDLE);
  if (!data) return Fail(ERROR_INVALID_PARAMETER);
  return find->Next(data);
}

// rename() that never replaces. Where the kernel or the host file system has
// no such rename, a hard link does the same for a file (it fails when the
// name exists); for a folder, or on a file system without links, the check
// and the rename run under the file-system lock, which covers every writer of
// the device's folders.
int RenameNoReplace(const stdfs::path& from, const stdfs::path& to, bool isFolder) {
  if (!g_forceRenameFallback.load(std::memory_order_relaxed)) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  }
  if (!isFolder) {
    if (::link(from.c_str(), to.c_str()) == 0) {
      if (::unlink(from.c_str()) == 0) return 0;
      int err = errno;
      ::unlink(to.c_str());
      return err;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return errno;
  }
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return EEXIST;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

namespace fs_detail {
void ForceRenameFallbackForTest(bool force) { g_forceRenameFallback = force; }
}  // namespace fs_detail

bool DeleteFile(WStringView path) {
  Guard g(FsLock());
  Resolved r;
  if (!Resolve(path, r, false)) return false;
  if (!r.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (S_ISDIR(r.st.st_mode) || r.mount->readOnly) return Fail(ERROR_ACCESS_DENIED);
  if (IsOpenLocked(r.st.st_dev, r.st.st_ino)) return Fail(ERROR_SHARING_VIOLATION);
  if (::unlink(r.host.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  return true;
}

bool MoveFile(WStringView fromPath, WStringView toPath) {
  Guard g(FsLock());
  Resolved from, to;
  if (!Resolve(fromPath, from, false)) return false;
  if (!from.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (!Resolve(toPath, to, false)) return false;
  if (from.mount->readOnly || to.mount->readOnly) return Fail(ERROR_ACCESS_DENIED);
  // Mount points and the folders that hold them stay where the table says.
  if (HoldsMount(*from.table, from.parts)) return Fail(ERROR_ACCESS_DENIED);
  bool isFolder = S_ISDIR(from.st.st_mode);
  bool renamingCase = false;
  if (to.exists) {
    // Another spelling of the same entry: a change of case is a rename.
    if (to.isMountRoot || to.st.st_dev != from.st.st_dev || to.st.st_ino != from.st.st_ino)
      return Fail(ERROR_ALREADY_EXISTS);
    renamingCase = true;
  }
  if (isFolder ? AnyOpenUnderLocked(from.host) : IsOpenLocked(from.st.st_dev, from.st.st_ino))
    return Fail(ERROR_SHARING_VIOLATION);
  if (renamingCase) {
    stdfs::path target = to.folder / ToUtf8(to.parts.back());
    if (target == from.host) return true;
    if (::rename(from.host.c_str(), target.c_str()) != 0) return Fail(ErrorFromErrno(errno));
    return true;
  }
  if (int err = RenameNoReplace(from.host, to.host, isFolder)) return Fail(ErrorFromErrno(err));  // EEXIST: 183
  return true;
}

bool CreateDirectory(WStringView path) {
  Guard g(FsLock());
  Resolved r;
  if (!Resolve(path, r, false)) return false;
  if (r.exists) return Fail(ERROR_ALREADY_EXISTS);
  if (r.mount->readOnly) return Fail(ERROR_ACCESS_DENIED);
  if (::mkdir(r.host.c_str(), 0777) != 0) return Fail(ErrorFromErrno(errno));
  return true;
}

bool RemoveDirectory(WStringView path) {
  Guard g(FsLock());
  Resolved r;
  if (!Resolve(path, r, false)) return false;
  if (!r.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (r.mount->readOnly || HoldsMount(*r.table, r.parts)) return Fail(ERROR_ACCESS_DENIED);
  if (!S_ISDIR(r.st.st_mode)) return Fail(ERROR_PATH_NOT_FOUND);
  if (::rmdir(r.host.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  return true;
}

Handle FindFirstFile(WStringView pattern, FindData* data) {
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<FindData> entries;
  {
    Guard g(FsLock());
    Resolved r;
    if (!Resolve(pattern, r, true) || !ListFolder(r, entries)) return INVALID_HANDLE_VALUE;
  }
  SortEntries(entries);
  return RegisterFind(std::move(entries), false, data, ERROR_FILE_NOT_FOUND);
}

bool FindNextFile(Handle find, FindData* data) { return NextOf(find, data, false); }

bool FindClose(Handle find) {
  if (!LookupHandleAs<FindObject>(find)) return Fail(ERROR_INVALID_HANDLE);
  return CloseHandle(find);
}

Handle FindFirstFlashCard(FindData* data) {
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<FindData> cards;
  {
    Guard g(FsLock());
    std::shared_ptr<const MountTable> table = TableLocked(false);
    if (table) {
      for (const StorageCard& card : table->config.cards) {
        struct stat st {};
        bool present = ::stat(card.hostFolder.c_str(), &st) == 0;
        st.st_mode = S_IFDIR;  // a card whose folder is missing is still listed: its folders cannot be made
        cards.push_back(MakeFindData(card.name, st, card.readOnly));
        if (!present) cards.back().lastWriteTime = {};
      }
    }
  }
  return RegisterFind(std::move(cards), true, data, ERROR_NO_MORE_FILES);
}

bool FindNextFlashCard(Handle find, FindData* data) { return NextOf(find, data, true); }

}  // namespace plat
