// The mount table and the walk from a device path to a host path.
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/base/Errors.h"
#include "platform/fs/FsInternal.h"

namespace plat {
namespace fs_detail {
namespace {

constexpr char16_t kProgramFile[] = u"Quorel.exe";

struct State {
  std::mutex lock;
  std::shared_ptr<MountTable> table;
  OpenList open;
};

// Never destroyed: handles in the kernel's table may outlive static destruction.
State& TheState() {
  static State* state = new State;
  return *state;
}

bool IsSeparator(WChar c) { return c == u'\\' || c == u'/'; }

// Splits a device path into checked components. "." is dropped; empty
// components (doubled or trailing separators) collapse.
bool SplitPath(WStringView path, bool pattern, std::vector<WString>& parts) {
  parts.clear();
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (pattern && IsSeparator(path.back())) {
    SetLastError(ERROR_FILE_NOT_FOUND);  // a pattern must name something in its folder
    return false;
  }
  std::vector<WStringView> raw;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      if (i > start) raw.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  for (size_t i = 0; i < raw.size(); ++i) {
    WStringView c = raw[i];
    if (c == u".") continue;
    if (c.find_first_not_of(u'.') == WStringView::npos) {
      SetLastError(ERROR_PATH_NOT_FOUND);  // "..": nothing may climb out of its mount
      return false;
    }
    if (!IsValidName(c, pattern && i + 1 == raw.size())) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    parts.emplace_back(c);
  }
  return true;
}

bool PrefixMatches(const std::vector<WString>& prefix, const std::vector<WString>& parts) {
  if (prefix.size() > parts.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (!EqualsNoCase(prefix[i], parts[i])) return false;
  return true;
}

// Finds `name` in the host folder `dir`: the exact spelling first, else the
// first case-insensitive match in byte order (a host folder may hold names
// that differ only in case; the choice must not depend on readdir's order).
int FindChild(const stdfs::path& dir, const WString& name, std::string& found, struct stat& st) {
  std::string exact = ToUtf8(name);
  if (::lstat((dir / exact).c_str(), &st) == 0) {
    found = std::move(exact);
    return 0;
  }
  if (errno != ENOENT) return errno;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return errno;
  bool any = false;
  std::string best;
  while (dirent* e = ::readdir(d)) {
    std::string_view n = e->d_name;
    WString w;
    if (n == "." || n == ".." || !DecodeHostName(n, w) || !EqualsNoCase(w, name)) continue;
    if (!any || n < best) best = n;
    any = true;
  }
  ::closedir(d);
  if (!any) return ENOENT;
  if (::lstat((dir / best).c_str(), &st) != 0) return errno;
  found = std::move(best);
  return 0;
}

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

// Absolute, without "." or a trailing separator, so that host paths built
// from it compare component by component.
bool NormalHost(stdfs::path& p) {
  std::error_code ec;
  p = stdfs::absolute(p, ec).lexically_normal();
  if (ec) return false;
  if (!p.has_filename() && p != p.root_path()) p = p.parent_path();
  return true;
}

std::shared_ptr<MountTable> BuildTable(const FileSystemConfig& config) {
  if (config.deviceRoot.empty()) return nullptr;
  auto t = std::make_shared<MountTable>();
  t->config = config;
  if (!NormalHost(t->config.deviceRoot)) return nullptr;
  t->mounts.push_back({{}, t->config.deviceRoot / "fs", false});
  for (StorageCard& card : t->config.cards) {
    std::vector<WString> parts;
    if (!SplitPath(card.name, false, parts) || parts.size() != 1) return nullptr;
    for (size_t i = 1; i < t->mounts.size(); ++i)
      if (PrefixMatches(t->mounts[i].prefix, parts)) return nullptr;
    card.name = parts[0];
    if (card.hostFolder.empty() || !NormalHost(card.hostFolder)) return nullptr;
    t->mounts.push_back({parts, card.hostFolder, card.readOnly});
  }
  if (!SplitPath(t->config.programMount, false, t->programParts)) return nullptr;
  if (!t->config.programFolder.empty()) {
    if (!NormalHost(t->config.programFolder)) return nullptr;
    t->mounts.push_back({t->programParts, t->config.programFolder, true});
  }
  return t;
}

// Mount points are folders of the file system they sit in, as on any
// device; creating them in the root's host folder keeps listings of "\" and
// of "\Program Files" truthful. Mount points inside other mounts are left
// alone: those host folders are not ours to write.
void CreateMountPoints(const MountTable& t) {
  std::error_code ec;
  stdfs::create_directories(t.mounts[0].host, ec);
  for (size_t i = 1; i < t.mounts.size(); ++i) {
    const Mount& m = t.mounts[i];
    bool nested = false;
    for (size_t j = 1; j < t.mounts.size(); ++j)
      if (j != i && t.mounts[j].prefix.size() < m.prefix.size() && PrefixMatches(t.mounts[j].prefix, m.prefix))
        nested = true;
    if (nested) continue;
    stdfs::path cur = t.mounts[0].host;
    for (const WString& part : m.prefix) {
      std::string found;
      struct stat st;
      if (FindChild(cur, part, found, st) == 0) {
        if (!S_ISDIR(st.st_mode)) break;
        cur /= found;
      } else {
        cur /= ToUtf8(part);
        if (::mkdir(cur.c_str(), 0777) != 0) break;
      }
    }
  }
}


}  // namespace

std::mutex& FsLock() { return TheState().lock; }

std::shared_ptr<const MountTable> TableLocked(bool prepare) {
  State& s = TheState();
  if (!s.table) {
    s.table = BuildTable(DefaultFileSystemConfig());
    if (!s.table) return nullptr;  // not even the default could be built
    s.table->isDefault = true;
  }
  if (prepare && !s.table->prepared) {
    s.table->prepared = true;
    std::error_code ec;
    if (s.table->isDefault)
      for (const StorageCard& card : s.table->config.cards) stdfs::create_directories(card.hostFolder, ec);
    CreateMountPoints(*s.table);
  }
  return s.table;
}

bool IsValidName(WStringView name, bool allowWildcards) {
  if (name.empty() || name.find_first_not_of(u'.') == WStringView::npos) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    WChar c = name[i];
    if (c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || IsSeparator(c)) return false;
    if ((c == u'*' || c == u'?') && !allowWildcards) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

bool DecodeHostName(std::string_view host, WString& out) {
  out = FromUtf8(host);
  return ToUtf8(out) == host && IsValidName(out, false);
}

FileTime ToFileTime(const struct timespec& t) {
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  int64_t seconds = static_cast<int64_t>(t.tv_sec) + kSecondsFrom1601To1970;
  if (seconds < 0) return {};
  uint64_t v = static_cast<uint64_t>(seconds) * 10000000u + static_cast<uint64_t>(t.tv_nsec) / 100u;
  return {static_cast<uint32_t>(v), static_cast<uint32_t>(v >> 32)};
}

bool HoldsMount(const MountTable& table, const std::vector<WString>& parts) {
  for (size_t i = 1; i < table.mounts.size(); ++i)
    if (PrefixMatches(parts, table.mounts[i].prefix)) return true;
  return false;
}

bool Resolve(WStringView path, Resolved& r, bool pattern) {
  if (!SplitPath(path, pattern, r.parts)) return false;
  if (pattern) {
    if (r.parts.empty()) return Fail(ERROR_FILE_NOT_FOUND);
    r.pattern = std::move(r.parts.back());
    r.parts.pop_back();
  }
  r.table = TableLocked(true);
  if (!r.table) return Fail(ERROR_PATH_NOT_FOUND);
  for (const Mount& m : r.table->mounts)
    if (PrefixMatches(m.prefix, r.parts) && (!r.mount || m.prefix.size() > r.mount->prefix.size())) r.mount = &m;

  // A mount whose host folder is missing is a volume that is not there.
  struct stat st;
  if (::stat(r.mount->host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Fail(ERROR_PATH_NOT_FOUND);
  stdfs::path cur = r.mount->host;
  size_t first = r.mount->prefix.size();
  size_t folders = pattern ? r.parts.size() : r.parts.size() - (r.parts.size() > first ? 1 : 0);
  if (!pattern && r.parts.size() == first) {
    r.isMountRoot = true;
    r.exists = true;
    r.st = st;
    r.folder = r.host = cur;
    return true;
  }
  for (size_t i = first; i < folders; ++i) {
    std::string found;
    int err = FindChild(cur, r.parts[i], found, st);
    if (err == ENOENT || err == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
    if (err) return Fail(ErrorFromErrno(err));
    if (S_ISLNK(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    if (!S_ISDIR(st.st_mode)) return Fail(ERROR_PATH_NOT_FOUND);
    cur /= found;
  }
  r.folder = cur;
  if (pattern) {
    r.host = cur;
    return true;
  }
  std::string found;
  int err = FindChild(cur, r.parts.back(), found, r.st);
  if (err == ENOENT) {
    r.host = cur / ToUtf8(r.parts.back());  // created in the case given
    return true;
  }
  if (err) return Fail(ErrorFromErrno(err));
  // Only files and folders are the device's; links could lead out of the mount.
  if (!S_ISREG(r.st.st_mode) && !S_ISDIR(r.st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  r.host = cur / found;
  r.exists = true;
  return true;
}

OpenList& OpenFilesLocked() { return TheState().open; }

bool IsOpenLocked(dev_t dev, ino_t ino) {
  for (const OpenRecord& o : TheState().open)
    if (o.dev == dev && o.ino == ino) return true;
  return false;
}

bool AnyOpenUnderLocked(const stdfs::path& dir) {
  for (const OpenRecord& o : TheState().open) {
    auto [d, h] = std::mismatch(dir.begin(), dir.end(), o.host.begin(), o.host.end());
    if (d == dir.end()) return true;
  }
  return false;
}

}  // namespace fs_detail

using namespace fs_detail;

bool ConfigureFileSystem(const FileSystemConfig& config) {
  std::shared_ptr<MountTable> table = BuildTable(config);
  if (!table) return Fail(ERROR_INVALID_PARAMETER);
  Guard g(FsLock());
  TheState().table = std::move(table);
  return true;
}

FileSystemConfig CurrentFileSystemConfig() {
  Guard g(FsLock());
  std::shared_ptr<const MountTable> table = TableLocked(false);
  return table ? table->config : FileSystemConfig{};
}

stdfs::path DefaultDeviceRoot() {
  const char* root = std::getenv("QUOREL_DEVICE_ROOT");
  if (root && *root) return root;
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data == '/') return stdfs::path(data) / "quorel-device";
  const char* home = std::getenv("HOME");
  stdfs::path base;
  if (home && *home) {
    base = home;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
    base = pw->pw_dir;
  } else {
    base = stdfs::temp_directory_path();
  }
  return base / ".local" / "share" / "quorel-device";
}

stdfs::path ExecutableFolder() {
  std::error_code ec;
  stdfs::path exe = stdfs::read_symlink("/proc/self/exe", ec);
  if (ec) return stdfs::current_path(ec);
  return exe.parent_path();
}

FileSystemConfig DefaultFileSystemConfig() {
  FileSystemConfig config;
  config.deviceRoot = DefaultDeviceRoot();
  config.programFolder = ExecutableFolder();
  config.cards.push_back({u"Storage Card", config.deviceRoot / "cards" / "Storage Card", false});
  return config;
}

WString GetModuleFileName() {
  std::vector<WString> parts;
  {
    Guard g(FsLock());
    if (std::shared_ptr<const MountTable> table = TableLocked(false)) parts = table->programParts;
  }
  WString out;
  for (const WString& p : parts) out = JoinPath(out, p);
  return JoinPath(out, fs_detail::kProgramFile);
}

std::optional<stdfs::path> HostPath(WStringView virtualPath) {
  Guard g(FsLock());
  Resolved r;
  if (!Resolve(virtualPath, r, false)) return std::nullopt;
  return r.host;
}

}  // namespace plat
