// Watches the phone's cellular lines so that the application can stop
// recording and playback when a call comes in: a new call on a monitored line
// posts IncomingCallEvent with the line's index (0 to 9) to the UI thread.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/phone/Telephony.h"

class CPhoneLineMonitor {
 public:
  static constexpr size_t kMaxLines = 10;

  // Registers itself as the live monitor. UI thread.
  CPhoneLineMonitor();
  // Closes the lines that are open, ends the telephony session if one began,
  // and clears the live monitor; no callback runs once it returns.
  ~CPhoneLineMonitor();
  CPhoneLineMonitor(const CPhoneLineMonitor&) = delete;
  CPhoneLineMonitor& operator=(const CPhoneLineMonitor&) = delete;

  // Opens up to ten lines named "Cellular Line" for monitoring. Any failing
  // step, or no such line, throws Env::TSysErrorCode 7; the lines opened so
  // far stay open until destruction. UI thread.
  void Start();

  // The ids of the cellular line devices among the first `nDevices`, in
  // device order; devices that do not negotiate or describe themselves are
  // skipped.
  std::vector<uint32_t> FindCellularLines(uint32_t nDevices);

  // The telephony callback, on the session's thread: a new call posts the
  // incoming-call message with the line index; everything else is ignored.
  static void OnLineMessage(uintptr_t device, uint32_t message, uintptr_t instance, uintptr_t param1,
                            uintptr_t param2, uintptr_t param3);

  static CPhoneLineMonitor* Live();
  size_t OpenLineCount() const;

 private:
  plat::TelSession m_session = nullptr;
  std::vector<uint32_t> m_cellularLines;
  std::array<plat::LineHandle, kMaxLines> m_lines{};
};
