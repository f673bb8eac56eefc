#include "platform/base/Errors.h"

#include <cerrno>

#include "platform/base/Format.h"

namespace plat {
namespace {
thread_local uint32_t t_lastError = ERROR_SUCCESS;
}

uint32_t GetLastError() { return t_lastError; }
void SetLastError(uint32_t code) { t_lastError = code; }

uint32_t ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ENETUNREACH:
    case EHOSTUNREACH: return WSAENETUNREACH;
    case EAGAIN:
    case EINPROGRESS: return WSAEWOULDBLOCK;
    default: return ERROR_ACCESS_DENIED;
  }
}

WString FormatSystemMessage(uint32_t code) {
  struct Entry { uint32_t code; const char* text; };
  static constexpr Entry kTable[] = {
      {ERROR_SUCCESS, "The operation completed successfully."},
      {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
      {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
      {ERROR_ACCESS_DENIED, "Access is denied."},
      {ERROR_INVALID_HANDLE, "The handle is invalid."},
      {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory is available."},
      {ERROR_SHARING_VIOLATION, "The file is being used by another process."},
      {ERROR_FILE_EXISTS, "The file exists."},
      {ERROR_DISK_FULL, "There is not enough space on the disk."},
      {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
      {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
      {ERROR_MORE_DATA, "More data is available."},
      {ERROR_OPERATION_ABORTED, "The I/O operation has been aborted."},
      {static_cast<uint32_t>(E_FAIL), "Unspecified error."},
      {static_cast<uint32_t>(E_OUTOFMEMORY), "Not enough memory is available."},
      {static_cast<uint32_t>(E_INVALIDARG), "The parameter is incorrect."},
      {static_cast<uint32_t>(E_POINTER), "Invalid pointer."},
  };
  for (const Entry& e : kTable)
    if (e.code == code) return Widen(e.text);
  return FormatW(u"Unknown error 0x%08X", code);
}

}  // namespace plat
