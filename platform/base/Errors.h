// System result codes. The numbers are the ones the program tests for, so
// every module of the platform reports failures with exactly these values.
#pragma once

#include <cstdint>

#include "platform/base/Strings.h"

namespace plat {

enum : uint32_t {
  ERROR_SUCCESS = 0,
  ERROR_FILE_NOT_FOUND = 2,
  ERROR_PATH_NOT_FOUND = 3,
  ERROR_TOO_MANY_OPEN_FILES = 4,
  ERROR_ACCESS_DENIED = 5,
  ERROR_INVALID_HANDLE = 6,
  ERROR_NOT_ENOUGH_MEMORY = 8,
  ERROR_BAD_FORMAT = 11,
  ERROR_INVALID_DATA = 13,
  ERROR_NOT_SAME_DEVICE = 17,
  ERROR_SHARING_VIOLATION = 32,
  ERROR_HANDLE_EOF = 38,
  ERROR_FILE_EXISTS = 80,
  ERROR_INVALID_PARAMETER = 87,
  ERROR_DISK_FULL = 112,
  ERROR_INSUFFICIENT_BUFFER = 122,
  ERROR_DIR_NOT_EMPTY = 145,
  ERROR_ALREADY_EXISTS = 183,
  ERROR_FILENAME_EXCED_RANGE = 206,
  ERROR_MORE_DATA = 234,
  ERROR_NO_MORE_ITEMS = 259,
  ERROR_OPERATION_ABORTED = 995,
  ERROR_IO_PENDING = 997,
  ERROR_INVALID_WINDOW_HANDLE = 1400,
  ERROR_CLASS_ALREADY_EXISTS = 1410,
  ERROR_RESOURCE_TYPE_NOT_FOUND = 1813,
  ERROR_RESOURCE_NAME_NOT_FOUND = 1814,
  ERROR_NOT_ENOUGH_QUOTA = 1816,
  WSAEWOULDBLOCK = 10035,
  WSAENETUNREACH = 10051,
  WSAECONNRESET = 10054,
  WSAETIMEDOUT = 10060,
  WSAECONNREFUSED = 10061,
  WSAHOST_NOT_FOUND = 11001,
  ERROR_INTERNET_INVALID_URL = 12005,
  ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006,
};

using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

// The calling thread's last error, as each failing platform call leaves it.
uint32_t GetLastError();
void SetLastError(uint32_t code);

// Maps a host errno value to the nearest system result code; an errno with no
// nearer match reads as ERROR_ACCESS_DENIED, the device's generic refusal.
uint32_t ErrorFromErrno(int err);

// Readable text for a result code or HRESULT (stands in for the system's
// message table): a small table, else "Unknown error 0x%08X".
WString FormatSystemMessage(uint32_t code);

}  // namespace plat
