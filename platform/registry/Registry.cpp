#include "platform/registry/Registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <mutex>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "platform/base/Debug.h"
#include "platform/base/Errors.h"
#include "platform/registry/RegText.h"

namespace plat {
namespace {

using regtext::kHiveCount;

// A hand-edited hive is a settings file, not a database; anything larger is
// not ours and is refused rather than read into memory.
constexpr size_t kMaxFileSize = 16u << 20;

struct Value {
  WString name;
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;
  bool fromDefaults = false;  // seeded, not saved unless the program sets it
};

struct Key {
  WString name;
  Key* parent = nullptr;
  std::vector<std::unique_ptr<Key>> children;
  std::vector<Value> values;
  // Named by a hive file or created by the program: saved even when empty.
  // Keys that exist only because the defaults name them are not.
  bool explicitKey = false;

  Key* Child(WStringView n) const {
    for (const auto& c : children)
      if (EqualsNoCase(c->name, n)) return c.get();
    return nullptr;
  }
  Key* AddChild(WStringView n, bool isExplicit) {
    auto k = std::make_unique<Key>();
    k->name = WString(n);
    k->parent = this;
    k->explicitKey = isExplicit;
    children.push_back(std::move(k));
    return children.back().get();
  }
  size_t FindValue(WStringView n) const {
    for (size_t i = 0; i < values.size(); ++i)
      if (EqualsNoCase(values[i].name, n)) return i;
    return values.size();
  }
};

struct Hive {
  Key root;
  // Set when the hive file exists but could not be read: saving would replace
  // the person's file with what little we have, so changes fail instead.
  uint32_t blocked = 0;
  // Why the file as read is not what the first rewrite would write (lines we
  // could not take, or comments, layout and repeated values we do not keep);
  // empty when it is. What would vanish with that rewrite is kept by copying
  // the original aside before it.
  std::string keepOriginal;
};

struct Watch {
  Handle event;
  int hive;
  const Key* key;
  bool subtree;
  uint32_t filter;
};

struct Observer {
  RegObserverId id = 0;
  int hive = 0;
  WString path;  // folded
  WString name;  // folded
  std::function<void()> callback;
  // Held while the callback runs; unregistering takes it too, so a callback
  // never starts or runs on in another thread after its unregistration.
  std::recursive_mutex gate;
  bool active = true;
};

struct OpenKey {
  int hive;
  Key* key;
};

struct State {
  std::mutex lock;
  RegistryConfig config;
  bool loaded = false;
  Hive hives[kHiveCount];
  std::unordered_map<uintptr_t, OpenKey> open;
  uintptr_t nextKey = 0x1000;
  std::vector<Watch> watches;
  std::vector<std::shared_ptr<Observer>> observers;
  RegObserverId nextObserver = 1;
  std::function<uint32_t(RegistrySaveStep)> saveHook;
};

State& TheState() {
  // Never destroyed: threads may still touch the registry during exit.
  static State* state = new State;
  return *state;
}

// Work that must not run under the registry lock: debug output (a sink may
// call back into anything) and observers.
struct Outbox {
  std::vector<WString> lines;
  std::vector<std::shared_ptr<Observer>> observers;

  void Say(const std::string& utf8) { lines.push_back(FromUtf8("registry: " + utf8 + "\n")); }

  void Flush() {
    for (const WString& line : lines) DebugWrite(line);
    for (const auto& o : observers) {
      std::lock_guard<std::recursive_mutex> gate(o->gate);
      if (!o->active) continue;
      try {
        o->callback();
      } catch (...) {
        DebugWrite(u"registry: a value observer threw; ignored\n");
      }
    }
  }
};

std::string Utf8Message(uint32_t code) { return ToUtf8(FormatSystemMessage(code)); }

WString Fold(WStringView s) {
  WString out(s);
  for (WChar& c : out) c = FoldCase(c);
  return out;
}

WString FoldedPath(const Key* key) {
  WString path;
  for (; key && key->parent; key = key->parent) path = Fold(key->name) + (path.empty() ? u"" : u"\\") + path;
  return path;
}

bool IsAtOrBelow(const Key* key, const Key* ancestor) {
  for (; key; key = key->parent)
    if (key == ancestor) return true;
  return false;
}

const char* HiveFileName(int hive) { return hive == regtext::kLocalMachine ? "HKLM.reg" : "HKCU.reg"; }

// Leading backslashes and one trailing backslash are tolerated; everything
// else must be a storable name.
bool SplitPath(WStringView sub, std::vector<WString>& parts) {
  while (!sub.empty() && sub.front() == u'\\') sub.remove_prefix(1);
  if (!sub.empty() && sub.back() == u'\\') sub.remove_suffix(1);
  if (sub.empty()) return true;
  size_t pos = 0;
  while (true) {
    size_t next = sub.find(u'\\', pos);
    WStringView part = sub.substr(pos, next == WStringView::npos ? WStringView::npos : next - pos);
    if (!regtext::CheckKeyName(part).empty()) return false;
    parts.emplace_back(part);
    if (next == WStringView::npos) return true;
    pos = next + 1;
  }
}

bool Resolve(State& s, HKEY key, OpenKey& out) {
  if (key == HKEY_CURRENT_USER) {
    out = {regtext::kCurrentUser, &s.hives[regtext::kCurrentUser].root};
    return true;
  }
  if (key == HKEY_LOCAL_MACHINE) {
    out = {regtext::kLocalMachine, &s.hives[regtext::kLocalMachine].root};
    return true;
  }
  auto it = s.open.find(reinterpret_cast<uintptr_t>(key));
  if (it == s.open.end()) return false;
  out = it->second;
  return true;
}

void Notify(State& s, int hive, const Key* changed, uint32_t what) {
  for (size_t i = 0; i < s.watches.size();) {
    const Watch& w = s.watches[i];
    bool hit = w.hive == hive && (w.filter & what) &&
               (w.key == changed || (w.subtree && IsAtOrBelow(changed, w.key)));
    // A notification closed with CloseHandle instead of CeFindCloseRegChange
    // is dropped here.
    if (hit && !SetEvent(w.event)) {
      s.watches.erase(s.watches.begin() + static_cast<ptrdiff_t>(i));
      continue;
    }
    ++i;
  }
}

void CollectObservers(State& s, int hive, const Key* key, WStringView name, Outbox& out) {
  WString path = FoldedPath(key);
  WString folded = Fold(name);
  for (const auto& o : s.observers)
    if (o->hive == hive && o->path == path && o->name == folded) out.observers.push_back(o);
}

// ---------------------------------------------------------------------------
// Text form of a whole hive.

bool RenderKey(const Key& key, int hive, std::vector<WString>& path, bool includeDefaults,
               std::string& out) {
  std::string below;
  bool anyBelow = false;
  for (const auto& child : key.children) {
    path.push_back(child->name);
    anyBelow |= RenderKey(*child, hive, path, includeDefaults, below);
    path.pop_back();
  }
  bool anyValue = false;
  for (const Value& v : key.values) anyValue |= includeDefaults || !v.fromDefaults;
  // A key line implies every key above it, so only the lowest ones need one.
  bool isExplicit = key.parent && (includeDefaults || key.explicitKey);
  bool own = anyValue || (isExplicit && !anyBelow);
  if (own) {
    regtext::AppendKeyLine(out, hive, path);
    for (const Value& v : key.values)
      if (includeDefaults || !v.fromDefaults) regtext::AppendValueLine(out, {v.name, v.type, v.data});
    out += '\n';
  }
  out += below;
  return own || anyBelow;
}

std::string RenderHive(const Hive& h, int hive, bool includeDefaults) {
  std::string out = "; ";
  out += regtext::RootName(hive);
  out += " of the device. Edit only while the program is not running.\n\n";
  std::vector<WString> path;
  RenderKey(h.root, hive, path, includeDefaults, out);
  return out;
}

// ---------------------------------------------------------------------------
// Files.

uint32_t ReadWholeFile(const std::filesystem::path& file, std::string& text) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return ERROR_ACCESS_DENIED;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
    ::close(fd);
    return ERROR_INVALID_DATA;
  }
  text.clear();
  char buf[65536];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      uint32_t code = ErrorFromErrno(errno);
      ::close(fd);
      return code;
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > kMaxFileSize) {
      ::close(fd);
      return ERROR_INVALID_DATA;
    }
  }
  ::close(fd);
  return ERROR_SUCCESS;
}

void Apply(Hive& h, const regtext::Item& item, bool fromDefaults) {
  Key* key = &h.root;
  for (const WString& part : item.path) {
    Key* child = key->Child(part);
    key = child ? child : key->AddChild(part, false);
  }
  if (!fromDefaults && key->parent) key->explicitKey = true;
  if (!item.value) return;
  size_t i = key->FindValue(item.value->name);
  if (i < key->values.size()) {
    // A file's later line wins over an earlier one; defaults never win over a
    // value the hive holds.
    if (fromDefaults && !key->values[i].fromDefaults) return;
    key->values[i].type = item.value->type;
    key->values[i].data = item.value->data;
    key->values[i].fromDefaults = fromDefaults;
    return;
  }
  key->values.push_back({item.value->name, item.value->type, item.value->data, fromDefaults});
}

void ReportProblems(const std::string& source, const regtext::Document& doc, Outbox& out) {
  for (const auto& p : doc.problems) out.Say(source + ":" + std::to_string(p.line) + ": " + p.what + "; line skipped");
}

void LoadHiveFile(State& s, int hive, Outbox& out) {
  Hive& h = s.hives[hive];
  std::filesystem::path file = s.config.folder / HiveFileName(hive);
  std::string text;
  uint32_t code = ReadWholeFile(file, text);
  if (code == ERROR_FILE_NOT_FOUND) return;
  if (code != ERROR_SUCCESS) {
    h.blocked = code;
    out.Say("cannot read " + file.string() + " (" + Utf8Message(code) +
            "); changes to this hive will fail so that the file is not replaced");
    return;
  }
  regtext::Document doc = regtext::Parse(text);
  ReportProblems(file.string(), doc, out);
  bool bSkipped = !doc.problems.empty();
  for (const auto& item : doc.items) {
    if (item.hive != hive) {
      // Reported once, at its key line; its values go with it.
      if (!item.value)
        out.Say(file.string() + ":" + std::to_string(item.line) + ": key of " +
                std::string(regtext::RootName(item.hive)) + " in this hive; skipped with its values");
      bSkipped = true;
      continue;
    }
    Apply(h, item, false);
  }
  if (bSkipped)
    h.keepOriginal = "had lines that could not be read";
  else if (!text.empty() && text != RenderHive(h, hive, false))
    h.keepOriginal = "was edited by hand (comments, layout or repeated values are not kept)";
}

void MergeDefaults(State& s, const std::string& source, std::string_view text, Outbox& out) {
  regtext::Document doc = regtext::Parse(text);
  ReportProblems(source, doc, out);
  for (const auto& item : doc.items) Apply(s.hives[item.hive], item, true);
}

void EnsureLoaded(State& s, Outbox& out) {
  if (s.loaded) return;
  s.loaded = true;
  if (!s.config.folder.empty())
    for (int hive = 0; hive < kHiveCount; ++hive) LoadHiveFile(s, hive, out);
  if (!s.config.defaultsFile.empty()) {
    std::string text;
    uint32_t code = ReadWholeFile(s.config.defaultsFile, text);
    if (code == ERROR_SUCCESS)
      MergeDefaults(s, s.config.defaultsFile.string(), text, out);
    else
      out.Say("no device defaults from " + s.config.defaultsFile.string() + " (" + Utf8Message(code) + ")");
  }
  if (!s.config.defaultsText.empty()) MergeDefaults(s, "defaults text", s.config.defaultsText, out);
}

uint32_t Step(State& s, RegistrySaveStep step) { return s.saveHook ? s.saveHook(step) : ERROR_SUCCESS; }

// A signal landing in a save (a profiler's or a fuzzer's timer) must not
// fail it: the interrupted call is simply made again.
template <class F>
int Uninterrupted(F call) {
  int result;
  do result = call();
  while (result < 0 && errno == EINTR);
  return result;
}

// Linux releases the descriptor even when close reports EINTR, so that is no
// failure, and closing again could close someone else's file.
int CloseFile(int fd) { return ::close(fd) != 0 && errno != EINTR ? -1 : 0; }

uint32_t WriteTemp(State& s, const std::filesystem::path& tmp, const std::string& text) {
  if (uint32_t code = Step(s, RegistrySaveStep::WriteTemp)) return code;
  int fd = Uninterrupted([&] { return ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); });
  if (fd < 0) return ErrorFromErrno(errno);
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      uint32_t code = ErrorFromErrno(errno);
      ::close(fd);
      return code;
    }
    done += static_cast<size_t>(n);
  }
  uint32_t code = Step(s, RegistrySaveStep::SyncTemp);
  if (code == ERROR_SUCCESS && Uninterrupted([&] { return ::fsync(fd); }) != 0) code = ErrorFromErrno(errno);
  if (CloseFile(fd) != 0 && code == ERROR_SUCCESS) code = ErrorFromErrno(errno);
  return code;
}

// Rewrites one hive. Before the rename nothing of the old file is touched, so
// a failure or a crash up to there leaves it as it was.
uint32_t Save(State& s, int hive, Outbox& out) {
  if (s.config.folder.empty()) return ERROR_SUCCESS;
  Hive& h = s.hives[hive];
  const std::filesystem::path& folder = s.config.folder;
  std::filesystem::path file = folder / HiveFileName(hive);
  std::filesystem::path tmp = folder / (std::string(HiveFileName(hive)) + ".tmp");

  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    uint32_t code = ErrorFromErrno(ec.value());
    out.Say("cannot create " + folder.string() + " (" + Utf8Message(code) + ")");
    return code;
  }
  if (!h.keepOriginal.empty()) {
    std::filesystem::path kept = folder / (std::string(HiveFileName(hive)) + ".bak");
    std::filesystem::copy_file(file, kept, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) {
      uint32_t code = ErrorFromErrno(ec.value());
      out.Say("cannot keep the original of " + file.string() + " as " + kept.string() + " (" +
              Utf8Message(code) + "); not saving over it");
      return code;
    }
    if (!ec) out.Say(file.string() + " " + h.keepOriginal + "; the original is kept as " + kept.string());
    h.keepOriginal.clear();
  }

  uint32_t code = WriteTemp(s, tmp, RenderHive(h, hive, false));
  if (code == ERROR_SUCCESS) code = Step(s, RegistrySaveStep::Rename);
  if (code == ERROR_SUCCESS && Uninterrupted([&] { return ::rename(tmp.c_str(), file.c_str()); }) != 0)
    code = ErrorFromErrno(errno);
  if (code != ERROR_SUCCESS) {
    ::unlink(tmp.c_str());
    out.Say("saving " + file.string() + " failed (" + Utf8Message(code) + "); the change is not made");
    return code;
  }
  // The new hive is in place and readable; only its durability across a power
  // loss is in doubt when the folder cannot be synced.
  int dir = Uninterrupted([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (dir < 0 || Uninterrupted([&] { return ::fsync(dir); }) != 0) out.Say("cannot sync " + folder.string() + " after saving " + file.string());
  if (dir >= 0) ::close(dir);
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------
// Changes. Each one is saved before it counts; a failed save puts memory back.

long SetValue(State& s, int hive, Key* key, WStringView name, uint32_t type, std::vector<uint8_t> data,
              Outbox& out) {
  if (!regtext::CheckValueName(name).empty()) return ERROR_INVALID_PARAMETER;
  Hive& h = s.hives[hive];
  if (h.blocked) return static_cast<long>(h.blocked);
  size_t i = key->FindValue(name);
  bool existed = i < key->values.size();
  std::optional<Value> old;
  bool changed = true;
  if (existed) {
    old = key->values[i];
    changed = old->type != type || old->data != data;
    key->values[i].type = type;
    key->values[i].data = std::move(data);
    key->values[i].fromDefaults = false;
  } else {
    key->values.push_back({WString(name), type, std::move(data), false});
  }
  if (uint32_t code = Save(s, hive, out)) {
    if (existed)
      key->values[i] = std::move(*old);
    else
      key->values.pop_back();
    return static_cast<long>(code);
  }
  Notify(s, hive, key, REG_NOTIFY_CHANGE_LAST_SET);
  if (changed) CollectObservers(s, hive, key, name, out);
  return ERROR_SUCCESS;
}

long DeleteValue(State& s, int hive, Key* key, WStringView name, Outbox& out) {
  size_t i = key->FindValue(name);
  if (i == key->values.size()) return ERROR_FILE_NOT_FOUND;
  Hive& h = s.hives[hive];
  if (h.blocked) return static_cast<long>(h.blocked);
  Value old = std::move(key->values[i]);
  key->values.erase(key->values.begin() + static_cast<ptrdiff_t>(i));
  if (uint32_t code = Save(s, hive, out)) {
    key->values.insert(key->values.begin() + static_cast<ptrdiff_t>(i), std::move(old));
    return static_cast<long>(code);
  }
  Notify(s, hive, key, REG_NOTIFY_CHANGE_LAST_SET);
  CollectObservers(s, hive, key, old.name, out);
  return ERROR_SUCCESS;
}

// Creating a key is not saved by itself: it goes to disk with the next change
// of its hive. So a create never fails for want of a writable folder, and a
// key that is lost that way is made again by the create that made it.
Key* CreatePath(State& s, int hive, Key* base, const std::vector<WString>& parts, bool* created) {
  Key* key = base;
  Key* firstNewParent = nullptr;
  for (const WString& part : parts) {
    Key* child = key->Child(part);
    if (!child) {
      if (!firstNewParent) firstNewParent = key;
      child = key->AddChild(part, false);
    }
    key = child;
  }
  if (firstNewParent) {
    key->explicitKey = true;
    Notify(s, hive, firstNewParent, REG_NOTIFY_CHANGE_NAME);
  }
  if (created) *created = firstNewParent != nullptr;
  return key;
}

Key* FindPath(Key* base, const std::vector<WString>& parts) {
  Key* key = base;
  for (const WString& part : parts) {
    key = key->Child(part);
    if (!key) return nullptr;
  }
  return key;
}

HKEY IssueKey(State& s, int hive, Key* key) {
  uintptr_t id = s.nextKey;
  // Multiples of 4 never meet the (odd) root values.
  s.nextKey += 4;
  s.open[id] = {hive, key};
  return reinterpret_cast<HKEY>(id);
}

template <class F>
auto WithRegistry(F&& f) {
  Outbox out;
  State& s = TheState();
  auto result = [&] {
    std::lock_guard<std::mutex> guard(s.lock);
    EnsureLoaded(s, out);
    return f(s, out);
  }();
  out.Flush();
  return result;
}

struct Found {
  uint32_t type;
  std::vector<uint8_t> data;
};

std::optional<Found> ReadByPath(HKEY root, WStringView keyPath, WStringView name) {
  return WithRegistry([&](State& s, Outbox&) -> std::optional<Found> {
    OpenKey base;
    std::vector<WString> parts;
    if (!Resolve(s, root, base) || !SplitPath(keyPath, parts)) return std::nullopt;
    Key* key = FindPath(base.key, parts);
    if (!key) return std::nullopt;
    size_t i = key->FindValue(name);
    if (i == key->values.size()) return std::nullopt;
    return Found{key->values[i].type, key->values[i].data};
  });
}

long WriteByPath(HKEY root, WStringView keyPath, WStringView name, uint32_t type, std::vector<uint8_t> data) {
  return WithRegistry([&](State& s, Outbox& out) -> long {
    OpenKey base;
    std::vector<WString> parts;
    if (!Resolve(s, root, base)) return ERROR_INVALID_HANDLE;
    if (!SplitPath(keyPath, parts)) return ERROR_INVALID_PARAMETER;
    Key* key = CreatePath(s, base.hive, base.key, parts, nullptr);
    return SetValue(s, base.hive, key, name, type, std::move(data), out);
  });
}

// Drops every observer of the registry; called with the lock not held.
void Deactivate(std::vector<std::shared_ptr<Observer>>& observers) {
  for (const auto& o : observers) {
    std::lock_guard<std::recursive_mutex> gate(o->gate);
    o->active = false;
  }
  observers.clear();
}

}  // namespace

// ---------------------------------------------------------------------------

long RegCreateKeyEx(HKEY root, WStringView subKey, uint32_t access, HKEY* result, uint32_t* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  return WithRegistry([&](State& s, Outbox&) -> long {
    OpenKey base;
    std::vector<WString> parts;
    if (!Resolve(s, root, base)) return ERROR_INVALID_HANDLE;
    if (!SplitPath(subKey, parts)) return ERROR_INVALID_PARAMETER;
    bool created = false;
    Key* key = CreatePath(s, base.hive, base.key, parts, &created);
    *result = IssueKey(s, base.hive, key);
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
  });
}

long RegOpenKeyEx(HKEY root, WStringView subKey, uint32_t access, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  return WithRegistry([&](State& s, Outbox&) -> long {
    OpenKey base;
    std::vector<WString> parts;
    if (!Resolve(s, root, base)) return ERROR_INVALID_HANDLE;
    if (!SplitPath(subKey, parts)) return ERROR_INVALID_PARAMETER;
    Key* key = FindPath(base.key, parts);
    if (!key) return ERROR_FILE_NOT_FOUND;
    *result = IssueKey(s, base.hive, key);
    return ERROR_SUCCESS;
  });
}

long RegCloseKey(HKEY key) {
  if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  return WithRegistry([&](State& s, Outbox&) -> long {
    return s.open.erase(reinterpret_cast<uintptr_t>(key)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  });
}

long RegQueryValueEx(HKEY key, WStringView name, uint32_t* type, uint8_t* data, uint32_t* size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  return WithRegistry([&](State& s, Outbox&) -> long {
    OpenKey k;
    if (!Resolve(s, key, k)) return ERROR_INVALID_HANDLE;
    size_t i = k.key->FindValue(name);
    if (i == k.key->values.size()) return ERROR_FILE_NOT_FOUND;
    const Value& v = k.key->values[i];
    if (type) *type = v.type;
    uint32_t needed = static_cast<uint32_t>(v.data.size());
    if (!data) {
      if (size) *size = needed;
      return ERROR_SUCCESS;
    }
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::copy(v.data.begin(), v.data.end(), data);
    *size = needed;
    return ERROR_SUCCESS;
  });
}

long RegQueryValueCopy(HKEY key, WStringView name, uint32_t* type, std::vector<uint8_t>& data) {
  data.clear();
  return WithRegistry([&](State& s, Outbox&) -> long {
    OpenKey k;
    if (!Resolve(s, key, k)) return ERROR_INVALID_HANDLE;
    size_t i = k.key->FindValue(name);
    if (i == k.key->values.size()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = k.key->values[i].type;
    data = k.key->values[i].data;
    return ERROR_SUCCESS;
  });
}

long RegSetValueEx(HKEY key, WStringView name, uint32_t type, const uint8_t* data, uint32_t size) {
  if (!data && size) return ERROR_INVALID_PARAMETER;
  std::vector<uint8_t> bytes(data, data + size);
  return WithRegistry([&](State& s, Outbox& out) -> long {
    OpenKey k;
    if (!Resolve(s, key, k)) return ERROR_INVALID_HANDLE;
    return SetValue(s, k.hive, k.key, name, type, std::move(bytes), out);
  });
}

long RegDeleteValue(HKEY key, WStringView name) {
  return WithRegistry([&](State& s, Outbox& out) -> long {
    OpenKey k;
    if (!Resolve(s, key, k)) return ERROR_INVALID_HANDLE;
    return DeleteValue(s, k.hive, k.key, name, out);
  });
}

WString RegStringFromBytes(const std::vector<uint8_t>& data) {
  WString text;
  for (size_t i = 0; i + 1 < data.size(); i += 2) {
    char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) break;
    text += c;
  }
  return text;
}

std::optional<uint32_t> ReadDword(HKEY root, WStringView key, WStringView name) {
  std::optional<Found> f = ReadByPath(root, key, name);
  if (!f || f->type != REG_DWORD || f->data.size() != 4) return std::nullopt;
  return f->data[0] | (f->data[1] << 8) | (f->data[2] << 16) | (static_cast<uint32_t>(f->data[3]) << 24);
}

std::optional<WString> ReadString(HKEY root, WStringView key, WStringView name) {
  std::optional<Found> f = ReadByPath(root, key, name);
  if (!f || f->type != REG_SZ) return std::nullopt;
  return RegStringFromBytes(f->data);
}

std::optional<std::vector<uint8_t>> ReadBinary(HKEY root, WStringView key, WStringView name) {
  std::optional<Found> f = ReadByPath(root, key, name);
  if (!f || f->type != REG_BINARY) return std::nullopt;
  return std::move(f->data);
}

uint32_t ShellReadDword(HKEY root, WStringView key, WStringView name) {
  return ReadDword(root, key, name).value_or(0);
}

long WriteDword(HKEY root, WStringView key, WStringView name, uint32_t value) {
  return WriteByPath(root, key, name, REG_DWORD,
                     {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                      static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

long WriteString(HKEY root, WStringView key, WStringView name, WStringView value) {
  std::vector<uint8_t> bytes;
  bytes.reserve((value.size() + 1) * 2);
  for (WChar c : value) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return WriteByPath(root, key, name, REG_SZ, std::move(bytes));
}

long WriteBinary(HKEY root, WStringView key, WStringView name, const std::vector<uint8_t>& value) {
  return WriteByPath(root, key, name, REG_BINARY, value);
}

// ---------------------------------------------------------------------------

Handle CeFindFirstRegChange(HKEY key, bool subtree, uint32_t filter) {
  constexpr uint32_t kKnown = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                              REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
  if (filter == 0 || (filter & ~kKnown)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  Handle event = CreateEvent(true, false);
  if (!event || event == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  bool ok = WithRegistry([&](State& s, Outbox&) {
    OpenKey k;
    if (!Resolve(s, key, k)) return false;
    s.watches.push_back({event, k.hive, k.key, subtree, filter});
    return true;
  });
  if (!ok) {
    CloseHandle(event);
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_HANDLE_VALUE;
  }
  return event;
}

bool CeFindNextRegChange(Handle notification) { return ResetEvent(notification); }

bool CeFindCloseRegChange(Handle notification) {
  {
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    std::erase_if(s.watches, [&](const Watch& w) { return w.event == notification; });
  }
  return CloseHandle(notification);
}

Handle CreateStandInRegChange() { return CreateEvent(true, false); }

RegObserverId RegisterValueObserver(HKEY root, WStringView key, WStringView name, std::function<void()> callback) {
  if (!callback) return 0;
  return WithRegistry([&](State& s, Outbox&) -> RegObserverId {
    OpenKey base;
    std::vector<WString> parts;
    if (!Resolve(s, root, base) || !SplitPath(key, parts)) return 0;
    auto o = std::make_shared<Observer>();
    o->id = s.nextObserver++;
    o->hive = base.hive;
    o->path = FoldedPath(base.key);
    for (const WString& part : parts) o->path += (o->path.empty() ? u"" : u"\\") + Fold(part);
    o->name = Fold(name);
    o->callback = std::move(callback);
    s.observers.push_back(o);
    return o->id;
  });
}

bool UnregisterValueObserver(RegObserverId id) {
  std::vector<std::shared_ptr<Observer>> gone;
  {
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    for (auto it = s.observers.begin(); it != s.observers.end(); ++it) {
      if ((*it)->id == id) {
        gone.push_back(*it);
        s.observers.erase(it);
        break;
      }
    }
  }
  bool found = !gone.empty();
  Deactivate(gone);
  return found;
}

void ConfigureRegistry(RegistryConfig config) {
  std::vector<std::shared_ptr<Observer>> gone;
  {
    State& s = TheState();
    std::lock_guard<std::mutex> guard(s.lock);
    s.config = std::move(config);
    s.loaded = false;
    for (Hive& h : s.hives) h = Hive{};
    s.open.clear();
    s.watches.clear();
    gone.swap(s.observers);
  }
  Deactivate(gone);
}

void ResetRegistryForTests() {
  ConfigureRegistry(RegistryConfig{});
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.saveHook = nullptr;
}

std::string DumpRegistry(HKEY root, bool includeDefaults) {
  return WithRegistry([&](State& s, Outbox&) -> std::string {
    OpenKey k;
    if (!Resolve(s, root, k)) return {};
    return RenderHive(s.hives[k.hive], k.hive, includeDefaults);
  });
}

void SetRegistrySaveHookForTests(std::function<uint32_t(RegistrySaveStep)> hook) {
  State& s = TheState();
  std::lock_guard<std::mutex> guard(s.lock);
  s.saveHook = std::move(hook);
}

}  // namespace plat
