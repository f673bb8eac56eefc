// Files: open with sharing rules, read, write, position and size.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/base/Errors.h"
#include "platform/fs/FsInternal.h"

namespace plat {

using namespace fs_detail;

namespace {

class File final : public KernelObject {
 public:
  File(int fd, uint32_t access, OpenList::iterator record) : m_fd(fd), m_access(access), m_record(record) {}
  ~File() override {
    {
      Guard g(FsLock());
      OpenFilesLocked().erase(m_record);
    }
    ::close(m_fd);
  }

  const int m_fd;
  const uint32_t m_access;
  // Each read, write and seek runs whole under this lock: the position is
  // shared by every thread that uses the handle.
  std::mutex m_lock;
  int64_t m_position = 0;

 private:
  OpenList::iterator m_record;
};

std::shared_ptr<File> FileFrom(Handle h) {
  std::shared_ptr<File> f = LookupHandleAs<File>(h);
  if (!f) SetLastError(ERROR_INVALID_HANDLE);
  return f;
}

// The sharing rule: each side's access must be allowed by the other's share
// mode. An open without read or write access (attributes only) neither
// restricts nor is restricted.
bool Compatible(const OpenRecord& held, uint32_t access, uint32_t share) {
  if (held.access == 0 || access == 0) return true;
  auto allows = [](uint32_t acc, uint32_t shr) {
    return (!(acc & GENERIC_READ) || (shr & FILE_SHARE_READ)) && (!(acc & GENERIC_WRITE) || (shr & FILE_SHARE_WRITE));
  };
  return allows(access, held.share) && allows(held.access, share);
}

Handle FailHandle(uint32_t code) {
  SetLastError(code);
  return INVALID_HANDLE_VALUE;
}

}  // namespace

Handle CreateFile(WStringView path, uint32_t access, uint32_t shareMode, uint32_t disposition, uint32_t) {
  if (disposition < CREATE_NEW || disposition > OPEN_ALWAYS) return FailHandle(ERROR_INVALID_PARAMETER);
  access &= GENERIC_READ | GENERIC_WRITE;
  shareMode &= FILE_SHARE_READ | FILE_SHARE_WRITE;
  std::shared_ptr<File> file;
  uint32_t code = ERROR_SUCCESS;
  {
    Guard g(FsLock());
    Resolved r;
    if (!Resolve(path, r, false)) return INVALID_HANDLE_VALUE;
    if (r.exists && S_ISDIR(r.st.st_mode)) return FailHandle(ERROR_ACCESS_DENIED);
    if (!r.exists && disposition == OPEN_EXISTING) return FailHandle(ERROR_FILE_NOT_FOUND);
    if (r.exists && disposition == CREATE_NEW) return FailHandle(ERROR_FILE_EXISTS);
    bool creating = !r.exists;
    bool truncating = r.exists && disposition == CREATE_ALWAYS;
    if (r.mount->readOnly && ((access & GENERIC_WRITE) || creating || truncating))
      return FailHandle(ERROR_ACCESS_DENIED);

    int flags = O_CLOEXEC | O_NOFOLLOW | ((access & GENERIC_WRITE) || truncating ? O_RDWR : O_RDONLY);
    if (creating) flags |= O_CREAT | O_EXCL;
    int fd = ::open(r.host.c_str(), flags, 0666);
    if (fd < 0) return FailHandle(errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno));
    // Anything that fails from here on must leave the folder as it was.
    auto undo = [&](uint32_t err) {
      ::close(fd);
      if (creating) ::unlink(r.host.c_str());
      return FailHandle(err);
    };
    struct stat st;
    if (::fstat(fd, &st) != 0) return undo(ErrorFromErrno(errno));
    OpenList& open = OpenFilesLocked();
    for (const OpenRecord& held : open)
      if (held.dev == st.st_dev && held.ino == st.st_ino && !Compatible(held, access, shareMode))
        return undo(ERROR_SHARING_VIOLATION);
    // Truncated only once the sharing check has passed: a refused open must
    // not destroy the data of the handle that holds the file.
    if (truncating && ::ftruncate(fd, 0) != 0) return undo(ErrorFromErrno(errno));
    open.push_back({st.st_dev, st.st_ino, access, shareMode, r.host});
    file = std::make_shared<File>(fd, access, std::prev(open.end()));
    if (r.exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)) code = ERROR_ALREADY_EXISTS;
  }
  Handle h = RegisterHandle(file);
  if (!h || h == INVALID_HANDLE_VALUE) {
    uint32_t err = GetLastError();
    file.reset();  // closes and forgets the file, outside the lock
    return FailHandle(err ? err : ERROR_NOT_ENOUGH_MEMORY);
  }
  SetLastError(code);
  return h;
}

bool ReadFile(Handle h, void* buffer, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  std::shared_ptr<File> f = FileFrom(h);
  if (!f) return false;
  if (!(f->m_access & GENERIC_READ)) return (SetLastError(ERROR_ACCESS_DENIED), false);
  if (count && !buffer) return (SetLastError(ERROR_INVALID_PARAMETER), false);
  std::lock_guard<std::mutex> g(f->m_lock);
  auto* out = static_cast<char*>(buffer);
  uint32_t total = 0;
  bool ok = true;
  while (total < count) {
    ssize_t n = ::pread(f->m_fd, out + total, count - total, f->m_position + total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetLastError(ErrorFromErrno(errno));
      ok = false;
      break;
    }
    if (n == 0) break;  // end of file: a short read, not a failure
    total += static_cast<uint32_t>(n);
  }
  f->m_position += total;
  if (done) *done = total;
  return ok;
}

bool WriteFile(Handle h, const void* buffer, uint32_t count, uint32_t* done) {
  if (done) *done = 0;
  std::shared_ptr<File> f = FileFrom(h);
  if (!f) return false;
  if (!(f->m_access & GENERIC_WRITE)) return (SetLastError(ERROR_ACCESS_DENIED), false);
  if (count && !buffer) return (SetLastError(ERROR_INVALID_PARAMETER), false);
  std::lock_guard<std::mutex> g(f->m_lock);
  const auto* in = static_cast<const char*>(buffer);
  uint32_t total = 0;
  bool ok = true;
  while (total < count) {
    ssize_t n = ::pwrite(f->m_fd, in + total, count - total, f->m_position + total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      SetLastError(n < 0 ? ErrorFromErrno(errno) : ERROR_DISK_FULL);
      ok = false;
      break;
    }
    total += static_cast<uint32_t>(n);
  }
  f->m_position += total;
  if (done) *done = total;
  return ok;
}

uint32_t SetFilePointer(Handle h, int32_t low, int32_t* high, uint32_t method) {
  std::shared_ptr<File> f = FileFrom(h);
  if (!f) return INVALID_SET_FILE_POINTER;
  int64_t distance = int64_t{low};
  if (high) distance = static_cast<int64_t>((uint64_t{static_cast<uint32_t>(*high)} << 32) | static_cast<uint32_t>(low));
  std::lock_guard<std::mutex> g(f->m_lock);
  int64_t base;
  switch (method) {
    case FILE_BEGIN: base = 0; break;
    case FILE_CURRENT: base = f->m_position; break;
    case FILE_END: {
      struct stat st;
      if (::fstat(f->m_fd, &st) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
      }
      base = st.st_size;
      break;
    }
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_SET_FILE_POINTER;
  }
  int64_t position;
  if (__builtin_add_overflow(base, distance, &position) || position < 0 || (!high && position > 0xFFFFFFFFll)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  f->m_position = position;
  if (high) *high = static_cast<int32_t>(static_cast<uint64_t>(position) >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<uint32_t>(position);
}

uint32_t GetFileSize(Handle h, uint32_t* high) {
  std::shared_ptr<File> f = FileFrom(h);
  if (!f) return INVALID_FILE_SIZE;
  struct stat st;
  if (::fstat(f->m_fd, &st) != 0) {
    SetLastError(ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  auto size = static_cast<uint64_t>(st.st_size);
  if (high) *high = static_cast<uint32_t>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<uint32_t>(size);
}

bool CanOpenForRead(WStringView path) {
  Handle h = CreateFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

}  // namespace plat
