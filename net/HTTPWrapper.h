// Request handles and the session: the layer the UI thread's code uses for
// server requests.
//
// A CHTTPRequest is a handle on one core connection; several handles may
// refer to the same connection (Assign). The CHTTPSession receives the core's
// events on the UI thread, keeps for every open connection id the list of its
// handles and turns each event into a status change of those handles, which
// call their owner's callback. When a request is closed, its body sink is
// handed to every handle through a counted reference.
//
// Everything here runs on the UI thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>

#include "framework/Events.h"
#include "framework/wrappers.h"
#include "net/HTTPCore.h"
#include "net/HTTPSink.h"

class CHTTPSession;

class CHTTPRequest {
 public:
  CHTTPRequest() = default;
  // Detaches, closing the connection when this was its last handle.
  virtual ~CHTTPRequest();
  CHTTPRequest(const CHTTPRequest&) = delete;
  CHTTPRequest& operator=(const CHTTPRequest&) = delete;

  // Opens a connection on the session's core and attaches this handle to it
  // (a handle still attached elsewhere is detached first). A session without
  // a core panics ("HTTPWrapper", 274); a refused open throws
  // Env::TSysErrorCode 7 and leaves the handle detached.
  void Open(CHTTPSession* pSession, int32_t method, plat::WStringView url);
  // Passed to the core while attached; nothing otherwise.
  void SetHeader(plat::WStringView name, plat::WStringView value);
  void SetBodySink(CHTTPSink* pSink);
  // Detached: panic ("HTTPWrapper", 147).
  void Start();
  // The response's HTTP status code (0 before the status line, or detached).
  int32_t GetStatus();
  bool IsOpen() const { return m_pSession != nullptr; }
  void SetCallback(const CDelegate& callback) { m_callback = callback; }
  // Stores the code; a change other than to 27 calls the callback.
  void SetStatus(int32_t code);
  // Closes the connection and hands its body sink to every handle of it,
  // which all end detached with status 27. Nothing when detached.
  void Close();
  // Refers to the same connection as `other`, with its status and callback.
  void Assign(CHTTPRequest& other);
  void Detach(bool bCloseIfLast);

  int32_t LastStatus() const { return m_nLastStatus; }
  // The body, once the request has ended; counted by this handle.
  CHTTPSink* BodySink() const { return m_pSink; }
  int32_t Id() const { return m_nId; }

 private:
  friend class CHTTPSession;
  void Attach(CHTTPSession* pSession, int32_t id);

  int32_t m_nLastStatus = 0;
  CHTTPSession* m_pSession = nullptr;
  CHTTPRequest* m_pPrev = nullptr;
  CHTTPRequest* m_pNext = nullptr;
  CHTTPSink* m_pSink = nullptr;
  int32_t m_nId = -1;
  CDelegate m_callback;
};

class CHTTPSession : public CEventListenerFor<HTTPForwardedEvent> {
 public:
  // A session over `pCore`, subscribed to HTTPForwardedEvent.
  static CHTTPSession* Create(CHTTPCore* pCore);
  ~CHTTPSession() override;

  // Hands `pSink` to every handle of `id`, detaches them without closing
  // and tells them `status`; the id is then forgotten.
  void Finish(int32_t id, CHTTPSink* pSink, int32_t status);
  // Shut-down: every open request ends with status 26 (its connection is
  // left to the core's shut-down) and the core is forgotten.
  void Release();

  CHTTPCore* Core() const { return m_pCore; }
  int32_t OpenCount() const { return static_cast<int32_t>(m_requests.size()); }

  // Where the "User-Agent" of every request comes from; without a source
  // set, the device identity's line (none without an identity).
  using TIdentitySource = std::function<plat::WString()>;
  static void SetIdentitySource(TIdentitySource source);
  static plat::WString IdentityLine();

 protected:
  void HandleEvent(const THTTPForwarded& payload) override;

 private:
  friend class CHTTPRequest;
  struct THandles {
    CHTTPRequest* pFirst = nullptr;
    CHTTPRequest* pLast = nullptr;
  };

  explicit CHTTPSession(CHTTPCore* pCore) : m_pCore(pCore) {}
  void PostActivity();

  std::map<int32_t, THandles> m_requests;
  CHTTPCore* m_pCore;
  CHTTPRequest* m_pCursor = nullptr;
};
