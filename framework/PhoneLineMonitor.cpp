#include "framework/PhoneLineMonitor.h"

#include <atomic>
#include <utility>

#include "framework/Events.h"
#include "framework/basetypes.h"

namespace {

std::atomic<CPhoneLineMonitor*> g_pLive{nullptr};

constexpr char16_t kCellularLine[] = u"Cellular Line";

}  // namespace

CPhoneLineMonitor::CPhoneLineMonitor() { g_pLive.store(this, std::memory_order_release); }

CPhoneLineMonitor::~CPhoneLineMonitor() {
  for (plat::LineHandle& line : m_lines)
    if (line) plat::Telephony::Close(std::exchange(line, nullptr));
  // Shutdown waits for a callback that is running and stops all later ones.
  if (m_session) plat::Telephony::Shutdown(std::exchange(m_session, nullptr));
  CPhoneLineMonitor* pSelf = this;
  g_pLive.compare_exchange_strong(pSelf, nullptr, std::memory_order_acq_rel);
}

CPhoneLineMonitor* CPhoneLineMonitor::Live() { return g_pLive.load(std::memory_order_acquire); }

void CPhoneLineMonitor::Start() {
  m_session = plat::Telephony::Initialize(&CPhoneLineMonitor::OnLineMessage);
  if (!m_session) Env::ThrowError(Env::ErrSystem);
  m_cellularLines = FindCellularLines(plat::Telephony::DeviceCount(m_session));
  if (m_cellularLines.empty()) Env::ThrowError(Env::ErrSystem);
  for (size_t i = 0; i < m_cellularLines.size() && i < kMaxLines; ++i) {
    const uint32_t device = m_cellularLines[i];
    if (!plat::Telephony::NegotiateVersion(m_session, device, plat::kTelephonyApiVersion, plat::kTelephonyApiVersion))
      Env::ThrowError(Env::ErrSystem);
    m_lines[i] = plat::Telephony::Open(m_session, device, plat::LinePrivilege::Monitor, i);
    if (!m_lines[i]) Env::ThrowError(Env::ErrSystem);
  }
}

std::vector<uint32_t> CPhoneLineMonitor::FindCellularLines(uint32_t nDevices) {
  std::vector<uint32_t> found;
  for (uint32_t device = 0; device < nDevices; ++device) {
    if (!plat::Telephony::NegotiateVersion(m_session, device, plat::kTelephonyApiVersion, plat::kTelephonyApiVersion))
      continue;
    auto name = plat::Telephony::LineName(m_session, device);
    if (name && *name == kCellularLine) found.push_back(device);
  }
  return found;
}

void CPhoneLineMonitor::OnLineMessage(uintptr_t, uint32_t message, uintptr_t instance, uintptr_t, uintptr_t,
                                      uintptr_t) {
  if (message != plat::LINE_APPNEWCALL) return;
  auto* pMessage = CEventFireMessage<IncomingCallEvent>::New();
  pMessage->Payload() = static_cast<int32_t>(instance);
  // Off the UI thread a refused post is traced and the message freed.
  pMessage->Post();
}

size_t CPhoneLineMonitor::OpenLineCount() const {
  size_t n = 0;
  for (plat::LineHandle line : m_lines) n += line != nullptr;
  return n;
}
