// Name lookup: the test seam first, then the installed network.
#include <cstring>
#include <new>
#include <string>

#include "platform/net/NetInternal.h"

namespace plat {

using namespace net_detail;

namespace {

std::mutex& HookLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

LookupHook& Hook() {
  static LookupHook* hook = new LookupHook;
  return *hook;
}

// One allocation per entry: the record and its address.
struct Entry {
  AddrInfo info;
  SockAddrIn address;
};

bool ParseService(const char* service, uint16_t& port) {
  port = 0;
  if (!service || !*service) return true;
  uint32_t value = 0;
  size_t length = std::strlen(service);
  if (length > 5) return false;
  for (size_t i = 0; i < length; ++i) {
    if (service[i] < '0' || service[i] > '9') return false;
    value = value * 10 + static_cast<uint32_t>(service[i] - '0');
  }
  if (value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

LookupHook SetLookupHook(LookupHook hook) {
  std::lock_guard<std::mutex> guard(HookLock());
  LookupHook previous = std::move(Hook());
  Hook() = std::move(hook);
  return previous;
}

int getaddrinfo(const char* node, const char* service, const AddrInfo* hints, AddrInfo** result) {
  if (!result) return static_cast<int>(WSAEINVAL);
  *result = nullptr;
  int socktype = SOCK_STREAM;
  int protocol = IPPROTO_TCP;
  if (hints) {
    if (hints->ai_flags != 0) return static_cast<int>(WSAEINVAL);
    if (hints->ai_family != AF_INET && hints->ai_family != AF_UNSPEC) return static_cast<int>(WSAEAFNOSUPPORT);
    if (hints->ai_socktype != 0 && hints->ai_socktype != SOCK_STREAM) return static_cast<int>(WSAESOCKTNOSUPPORT);
    if (hints->ai_protocol != 0 && hints->ai_protocol != IPPROTO_TCP) return static_cast<int>(WSAESOCKTNOSUPPORT);
  }
  uint16_t port = 0;
  if (!ParseService(service, port)) return static_cast<int>(WSATYPE_NOT_FOUND);

  std::shared_ptr<NetStack> stack;
  {
    NetGuard guard(NetLock());
    if (!StartedLocked()) return static_cast<int>(WSANOTINITIALISED);
    stack = CurrentStackLocked();
  }
  if (!node || !*node) return static_cast<int>(WSAHOST_NOT_FOUND);

  std::vector<uint32_t> addresses;
  uint32_t rc = kLookupNotHandled;
  LookupHook hook;
  {
    std::lock_guard<std::mutex> guard(HookLock());
    hook = Hook();
  }
  if (hook) rc = hook(node, addresses);
  if (rc == kLookupNotHandled) {
    addresses.clear();
    uint32_t literal = 0;
    if (ParseIpv4(node, literal)) {
      addresses.push_back(literal);
      rc = 0;
    } else {
      rc = stack->Lookup(node, addresses);
    }
  }
  if (rc != 0) return static_cast<int>(rc);
  if (addresses.empty()) return static_cast<int>(WSANO_DATA);

  AddrInfo* head = nullptr;
  AddrInfo** tail = &head;
  for (uint32_t ip : addresses) {
    Entry* entry = new (std::nothrow) Entry{};
    if (!entry) {
      freeaddrinfo(head);
      return static_cast<int>(ERROR_NOT_ENOUGH_MEMORY);
    }
    entry->address.sin_family = AF_INET;
    entry->address.sin_port = htons(port);
    entry->address.sin_addr.s_addr = htonl(ip);
    entry->info.ai_family = AF_INET;
    entry->info.ai_socktype = socktype;
    entry->info.ai_protocol = protocol;
    entry->info.ai_addrlen = sizeof(SockAddrIn);
    entry->info.ai_addr = reinterpret_cast<SockAddr*>(&entry->address);
    *tail = &entry->info;
    tail = &entry->info.ai_next;
  }
  *result = head;
  return 0;
}

void freeaddrinfo(AddrInfo* list) {
  while (list) {
    AddrInfo* next = list->ai_next;
    // `info` is the first member, so the record's address is the entry's.
    delete reinterpret_cast<Entry*>(list);
    list = next;
  }
}

}  // namespace plat
