// Change notifications, value observers, and the registry used from several
// threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RegistryTestUtil.h"
#include "platform/kernel/Kernel.h"
#include "tests/support/Waits.h"

using namespace plat;
using rt::Bytes;

namespace {

// Bounds the waits a fault could leave hanging; never reached when all is well.
constexpr uint32_t kSafetyMs = support::kHangMs;
const WStringView kSensor = u"ControlPanel\\MotionSensor";

class RegistryNotify : public rt::RegistryTest {
 protected:
  uint32_t Poll(std::initializer_list<Handle> handles) {
    std::vector<Handle> list(handles);
    return WaitForMultipleObjects(list, 0);
  }
  void Hammer(bool persisted, int rounds);
};

TEST_F(RegistryNotify, NotificationWakesAMultiHandleWaitAndStaysSetUntilRearmed) {
  HKEY hw = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", 0, &hw), ERROR_SUCCESS);
  Handle command = CreateEvent(false, false);
  Handle wifi = CeFindFirstRegChange(hw, false, REG_NOTIFY_CHANGE_LAST_SET);
  Handle standIn = CreateStandInRegChange();
  ASSERT_NE(wifi, INVALID_HANDLE_VALUE);

  EXPECT_EQ(Poll({command, wifi, standIn}), WAIT_TIMEOUT);
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0x10), ERROR_SUCCESS);
  EXPECT_EQ(Poll({command, wifi, standIn}), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(Poll({command, wifi, standIn}), WAIT_OBJECT_0 + 1) << "manual reset: a wait does not consume it";
  SetEvent(command);
  EXPECT_EQ(Poll({command, wifi}), WAIT_OBJECT_0) << "lowest index first";
  EXPECT_EQ(Poll({command, wifi}), WAIT_OBJECT_0 + 1);
  EXPECT_TRUE(CeFindNextRegChange(wifi));
  EXPECT_EQ(Poll({command, wifi}), WAIT_TIMEOUT);

  // Re-armed, it fires again: for a set of the same value and for a delete.
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0x10), ERROR_SUCCESS);
  EXPECT_EQ(Poll({wifi}), WAIT_OBJECT_0);
  CeFindNextRegChange(wifi);
  ASSERT_EQ(RegDeleteValue(hw, u"wifi"), ERROR_SUCCESS);
  EXPECT_EQ(Poll({wifi}), WAIT_OBJECT_0);
  CeFindNextRegChange(wifi);

  // Not for: a failed change, the key above, a sub-key (no subtree), the
  // other hive.
  EXPECT_EQ(RegDeleteValue(hw, u"wifi"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"bad\nname", 1), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State", u"x", 1), ERROR_SUCCESS);
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware\\Sub", u"x", 1), ERROR_SUCCESS);
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"System\\State\\Hardware", u"Wifi", 1), ERROR_SUCCESS);
  EXPECT_EQ(Poll({wifi, standIn}), WAIT_TIMEOUT) << "the stand-in never fires either";

  // The stand-in takes the same calls; a closed notification is gone.
  EXPECT_TRUE(CeFindNextRegChange(standIn));
  EXPECT_TRUE(CeFindCloseRegChange(standIn));
  EXPECT_TRUE(CeFindCloseRegChange(wifi));
  EXPECT_FALSE(CeFindCloseRegChange(wifi));
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 2), ERROR_SUCCESS);
  CloseHandle(command);
  RegCloseKey(hw);
}

TEST_F(RegistryNotify, SubtreeFilterAndBadArguments) {
  HKEY top = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"\\ControlPanel", 0, &top), ERROR_SUCCESS);
  Handle tree = CeFindFirstRegChange(top, true, REG_NOTIFY_CHANGE_LAST_SET);
  Handle names = CeFindFirstRegChange(top, true, REG_NOTIFY_CHANGE_NAME);
  Handle direct = CeFindFirstRegChange(top, false, REG_NOTIFY_CHANGE_LAST_SET);

  // A key made two levels down with a value in it.
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"controlpanel\\MotionSensor\\Deeper", u"SlideState", 1), ERROR_SUCCESS);
  EXPECT_EQ(Poll({tree}), WAIT_OBJECT_0);
  EXPECT_EQ(Poll({names}), WAIT_OBJECT_0);
  EXPECT_EQ(Poll({direct}), WAIT_TIMEOUT);
  for (Handle h : {tree, names}) CeFindNextRegChange(h);
  // A value changed deep below: only the subtree watch on values.
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor\\Deeper", u"SlideState", 0), ERROR_SUCCESS);
  EXPECT_EQ(Poll({tree}), WAIT_OBJECT_0);
  EXPECT_EQ(Poll({names, direct}), WAIT_TIMEOUT);
  for (Handle h : {tree, names, direct}) CeFindCloseRegChange(h);

  SetLastError(0);
  EXPECT_EQ(CeFindFirstRegChange(top, false, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CeFindFirstRegChange(top, false, 0x100), INVALID_HANDLE_VALUE);
  RegCloseKey(top);
  EXPECT_EQ(CeFindFirstRegChange(top, false, REG_NOTIFY_CHANGE_LAST_SET), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // Closed behind the registry's back: the next change just drops it.
  ASSERT_TRUE(CloseHandle(CeFindFirstRegChange(HKEY_CURRENT_USER, true, REG_NOTIFY_CHANGE_LAST_SET)));
  EXPECT_EQ(WriteDword(HKEY_CURRENT_USER, u"a", u"b", 1), ERROR_SUCCESS);
}

TEST_F(RegistryNotify, ObserversSeeRealChangesOfTheirValueOnly) {
  std::vector<std::string> log;
  RegObserverId slide =
      RegisterValueObserver(HKEY_CURRENT_USER, u"\\ControlPanel\\MotionSensor", u"SlideState", [&] { log.push_back("slide"); });
  RegisterValueObserver(HKEY_CURRENT_USER, kSensor, u"", [&] { log.push_back("default"); });
  ASSERT_NE(slide, 0u);
  EXPECT_EQ(RegisterValueObserver(HKEY_CURRENT_USER, u"a\\\\b", u"v", [] {}), 0u);

  WriteDword(HKEY_CURRENT_USER, u"controlpanel\\motionsensor", u"slidestate", 1);  // key made on the way
  WriteDword(HKEY_CURRENT_USER, kSensor, u"SlideState", 1);                            // same bytes: no change
  WriteBinary(HKEY_CURRENT_USER, kSensor, u"SlideState", {1, 0, 0, 0});                // same bytes, new type
  WriteDword(HKEY_CURRENT_USER, kSensor, u"Other", 1);
  WriteDword(HKEY_LOCAL_MACHINE, kSensor, u"SlideState", 5);
  WriteDword(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor\\Sub", u"SlideState", 5);
  WriteString(HKEY_CURRENT_USER, kSensor, u"", u"x");
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, kSensor, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  RegDeleteValue(k, u"SLIDESTATE");
  EXPECT_EQ(log, (std::vector<std::string>{"slide", "slide", "default", "slide"}));
  EXPECT_TRUE(UnregisterValueObserver(slide));
  EXPECT_FALSE(UnregisterValueObserver(slide));
  WriteDword(HKEY_CURRENT_USER, kSensor, u"SlideState", 9);
  EXPECT_EQ(log.size(), 4u);

  // A callback runs outside the registry's lock: it may read, write and
  // unregister itself.
  RegObserverId self = 0;
  self = RegisterValueObserver(HKEY_CURRENT_USER, kSensor, u"SlideState", [&] {
    WriteDword(HKEY_CURRENT_USER, kSensor, u"Echo", ShellReadDword(HKEY_CURRENT_USER, kSensor, u"SlideState"));
    UnregisterValueObserver(self);
  });
  WriteDword(HKEY_CURRENT_USER, kSensor, u"SlideState", 3);
  WriteDword(HKEY_CURRENT_USER, kSensor, u"SlideState", 4);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, kSensor, u"Echo"), 3u);
  RegCloseKey(k);
}

TEST_F(RegistryNotify, WorkerWakesOnEachChangeAndRearms) {
  HKEY sensor = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"\\ControlPanel\\MotionSensor", 0, &sensor), ERROR_SUCCESS);
  Handle notification = CeFindFirstRegChange(sensor, false, REG_NOTIFY_CHANGE_LAST_SET);
  Handle quit = CreateEvent(false, false), seen = CreateEvent(false, false);
  std::vector<uint32_t> values;

  Handle worker = CreateThread([&]() -> uint32_t {
    Handle list[] = {quit, notification};
    while (true) {
      uint32_t r = WaitForMultipleObjects(list, kSafetyMs);
      if (r != WAIT_OBJECT_0 + 1) return r;
      values.push_back(ShellReadDword(HKEY_CURRENT_USER, kSensor, u"SlideState"));
      CeFindNextRegChange(notification);
      SetEvent(seen);
    }
  });
  for (uint32_t i = 1; i <= 20; ++i) {
    ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, kSensor, u"SlideState", i), ERROR_SUCCESS);
    ASSERT_EQ(WaitForSingleObject(seen, kSafetyMs), WAIT_OBJECT_0) << i;
  }
  SetEvent(quit);
  ASSERT_EQ(WaitForSingleObject(worker, kSafetyMs), WAIT_OBJECT_0);
  uint32_t code = 99;
  GetExitCodeThread(worker, &code);
  EXPECT_EQ(code, WAIT_OBJECT_0) << "woken by quit, not by a time-out";
  ASSERT_EQ(values.size(), 20u);
  for (uint32_t i = 0; i < 20; ++i) EXPECT_EQ(values[i], i + 1);
  for (Handle h : {worker, quit, seen}) CloseHandle(h);
  CeFindCloseRegChange(notification);
  RegCloseKey(sensor);
}

// Writers store strings of one repeated letter, in varying lengths. A reader
// that sees two letters, a wrong length or a missing terminator saw a torn
// value.
void RegistryNotify::Hammer(bool persisted, int rounds) {
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, kSensor, u"shared", u"z"), ERROR_SUCCESS);
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0}, reads{0}, failures{0}, observed{0};
  Handle any = CeFindFirstRegChange(HKEY_CURRENT_USER, true, REG_NOTIFY_CHANGE_LAST_SET);
  RegisterValueObserver(HKEY_CURRENT_USER, kSensor, u"shared", [&] { ++observed; });
  auto check = [&](uint32_t type, const Bytes& data) {
    WString text = RegStringFromBytes(data);
    bool ok = type == REG_SZ && !text.empty() && data.size() == (text.size() + 1) * 2;
    for (char16_t c : text) ok = ok && c == text[0];
    torn += !ok;
    ++reads;
  };

  std::vector<std::thread> writers, others;
  for (int w = 0; w < 3; ++w)
    writers.emplace_back([&, w] {
      for (int i = 0; i < rounds; ++i) {
        WString text(static_cast<size_t>(1 + (i * 7 + w) % 40), static_cast<char16_t>(u'a' + w));
        failures += WriteString(HKEY_CURRENT_USER, kSensor, u"shared", text) != ERROR_SUCCESS;
        failures += WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", i) != ERROR_SUCCESS;
      }
    });
  // One locked read; the two-step protocol (which must cope with the value
  // growing in between); keys opened and closed while notifications re-arm.
  // Each reader reads at least once, even if the writers are done before it
  // gets scheduled on a loaded machine.
  others.emplace_back([&] {
    do {
      uint32_t type = 0;
      Bytes data;
      HKEY k = nullptr;
      failures += RegOpenKeyEx(HKEY_CURRENT_USER, kSensor, KEY_READ, &k) != ERROR_SUCCESS;
      failures += RegQueryValueCopy(k, u"shared", &type, data) != ERROR_SUCCESS;
      check(type, data);
      RegCloseKey(k);
    } while (!stop);
  });
  others.emplace_back([&] {
    HKEY k = nullptr;
    RegOpenKeyEx(HKEY_CURRENT_USER, kSensor, KEY_READ, &k);
    do {
      uint32_t type = 0, size = 0;
      failures += RegQueryValueEx(k, u"shared", &type, nullptr, &size) != ERROR_SUCCESS;
      Bytes data(size);
      long rc = RegQueryValueEx(k, u"shared", &type, data.data(), &size);
      if (rc == ERROR_MORE_DATA) continue;
      failures += rc != ERROR_SUCCESS;
      data.resize(size);
      check(type, data);
    } while (!stop);
    RegCloseKey(k);
  });
  others.emplace_back([&] {
    while (!stop) {
      WaitForSingleObject(any, 0);
      CeFindNextRegChange(any);
      ShellReadDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi");
    }
  });
  for (auto& t : writers) t.join();
  stop = true;
  for (auto& t : others) t.join();
  CeFindCloseRegChange(any);

  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GT(reads.load(), 0);
  EXPECT_GT(observed.load(), 0);
  if (persisted) {
    std::string dump = DumpRegistry(HKEY_CURRENT_USER, false);
    UseFolder();
    EXPECT_EQ(DumpRegistry(HKEY_CURRENT_USER, false), dump) << "the file holds the last state, whole";
  }
}

TEST_F(RegistryNotify, ConcurrentReadersAndWritersInMemory) { Hammer(false, 2000); }

TEST_F(RegistryNotify, ConcurrentReadersAndWritersWithSaves) {
  UseFolder();
  Hammer(true, 15);
}

}  // namespace
