// Internals shared by the file-system sources; not for other modules.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fs/FileSystem.h"

namespace plat::fs_detail {

namespace stdfs = std::filesystem;

struct Mount {
  std::vector<WString> prefix;  // virtual components; empty for the root
  stdfs::path host;
  bool readOnly = false;
};

struct MountTable {
  FileSystemConfig config;
  bool isDefault = false;  // nobody configured one
  bool prepared = false;   // its folders have been made (under the lock)
  // Root first, then the cards in order, then the program. A longer prefix
  // wins; on equal prefixes the earlier mount does.
  std::vector<Mount> mounts;
  std::vector<WString> programParts;
};

// One lock covers the mount table, the open-file table and every operation
// that looks a name up and then changes the folder, so that check and change
// are one step for every thread of the process. Kernel calls are never made
// while it is held (a file's destructor takes it).
std::mutex& FsLock();
using Guard = std::lock_guard<std::mutex>;

// The current table; installs the default one on first use. `prepare`
// makes the folders it needs on disk first (only file operations ask for
// that, so reading the configuration touches nothing). Lock held.
std::shared_ptr<const MountTable> TableLocked(bool prepare);

// Where a virtual path lands.
struct Resolved {
  std::shared_ptr<const MountTable> table;
  const Mount* mount = nullptr;
  std::vector<WString> parts;  // the normalised components (a pattern's folder only)
  WString pattern;             // the last component of a pattern
  stdfs::path folder;          // host folder holding the leaf (the folder itself for a pattern)
  stdfs::path host;            // host path of the leaf (names in their stored case)
  bool isMountRoot = false;
  bool exists = false;
  struct stat st {};
};

// Splits, checks and resolves `path`. A pattern resolves its folder (which
// must exist) and keeps the last component unresolved. Sets the last error
// and returns false on failure. Lock held.
bool Resolve(WStringView path, Resolved& out, bool pattern);

// True when `parts` names a mount point or a folder that holds one.
bool HoldsMount(const MountTable& table, const std::vector<WString>& parts);

// Names the device cannot hold (reserved characters, lone surrogates, "..").
bool IsValidName(WStringView name, bool allowWildcards);
// A host entry name as device text; false when it cannot round-trip or is
// not a valid device name (such entries are invisible).
bool DecodeHostName(std::string_view host, WString& out);

FileTime ToFileTime(const struct timespec& t);

// The open-file table: who holds which file, with what access and sharing.
struct OpenRecord {
  dev_t dev;
  ino_t ino;
  uint32_t access;
  uint32_t share;
  stdfs::path host;  // where it was opened; open files and their folders cannot move
};
using OpenList = std::list<OpenRecord>;
OpenList& OpenFilesLocked();
bool IsOpenLocked(dev_t dev, ino_t ino);
// True when an open file lies under the host folder `dir`.
bool AnyOpenUnderLocked(const stdfs::path& dir);

// Tests force the link-based fall-back of the no-replace rename.
void ForceRenameFallbackForTest(bool force);

}  // namespace plat::fs_detail
