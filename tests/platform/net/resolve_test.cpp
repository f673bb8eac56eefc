// Name lookup: the IPv4 list it builds, its argument rules, and the seam
// that keeps tests away from the machine's resolver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NetTestUtil.h"
#include "platform/net/SimNet.h"

using namespace nt;

namespace {

struct HookGuard {
  explicit HookGuard(plat::LookupHook hook) { plat::SetLookupHook(std::move(hook)); }
  ~HookGuard() { plat::SetLookupHook({}); }
};

std::vector<std::pair<uint32_t, uint16_t>> Entries(const plat::AddrInfo* list) {
  std::vector<std::pair<uint32_t, uint16_t>> out;
  for (; list; list = list->ai_next) {
    EXPECT_EQ(list->ai_family, AF_INET);
    EXPECT_EQ(list->ai_socktype, SOCK_STREAM);
    EXPECT_EQ(list->ai_protocol, IPPROTO_TCP);
    EXPECT_EQ(list->ai_addrlen, sizeof(plat::SockAddrIn));
    auto* in = reinterpret_cast<const plat::SockAddrIn*>(list->ai_addr);
    EXPECT_EQ(in->sin_family, AF_INET);
    out.emplace_back(ntohl(in->sin_addr.s_addr), ntohs(in->sin_port));
  }
  return out;
}

plat::AddrInfo Hints() {
  plat::AddrInfo h;
  h.ai_family = AF_INET;
  h.ai_socktype = SOCK_STREAM;
  h.ai_protocol = IPPROTO_TCP;
  return h;
}

TEST(Lookup, LiteralsAndTheHookInOrder) {
  Wsa wsa;
  std::vector<std::string> asked;
  HookGuard hook([&](std::string_view host, std::vector<uint32_t>& out) -> uint32_t {
    asked.emplace_back(host);
    if (host == "server.test") {
      out = {plat::Ipv4(10, 0, 0, 2), plat::Ipv4(10, 0, 0, 1)};
      return 0;
    }
    if (host == "gone.test") return plat::WSAHOST_NOT_FOUND;
    if (host == "slow.test") return plat::WSATRY_AGAIN;
    return plat::kLookupNotHandled;
  });
  plat::AddrInfo hints = Hints();
  plat::AddrInfo* list = nullptr;
  // The connection slot's form: an empty service and IPv4/stream/TCP hints.
  ASSERT_EQ(plat::getaddrinfo("server.test", "", &hints, &list), 0);
  EXPECT_EQ(Entries(list), (std::vector<std::pair<uint32_t, uint16_t>>{{plat::Ipv4(10, 0, 0, 2), 0},
                                                                       {plat::Ipv4(10, 0, 0, 1), 0}}));
  plat::freeaddrinfo(list);
  ASSERT_EQ(plat::getaddrinfo("127.0.0.1", "8080", nullptr, &list), 0);
  EXPECT_EQ(Entries(list), (std::vector<std::pair<uint32_t, uint16_t>>{{plat::Ipv4(127, 0, 0, 1), 8080}}));
  plat::freeaddrinfo(list);
  list = reinterpret_cast<plat::AddrInfo*>(0x1);
  EXPECT_EQ(plat::getaddrinfo("gone.test", nullptr, &hints, &list), static_cast<int>(plat::WSAHOST_NOT_FOUND));
  EXPECT_EQ(list, nullptr) << "no list on failure";
  EXPECT_EQ(plat::getaddrinfo("slow.test", nullptr, &hints, &list), static_cast<int>(plat::WSATRY_AGAIN));
  EXPECT_EQ(asked, (std::vector<std::string>{"server.test", "127.0.0.1", "gone.test", "slow.test"}));
  plat::freeaddrinfo(nullptr);
}

TEST(Lookup, ArgumentsOutsideWhatTheLayerServesAreRefused) {
  Wsa wsa;
  HookGuard hook([](std::string_view, std::vector<uint32_t>& out) -> uint32_t {
    out = {plat::Ipv4(10, 1, 1, 1)};
    return 0;
  });
  plat::AddrInfo* list = nullptr;
  struct Case {
    const char* why;
    const char* node;
    const char* service;
    plat::AddrInfo hints;
    int expected;
  };
  plat::AddrInfo flags = Hints();
  flags.ai_flags = 1;
  plat::AddrInfo v6 = Hints();
  v6.ai_family = AF_INET6;
  plat::AddrInfo dgram = Hints();
  dgram.ai_socktype = SOCK_DGRAM;
  plat::AddrInfo udp = Hints();
  udp.ai_protocol = IPPROTO_UDP;
  plat::AddrInfo unspec = Hints();
  unspec.ai_family = AF_UNSPEC;
  const Case cases[] = {
      {"flags", "h", nullptr, flags, static_cast<int>(plat::WSAEINVAL)},
      {"IPv6", "h", nullptr, v6, static_cast<int>(plat::WSAEAFNOSUPPORT)},
      {"datagrams", "h", nullptr, dgram, static_cast<int>(plat::WSAESOCKTNOSUPPORT)},
      {"UDP", "h", nullptr, udp, static_cast<int>(plat::WSAESOCKTNOSUPPORT)},
      {"named service", "h", "http", Hints(), static_cast<int>(plat::WSATYPE_NOT_FOUND)},
      {"service too big", "h", "65536", Hints(), static_cast<int>(plat::WSATYPE_NOT_FOUND)},
      {"no name", nullptr, nullptr, Hints(), static_cast<int>(plat::WSAHOST_NOT_FOUND)},
      {"empty name", "", nullptr, Hints(), static_cast<int>(plat::WSAHOST_NOT_FOUND)},
      {"any family is IPv4", "h", "65535", unspec, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(plat::getaddrinfo(c.node, c.service, &c.hints, &list), c.expected);
    if (c.expected == 0) {
      EXPECT_EQ(Entries(list), (std::vector<std::pair<uint32_t, uint16_t>>{{plat::Ipv4(10, 1, 1, 1), 65535}}));
      plat::freeaddrinfo(list);
    }
  }
  EXPECT_EQ(plat::getaddrinfo("h", nullptr, nullptr, nullptr), static_cast<int>(plat::WSAEINVAL));
}

TEST(Lookup, TheHookGoesBeforeASimulatedNetworksTable) {
  Wsa wsa;
  plat::SimNetwork net;
  net.AddHost("both.test", plat::Ipv4(192, 168, 0, 1));
  net.AddHost("table.test", plat::Ipv4(192, 168, 0, 2));
  HookGuard hook([](std::string_view host, std::vector<uint32_t>& out) -> uint32_t {
    if (host != "both.test") return plat::kLookupNotHandled;
    out = {plat::Ipv4(10, 9, 9, 9)};
    return 0;
  });
  plat::AddrInfo* list = nullptr;
  ASSERT_EQ(plat::getaddrinfo("both.test", nullptr, nullptr, &list), 0);
  EXPECT_EQ(Entries(list)[0].first, plat::Ipv4(10, 9, 9, 9));
  plat::freeaddrinfo(list);
  ASSERT_EQ(plat::getaddrinfo("table.test", nullptr, nullptr, &list), 0);
  EXPECT_EQ(Entries(list)[0].first, plat::Ipv4(192, 168, 0, 2));
  plat::freeaddrinfo(list);
  EXPECT_EQ(net.Lookups(), std::vector<std::string>{"table.test"});
}

}  // namespace
