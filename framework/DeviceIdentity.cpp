#include "framework/DeviceIdentity.h"

#include <array>
#include <optional>
#include <utility>

#include "platform/base/Format.h"
#include "platform/phone/DeviceId.h"
#include "platform/phone/Telephony.h"
#include "platform/registry/Registry.h"

namespace {

// Guards the singleton pointer and its count, so that readers on other
// threads never meet a half-deleted identity.
std::mutex g_singletonLock;
CDeviceIdentity* g_pIdentity = nullptr;
int32_t g_nReferences = 0;

std::mutex g_languageLock;
TLanguageCodeSource g_languageSource;

constexpr uint32_t kLowestApiVersion = 0x10004;

plat::WString LanguageCode();

// Headers are written as they stand, and IMEI, IMSI and the model name come
// from hives anyone can edit: no control character may reach the request
// head.
plat::WString WithoutControls(plat::WStringView text) {
  plat::WString out;
  out.reserve(text.size());
  for (char16_t c : text)
    if (c >= 0x20 && c != 0x7F) out += c;
  return out;
}

// The first `n` units, one fewer where the cut would split a surrogate pair.
plat::WString Prefix(const plat::WString& text, size_t n) {
  if (text.size() <= n) return text;
  if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
  return text.substr(0, n);
}

struct TPhoneIdentity {
  plat::WString imei;
  plat::WString imsi;
};

// IMEI and IMSI from line device 0; nothing when any step fails. The line and
// the session are closed in every case.
std::optional<TPhoneIdentity> ReadPhoneIdentity() {
  plat::TelSession session = plat::Telephony::Initialize({});
  if (!session) return std::nullopt;
  std::optional<TPhoneIdentity> result;
  if (plat::Telephony::NegotiateVersion(session, 0, kLowestApiVersion, plat::kTelephonyApiVersion)) {
    if (plat::LineHandle line = plat::Telephony::Open(session, 0, plat::LinePrivilege::None, 0)) {
      if (auto info = plat::Telephony::GetGeneralInfo(line))
        result = TPhoneIdentity{Utf8ToWide(WideToUtf8(info->serial)), Utf8ToWide(WideToUtf8(info->subscriber))};
      plat::Telephony::Close(line);
    }
  }
  plat::Telephony::Shutdown(session);
  return result;
}

// The device id in hexadecimal, one or two digits a byte; empty on failure.
plat::WString ReadDeviceId() {
  const std::array<uint8_t, 8> appData{};
  std::array<uint8_t, 20> id{};
  if (!plat::GetDeviceUniqueId(appData, 1, id)) return {};
  return DeviceIdText(id);
}

}  // namespace

CDeviceIdentity* CDeviceIdentity::Create() {
  {
    std::lock_guard<std::mutex> guard(g_singletonLock);
    if (g_pIdentity) {
      ++g_nReferences;
      return g_pIdentity;
    }
  }
  // Built before it is published: readers see a whole line or none.
  auto* pIdentity = new CDeviceIdentity();
  pIdentity->Build();
  std::lock_guard<std::mutex> guard(g_singletonLock);
  g_pIdentity = pIdentity;
  g_nReferences = 1;
  return pIdentity;
}

void CDeviceIdentity::Destroy() {
  CDeviceIdentity* pDoomed = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_singletonLock);
    if (!g_pIdentity || --g_nReferences > 0) return;
    pDoomed = std::exchange(g_pIdentity, nullptr);
    g_nReferences = 0;
  }
  delete pDoomed;
}

void CDeviceIdentity::Refresh() {
  // Only the UI thread creates, refreshes and destroys, so the identity
  // cannot go away under this call.
  CDeviceIdentity* pIdentity = GetDeviceIdentity();
  if (!pIdentity) return;
  {
    std::lock_guard<std::mutex> guard(pIdentity->m_lock);
    pIdentity->m_deviceId.clear();
  }
  pIdentity->Build();
}

void CDeviceIdentity::Build() {
  // The slow sources are read without the lock; the fields are swapped in
  // under it, so a reader sees the old line or the new one.
  std::optional<TPhoneIdentity> phone = ReadPhoneIdentity();
  plat::WString deviceId = WithoutControls(ReadDeviceId());
  plat::WString name = WithoutControls(GetDeviceName());
  plat::WString language = WithoutControls(LanguageCode());

  std::lock_guard<std::mutex> guard(m_lock);
  if (phone) {
    m_imei = WithoutControls(phone->imei);
    m_imsi = WithoutControls(phone->imsi);
  }
  m_deviceId = std::move(deviceId);
  m_line = plat::FormatWCut(kMaxIdentityLineUnits,
                            u"AppNumber=10 AppVersion=%d.%d.%d.0 APIVersion=1.0.0.0 IMEI=%s 6IMSI=%s IMSI=%s "
                            u"IDDEV=%s DEV=%s LANG=%s",
                            1, 6, 57, m_imei, Prefix(m_imsi, 6), m_imsi, m_deviceId, name, language);
}

plat::WString CDeviceIdentity::GetIdentityLine() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_line;
}

CDeviceIdentity* GetDeviceIdentity() {
  std::lock_guard<std::mutex> guard(g_singletonLock);
  return g_pIdentity;
}

plat::WString CurrentIdentityLine() {
  std::lock_guard<std::mutex> guard(g_singletonLock);
  return g_pIdentity ? g_pIdentity->GetIdentityLine() : plat::WString();
}

plat::WString DeviceIdText(std::span<const uint8_t> id) {
  plat::WString hex;
  for (uint8_t b : id) hex += plat::FormatW(u"%x", b);
  return hex;
}

plat::WString GetDeviceName() {
  return plat::ReadString(plat::HKEY_LOCAL_MACHINE, u"Ident", u"OrigName").value_or(u"NonameDevice");
}

std::string WideToUtf8(plat::WStringView text) { return plat::ToUtf8(text); }
plat::WString Utf8ToWide(std::string_view text) { return plat::FromUtf8(text); }

void SetLanguageCodeSource(TLanguageCodeSource source) {
  std::lock_guard<std::mutex> guard(g_languageLock);
  g_languageSource = std::move(source);
}

namespace {

plat::WString LanguageCode() {
  TLanguageCodeSource source;
  {
    std::lock_guard<std::mutex> guard(g_languageLock);
    source = g_languageSource;
  }
  return source ? source() : plat::WString();
}

}  // namespace
