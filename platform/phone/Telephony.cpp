#include "platform/phone/Telephony.h"

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/kernel/Kernel.h"
#include "platform/registry/Registry.h"

namespace plat {
namespace {

struct Message {
  uintptr_t device;
  uint32_t message;
  uintptr_t instance;
  uintptr_t p1, p2, p3;
};

struct Session {
  LineCallback callback;
  TelephonyConfig config;  // as it was when the session began
  std::deque<Message> queue;
  Handle wake = nullptr;
  Handle thread = nullptr;
  uint32_t threadId = 0;
  bool quitting = false;
};

struct Line {
  std::shared_ptr<Session> session;
  uint32_t device = 0;
  LinePrivilege privilege = LinePrivilege::None;
  uintptr_t instance = 0;
};

struct Globals {
  std::mutex lock;
  std::optional<TelephonyConfig> config;
  uintptr_t nextId = 1;  // handles are never reused
  uintptr_t nextCall = 1;
  std::map<uintptr_t, std::shared_ptr<Session>> sessions;
  std::map<uintptr_t, Line> lines;
};

Globals& G() {
  static Globals* globals = new Globals;
  return *globals;
}

std::shared_ptr<Session> FindSessionLocked(TelSession s) {
  auto it = G().sessions.find(reinterpret_cast<uintptr_t>(s));
  return it == G().sessions.end() ? nullptr : it->second;
}

TelephonyConfig CurrentConfig() {
  {
    std::lock_guard<std::mutex> guard(G().lock);
    if (G().config) return *G().config;
  }
  TelephonyConfig config;
  config.imei = ReadString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"IMEI").value_or(u"");
  config.imsi = ReadString(HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"IMSI").value_or(u"");
  return config;
}

uint32_t Dispatch(std::shared_ptr<Session> session) {
  for (;;) {
    WaitForSingleObject(session->wake, INFINITE);
    for (;;) {
      Message m;
      {
        std::lock_guard<std::mutex> guard(G().lock);
        if (session->quitting) return 0;
        if (session->queue.empty()) break;
        m = session->queue.front();
        session->queue.pop_front();
      }
      session->callback(m.device, m.message, m.instance, m.p1, m.p2, m.p3);
    }
  }
}

}  // namespace

namespace Telephony {

TelSession Initialize(LineCallback callback) {
  auto session = std::make_shared<Session>();
  session->config = CurrentConfig();
  if (!session->config.initializes) return nullptr;
  session->callback = std::move(callback);
  if (session->callback) {
    session->wake = CreateEvent(false, false);
    session->thread = CreateThread([session] { return Dispatch(session); }, &session->threadId);
    if (!session->thread) {
      CloseHandle(session->wake);
      return nullptr;
    }
  }
  std::lock_guard<std::mutex> guard(G().lock);
  uintptr_t id = G().nextId++;
  G().sessions[id] = session;
  return reinterpret_cast<TelSession>(id);
}

uint32_t DeviceCount(TelSession s) {
  std::lock_guard<std::mutex> guard(G().lock);
  auto session = FindSessionLocked(s);
  return session ? static_cast<uint32_t>(session->config.devices.size()) : 0;
}

std::optional<uint32_t> NegotiateVersion(TelSession s, uint32_t device, uint32_t low, uint32_t high) {
  std::lock_guard<std::mutex> guard(G().lock);
  auto session = FindSessionLocked(s);
  if (!session || device >= session->config.devices.size() || !session->config.devices[device].negotiates)
    return std::nullopt;
  uint32_t agreed = std::min(high, kTelephonyApiVersion);
  if (agreed < low) return std::nullopt;
  return agreed;
}

std::optional<WString> LineName(TelSession s, uint32_t device) {
  std::lock_guard<std::mutex> guard(G().lock);
  auto session = FindSessionLocked(s);
  if (!session || device >= session->config.devices.size() || !session->config.devices[device].capabilities)
    return std::nullopt;
  return session->config.devices[device].name;
}

LineHandle Open(TelSession s, uint32_t device, LinePrivilege privilege, uintptr_t instance) {
  std::lock_guard<std::mutex> guard(G().lock);
  auto session = FindSessionLocked(s);
  if (!session || device >= session->config.devices.size() || !session->config.devices[device].opens)
    return nullptr;
  uintptr_t id = G().nextId++;
  G().lines[id] = Line{session, device, privilege, instance};
  return reinterpret_cast<LineHandle>(id);
}

std::optional<GeneralInfo> GetGeneralInfo(LineHandle line) {
  std::lock_guard<std::mutex> guard(G().lock);
  auto it = G().lines.find(reinterpret_cast<uintptr_t>(line));
  if (it == G().lines.end() || !it->second.session->config.generalInfo) return std::nullopt;
  return GeneralInfo{it->second.session->config.imei, it->second.session->config.imsi};
}

bool Close(LineHandle line) {
  std::lock_guard<std::mutex> guard(G().lock);
  return G().lines.erase(reinterpret_cast<uintptr_t>(line)) > 0;
}

bool Shutdown(TelSession s) {
  std::shared_ptr<Session> session;
  {
    std::lock_guard<std::mutex> guard(G().lock);
    session = FindSessionLocked(s);
    if (!session) return false;
    G().sessions.erase(reinterpret_cast<uintptr_t>(s));
    std::erase_if(G().lines, [&](const auto& entry) { return entry.second.session == session; });
    session->quitting = true;
    session->queue.clear();
  }
  if (!session->thread) return true;
  SetEvent(session->wake);
  // From inside a callback the thread cannot wait for itself; it sees the
  // flag and ends once the callback returns.
  if (GetCurrentThreadId() != session->threadId) WaitForSingleObject(session->thread, INFINITE);
  CloseHandle(session->thread);
  CloseHandle(session->wake);
  return true;
}

}  // namespace Telephony

void ConfigureTelephony(std::optional<TelephonyConfig> config) {
  std::lock_guard<std::mutex> guard(G().lock);
  G().config = std::move(config);
}

int SimulateIncomingCall(uint32_t device) {
  std::lock_guard<std::mutex> guard(G().lock);
  int told = 0;
  for (auto& [id, line] : G().lines) {
    Session& session = *line.session;
    if (line.device != device || line.privilege != LinePrivilege::Monitor || !session.callback) continue;
    session.queue.push_back(
        {id, LINE_APPNEWCALL, line.instance, 0, G().nextCall++, LINECALLPRIVILEGE_MONITOR});
    SetEvent(session.wake);
    ++told;
  }
  return told;
}

}  // namespace plat
