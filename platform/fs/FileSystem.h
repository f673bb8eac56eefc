// The device's file system: the program's backslash paths over a mount table
// of host folders, with the Windows file rules the program relies on (sharing
// violations, a move that never replaces, case-insensitive names, a fixed
// enumeration order).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/base/Strings.h"
#include "platform/kernel/Kernel.h"

namespace plat {

constexpr uint32_t GENERIC_READ = 0x80000000u;
constexpr uint32_t GENERIC_WRITE = 0x40000000u;
constexpr uint32_t FILE_SHARE_READ = 1;
constexpr uint32_t FILE_SHARE_WRITE = 2;
constexpr uint32_t CREATE_NEW = 1;
constexpr uint32_t CREATE_ALWAYS = 2;
constexpr uint32_t OPEN_EXISTING = 3;
constexpr uint32_t OPEN_ALWAYS = 4;
constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr uint32_t FILE_BEGIN = 0;
constexpr uint32_t FILE_CURRENT = 1;
constexpr uint32_t FILE_END = 2;
constexpr uint32_t INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr uint32_t INVALID_FILE_SIZE = 0xFFFFFFFFu;

// 100-ns intervals since 1601-01-01 UTC.
struct FileTime {
  uint32_t low = 0;
  uint32_t high = 0;
  uint64_t Value() const { return (uint64_t{high} << 32) | low; }
};

struct FindData {
  uint32_t attributes = 0;
  FileTime lastWriteTime;
  uint32_t sizeHigh = 0;
  uint32_t sizeLow = 0;
  WString name;
};

Handle CreateFile(WStringView path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                  uint32_t attributes = FILE_ATTRIBUTE_NORMAL);
bool ReadFile(Handle file, void* buffer, uint32_t count, uint32_t* done);
bool WriteFile(Handle file, const void* buffer, uint32_t count, uint32_t* done);
uint32_t SetFilePointer(Handle file, int32_t low, int32_t* high, uint32_t method);
uint32_t GetFileSize(Handle file, uint32_t* high);
bool DeleteFile(WStringView path);
bool MoveFile(WStringView from, WStringView to);
bool CreateDirectory(WStringView path);
bool RemoveDirectory(WStringView path);
Handle FindFirstFile(WStringView pattern, FindData* data);
bool FindNextFile(Handle find, FindData* data);
bool FindClose(Handle find);
// Stands in for opening a file for reading only to see whether it can be.
bool CanOpenForRead(WStringView path);

// Storage cards, in mount order; there may be none.
Handle FindFirstFlashCard(FindData* data);
bool FindNextFlashCard(Handle find, FindData* data);

// The running program's virtual path, "\Program Files\Quorel\Quorel.exe".
WString GetModuleFileName();

// The host path a virtual path maps to (for the launcher and for tests).
std::optional<std::filesystem::path> HostPath(WStringView virtualPath);

// The mount table. The device root holds registry/, fs/, cards/ and run/.
struct StorageCard {
  WString name;                    // e.g. u"Storage Card"
  std::filesystem::path hostFolder;
  bool readOnly = false;
};
struct FileSystemConfig {
  std::filesystem::path deviceRoot;     // <root>/fs is mounted at "\"
  std::filesystem::path programFolder;  // mounted read-only at "\Program Files\Quorel"
  std::vector<StorageCard> cards;
};
// Replaces the mount table (start-up and tests). Open files keep working.
void ConfigureFileSystem(const FileSystemConfig& config);
const FileSystemConfig& CurrentFileSystemConfig();

}  // namespace plat
