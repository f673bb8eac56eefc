// The name resolver: host lookups on a thread of their own, so that the HTTP
// worker never blocks on one. A connection slot queues a lookup and is woken
// through its slot event when the addresses (or the failure) are there.
//
// A lookup that is cancelled while getaddrinfo runs is abandoned, not waited
// for: the resolver thread then frees the result itself and never touches the
// slot or its event again, so closing a request never hangs on a slow name
// server and a re-used slot never sees a stale answer.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "framework/wrappers.h"
#include "platform/kernel/Kernel.h"
#include "platform/net/Net.h"

// One lookup, shared by the slot that asked and the resolver thread. Its
// fields are written under the resolver's lock.
struct TDNSLookup {
  std::string host;                // UTF-8
  plat::Handle hEvent = nullptr;   // signalled once the answer is stored
  plat::AddrInfo* pResult = nullptr;
  int32_t nError = 0;              // 0 success, else the lookup's error code
  bool bDone = false;
  bool bAbandoned = false;

  // An answer nobody took goes with the last holder.
  ~TDNSLookup() {
    if (pResult) plat::freeaddrinfo(pResult);
  }
};

class CDNSResolver {
 public:
  CDNSResolver();
  ~CDNSResolver();  // stops the thread when still running
  CDNSResolver(const CDNSResolver&) = delete;
  CDNSResolver& operator=(const CDNSResolver&) = delete;

  // Starts the lookup thread and makes this the program's resolver.
  bool Start();
  // Ends the thread. Queued lookups are dropped unanswered; a lookup still
  // inside getaddrinfo is abandoned once the bound has passed, and its thread
  // cleans up after itself.
  void Stop();

  // Queues a lookup of `host`; `hEvent` is signalled when it has an answer.
  std::shared_ptr<TDNSLookup> Lookup(const std::string& host, plat::Handle hEvent);
  // Forgets a lookup: a queued one is removed, a running one abandoned, and
  // an answered one's addresses are freed. Never waits for getaddrinfo.
  void Cancel(const std::shared_ptr<TDNSLookup>& pLookup);
  // Takes the answer of a finished lookup: the caller owns the list (free it
  // with plat::freeaddrinfo). False while it is not answered.
  bool TakeResult(const std::shared_ptr<TDNSLookup>& pLookup, plat::AddrInfo** ppResult, int32_t* pError);

  // The program's resolver, or null.
  static CDNSResolver* Instance();

  // How long Stop waits for a lookup in progress.
  static constexpr uint32_t kStopWaitMs = 2000;

 private:
  struct TShared;
  static uint32_t Run(std::shared_ptr<TShared> pShared);

  std::shared_ptr<TShared> m_pShared;
  plat::Handle m_hThread = nullptr;
};
