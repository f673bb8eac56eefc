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

// The end of an enumeration (the other result codes are in Errors.h).
constexpr uint32_t ERROR_NO_MORE_FILES = 18;

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

// Paths are the device's: components separated by '\' (a '/' counts as one
// too), always absolute; a path without a leading '\' is taken from the root,
// as the device has no current directory. Names are matched without regard to
// case and created in the case given. A path is untrusted input: ".."
// components give ERROR_PATH_NOT_FOUND, characters a name cannot hold give
// ERROR_INVALID_PARAMETER, and nothing resolves outside its mount (links
// planted in a host folder are not followed: ERROR_ACCESS_DENIED).
//
// CREATE_ALWAYS and OPEN_ALWAYS leave ERROR_ALREADY_EXISTS when the file was
// there, ERROR_SUCCESS otherwise. An open whose access or sharing clashes
// with a handle already open on the file fails with ERROR_SHARING_VIOLATION
// before anything is truncated. Creation attributes are not stored.
Handle CreateFile(WStringView path, uint32_t access, uint32_t shareMode, uint32_t disposition,
                  uint32_t attributes = FILE_ATTRIBUTE_NORMAL);
// Reads, writes and seeks on one handle are atomic with respect to each
// other, so two threads may share a handle. Reading at or past the end
// succeeds with 0 bytes. Success leaves the last error alone.
bool ReadFile(Handle file, void* buffer, uint32_t count, uint32_t* done);
bool WriteFile(Handle file, const void* buffer, uint32_t count, uint32_t* done);
// Without `high` the new position must fit in 32 bits; with it, `high` holds
// the high half of the distance in and of the position out. A position below
// zero or beyond 32 bits without `high` fails with ERROR_INVALID_PARAMETER and
// leaves the position unchanged. Success sets ERROR_SUCCESS, so a position
// whose low half is 0xFFFFFFFF can be told from a failure.
uint32_t SetFilePointer(Handle file, int32_t low, int32_t* high, uint32_t method);
// Success sets ERROR_SUCCESS (callers check the last error after a size).
uint32_t GetFileSize(Handle file, uint32_t* high);
// Fails with ERROR_SHARING_VIOLATION while the file is open.
bool DeleteFile(WStringView path);
// Never replaces: ERROR_ALREADY_EXISTS when the target exists (a change of
// case only is allowed); ERROR_SHARING_VIOLATION while the file, or any file
// under the folder being moved, is open. On failure nothing has moved.
bool MoveFile(WStringView from, WStringView to);
// ERROR_ALREADY_EXISTS when the name exists (in any case).
bool CreateDirectory(WStringView path);
bool RemoveDirectory(WStringView path);
// The pattern's last component may hold '*' and '?' ("*.*" matches every
// name); case is ignored. Entries come sorted by name without regard to case,
// without "." and ".."; the folder is read once, at FindFirstFile. No match
// gives ERROR_FILE_NOT_FOUND, a missing folder ERROR_PATH_NOT_FOUND, the end
// of the list ERROR_NO_MORE_FILES.
Handle FindFirstFile(WStringView pattern, FindData* data);
bool FindNextFile(Handle find, FindData* data);
bool FindClose(Handle find);
// Stands in for opening a file for reading only to see whether it can be.
bool CanOpenForRead(WStringView path);

// Storage cards, in mount order; there may be none.
Handle FindFirstFlashCard(FindData* data);
bool FindNextFlashCard(Handle find, FindData* data);

// The running program's virtual path: its mount + "\Quorel.exe", normally
// "\Program Files\Quorel\Quorel.exe".
WString GetModuleFileName();

// The host path a virtual path maps to (for the launcher and for tests).
std::optional<std::filesystem::path> HostPath(WStringView virtualPath);

// The mount table. The device root holds registry/, fs/, cards/ and run/.
struct StorageCard {
  WString name;                    // one path component, e.g. u"Storage Card"
  std::filesystem::path hostFolder;
  bool readOnly = false;
};
struct FileSystemConfig {
  std::filesystem::path deviceRoot;     // <root>/fs is mounted at "\"
  std::filesystem::path programFolder;  // mounted read-only at `programMount`; empty: not mounted
  // Where the program lives on the device. It may lie on a card
  // ("\Storage Card\Quorel"); naming a card's root puts the program in that
  // card's folder (the card's mount serves it).
  WString programMount = u"\\Program Files\\Quorel";
  std::vector<StorageCard> cards;       // in enumeration order
};
// Replaces the mount table (start-up and tests). Open files keep working.
// The first file operation on a table creates <root>/fs and, inside it, the
// folders the mount points sit in. Fails with ERROR_INVALID_PARAMETER (and changes nothing) for an empty
// device root, a card name that is not one valid component, two cards of
// the same name, or an invalid program mount.
bool ConfigureFileSystem(const FileSystemConfig& config);
FileSystemConfig CurrentFileSystemConfig();

// $QUOREL_DEVICE_ROOT, else $XDG_DATA_HOME/quorel-device, else
// ~/.local/share/quorel-device.
std::filesystem::path DefaultDeviceRoot();
// The host folder of the running executable.
std::filesystem::path ExecutableFolder();
// The table used when nobody configured one: the default device root, the
// executable's folder and one card, "Storage Card" at <root>/cards/Storage Card
// (created by the first file operation).
FileSystemConfig DefaultFileSystemConfig();

}  // namespace plat
