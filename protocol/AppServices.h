// What protocol code asks of the application object: its HTTP session and
// the two ways of showing a server message. The application object installs
// its implementation while it lives; protocol code never sees the
// application itself.
#pragma once

#include "platform/base/Strings.h"

class CHTTPSession;
struct TServerMessage;

class IAppServices {
 public:
  virtual ~IAppServices() = default;
  // The application's session; null once it is gone.
  virtual CHTTPSession* HttpSession() = 0;
  // A message from a server reply (silent: a message that asks for nothing
  // is not shown).
  virtual void ShowServerMessage(const TServerMessage& message, bool bSilent) = 0;
  // The server-message screen with these texts; callers resolve UI string
  // ids themselves.
  virtual void ShowServerMessageView(plat::WStringView caption, plat::WStringView text, bool bRequired,
                                     plat::WStringView link) = 0;
};

// Installs the services (null: none). UI thread.
void InstallAppServices(IAppServices* pServices);
IAppServices* InstalledAppServices();

// Through the installed services. Without them there is no session, and a
// message is only traced.
CHTTPSession* AppHttpSession();
void ShowServerMessage(const TServerMessage& message, bool bSilent);
void ShowServerMessageView(plat::WStringView caption, plat::WStringView text, bool bRequired,
                           plat::WStringView link);
