#include "protocol/AppServices.h"

#include "framework/Trace.h"
#include "protocol/ServerError.h"

namespace {

IAppServices* g_pServices = nullptr;

}  // namespace

void InstallAppServices(IAppServices* pServices) { g_pServices = pServices; }
IAppServices* InstalledAppServices() { return g_pServices; }

CHTTPSession* AppHttpSession() { return g_pServices ? g_pServices->HttpSession() : nullptr; }

void ShowServerMessage(const TServerMessage& message, bool bSilent) {
  if (g_pServices) {
    g_pServices->ShowServerMessage(message, bSilent);
    return;
  }
  DebugTrace(u"[QUOREL] Server message not shown (no application): %s %s\n", message.m_type, message.m_text);
}

void ShowServerMessageView(plat::WStringView caption, plat::WStringView text, bool bRequired,
                           plat::WStringView link) {
  if (g_pServices) {
    g_pServices->ShowServerMessageView(caption, text, bRequired, link);
    return;
  }
  DebugTrace(u"[QUOREL] Server message view not shown (no application): %s %s\n", caption, text);
}
