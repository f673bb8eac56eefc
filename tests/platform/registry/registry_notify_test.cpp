// Change notifications, value observers, and the registry under several
// threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RegistryTestUtil.h"
#include "platform/base/Errors.h"
#include "platform/kernel/Kernel.h"
#include "platform/registry/Registry.h"

using namespace plat;
using rt::Bytes;
using rt::Utf16Bytes;

namespace {

// Bounds every wait that a fault could leave hanging; never reached when the
// code works.
constexpr uint32_t kSafetyMs = 20000;

struct HandleGuard {
  Handle h;
  explicit HandleGuard(Handle handle) : h(handle) {}
  ~HandleGuard() {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  operator Handle() const { return h; }
};

class RegistryNotify : public rt::RegistryTest {
 protected:
  uint32_t Poll(std::initializer_list<Handle> handles) {
    std::vector<Handle> list(handles);
    return WaitForMultipleObjects(list, 0);
  }
  void HammerSharedValue(bool persisted, int rounds);
};

TEST_F(RegistryNotify, NotificationWakesAMultiHandleWaitAndStaysSetUntilRearmed) {
  HKEY hw = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", 0, &hw), ERROR_SUCCESS);
  HandleGuard command(CreateEvent(false, false));
  Handle wifi = CeFindFirstRegChange(hw, false, REG_NOTIFY_CHANGE_LAST_SET);
  ASSERT_NE(wifi, INVALID_HANDLE_VALUE);
  HandleGuard standIn(CreateStandInRegChange());

  EXPECT_EQ(Poll({command, wifi, standIn}), WAIT_TIMEOUT);
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0x10), ERROR_SUCCESS);
  EXPECT_EQ(Poll({command, wifi, standIn}), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(Poll({command, wifi, standIn}), WAIT_OBJECT_0 + 1) << "manual reset: a wait does not consume it";
  // The lowest signalled index wins, and only the auto-reset event is consumed.
  SetEvent(command);
  EXPECT_EQ(Poll({command, wifi}), WAIT_OBJECT_0);
  EXPECT_EQ(Poll({command, wifi}), WAIT_OBJECT_0 + 1);

  EXPECT_TRUE(CeFindNextRegChange(wifi));
  EXPECT_EQ(Poll({command, wifi}), WAIT_TIMEOUT);
  // Re-armed, it fires again: a set of the same value counts, as does a delete.
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 0x10), ERROR_SUCCESS);
  EXPECT_EQ(Poll({command, wifi}), WAIT_OBJECT_0 + 1);
  CeFindNextRegChange(wifi);
  ASSERT_EQ(RegDeleteValue(hw, u"wifi"), ERROR_SUCCESS);
  EXPECT_EQ(Poll({command, wifi}), WAIT_OBJECT_0 + 1);
  CeFindNextRegChange(wifi);

  // Changes it does not cover leave it alone: a failed change, another key, a
  // sub-key (not watched with subtree), the other hive, a read.
  EXPECT_EQ(RegDeleteValue(hw, u"wifi"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueEx(hw, u"bad\nname", REG_DWORD, Bytes({0, 0, 0, 0}).data(), 4), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State", u"x", 1), ERROR_SUCCESS);
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware\\Sub", u"x", 1), ERROR_SUCCESS);
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"System\\State\\Hardware", u"Wifi", 1), ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi"), std::nullopt);
  EXPECT_EQ(Poll({wifi}), WAIT_TIMEOUT);

  // The stand-in never fired through all of that, and takes the same calls.
  EXPECT_EQ(Poll({standIn}), WAIT_TIMEOUT);
  EXPECT_TRUE(CeFindNextRegChange(standIn));
  EXPECT_TRUE(CeFindCloseRegChange(standIn));
  standIn.h = nullptr;

  // Closed, it is gone, and later changes are harmless.
  EXPECT_TRUE(CeFindCloseRegChange(wifi));
  EXPECT_FALSE(CeFindCloseRegChange(wifi));
  ASSERT_EQ(WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", 2), ERROR_SUCCESS);
  RegCloseKey(hw);
}

TEST_F(RegistryNotify, SubtreeFilterAndBadArguments) {
  HKEY top = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"\\ControlPanel", 0, &top), ERROR_SUCCESS);
  HandleGuard tree(CeFindFirstRegChange(top, true, REG_NOTIFY_CHANGE_LAST_SET));
  HandleGuard names(CeFindFirstRegChange(top, true, REG_NOTIFY_CHANGE_NAME));
  HandleGuard direct(CeFindFirstRegChange(top, false, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET));
  for (Handle h : {tree.h, names.h, direct.h}) ASSERT_NE(h, INVALID_HANDLE_VALUE);

  // A new key two levels down: a name change below the key, not a value set.
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"controlpanel\\MotionSensor\\Deeper", u"SlideState", 1), ERROR_SUCCESS);
  EXPECT_EQ(Poll({names}), WAIT_OBJECT_0);
  EXPECT_EQ(Poll({direct}), WAIT_OBJECT_0) << "a direct sub-key was created";
  EXPECT_EQ(Poll({tree}), WAIT_OBJECT_0) << "the value set below counts for the subtree";
  for (Handle h : {tree.h, names.h, direct.h}) CeFindNextRegChange(h);

  // A value set deep below: only the subtree watch on values.
  ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor\\Deeper", u"SlideState", 0), ERROR_SUCCESS);
  EXPECT_EQ(Poll({tree}), WAIT_OBJECT_0);
  EXPECT_EQ(Poll({names, direct}), WAIT_TIMEOUT);
  CeFindNextRegChange(tree);
  // Opening an existing key changes nothing.
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor", 0, &k), ERROR_SUCCESS);
  EXPECT_EQ(Poll({tree, names, direct}), WAIT_TIMEOUT);

  SetLastError(0);
  EXPECT_EQ(CeFindFirstRegChange(top, false, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(CeFindFirstRegChange(top, false, 0x100), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  RegCloseKey(k);
  RegCloseKey(top);
  EXPECT_EQ(CeFindFirstRegChange(top, false, REG_NOTIFY_CHANGE_LAST_SET), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // Closed behind the registry's back: the next change just drops it.
  Handle loose = CeFindFirstRegChange(HKEY_CURRENT_USER, true, REG_NOTIFY_CHANGE_LAST_SET);
  ASSERT_TRUE(CloseHandle(loose));
  EXPECT_EQ(WriteDword(HKEY_CURRENT_USER, u"a", u"b", 1), ERROR_SUCCESS);
}

TEST_F(RegistryNotify, AFailedSaveSignalsNothing) {
  UseFolder();
  HandleGuard all(CeFindFirstRegChange(HKEY_CURRENT_USER, true, REG_NOTIFY_CHANGE_LAST_SET));
  int calls = 0;
  RegisterValueObserver(HKEY_CURRENT_USER, u"k", u"v", [&] { ++calls; });
  SetRegistrySaveHookForTests([](RegistrySaveStep) -> uint32_t { return ERROR_ACCESS_DENIED; });
  EXPECT_EQ(WriteDword(HKEY_CURRENT_USER, u"k", u"v", 1), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Poll({all}), WAIT_TIMEOUT);
  EXPECT_EQ(calls, 0);
}

TEST_F(RegistryNotify, ObserversSeeRealChangesOfTheirValueOnly) {
  std::vector<std::string> log;
  RegObserverId slide = RegisterValueObserver(HKEY_CURRENT_USER, u"\\ControlPanel\\MotionSensor", u"SlideState",
                                              [&] { log.push_back("slide"); });
  RegObserverId dflt = RegisterValueObserver(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor", u"",
                                             [&] { log.push_back("default"); });
  ASSERT_NE(slide, 0u);
  ASSERT_NE(dflt, 0u);
  EXPECT_NE(slide, dflt);
  EXPECT_EQ(RegisterValueObserver(HKEY_CURRENT_USER, u"a\\\\b", u"v", [] {}), 0u);
  EXPECT_EQ(RegisterValueObserver(reinterpret_cast<HKEY>(0x1234), u"a", u"v", [] {}), 0u);
  EXPECT_EQ(RegisterValueObserver(HKEY_CURRENT_USER, u"a", u"v", nullptr), 0u);

  const WStringView key = u"ControlPanel\\MotionSensor";
  WriteDword(HKEY_CURRENT_USER, u"controlpanel\\motionsensor", u"slidestate", 1);  // key made on the way
  WriteDword(HKEY_CURRENT_USER, key, u"SlideState", 1);                            // same bytes: no change
  WriteBinary(HKEY_CURRENT_USER, key, u"SlideState", Bytes({1, 0, 0, 0}));         // same bytes, new type
  WriteDword(HKEY_CURRENT_USER, key, u"Other", 1);
  WriteDword(HKEY_LOCAL_MACHINE, key, u"SlideState", 5);
  WriteDword(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor\\Sub", u"SlideState", 5);
  WriteString(HKEY_CURRENT_USER, key, u"", u"x");
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, key, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  RegDeleteValue(k, u"SLIDESTATE");
  EXPECT_EQ(log, (std::vector<std::string>{"slide", "slide", "default", "slide"}));

  EXPECT_TRUE(UnregisterValueObserver(slide));
  EXPECT_FALSE(UnregisterValueObserver(slide));
  WriteDword(HKEY_CURRENT_USER, key, u"SlideState", 9);
  EXPECT_EQ(log.size(), 4u);

  // A callback runs outside the registry's lock: it may read, write and
  // unregister itself.
  RegObserverId self = 0;
  std::optional<uint32_t> seen;
  self = RegisterValueObserver(HKEY_CURRENT_USER, key, u"SlideState", [&] {
    seen = ReadDword(HKEY_CURRENT_USER, key, u"SlideState");
    WriteDword(HKEY_CURRENT_USER, key, u"Echo", *seen);
    UnregisterValueObserver(self);
  });
  WriteDword(HKEY_CURRENT_USER, key, u"SlideState", 0);
  EXPECT_EQ(seen, 0u);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, key, u"Echo"), 0u);
  WriteDword(HKEY_CURRENT_USER, key, u"SlideState", 1);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, key, u"Echo"), 0u) << "it unregistered itself";

  // A throwing observer neither breaks the write nor the others.
  RegisterValueObserver(HKEY_CURRENT_USER, key, u"t", [] { throw 1; });
  int after = 0;
  RegisterValueObserver(HKEY_CURRENT_USER, key, u"t", [&] { ++after; });
  EXPECT_EQ(WriteDword(HKEY_CURRENT_USER, key, u"t", 1), ERROR_SUCCESS);
  EXPECT_EQ(after, 1);
  EXPECT_EQ(CountLines({"observer threw"}), 1u);
  RegCloseKey(k);
}

// --- threads ---------------------------------------------------------------

TEST_F(RegistryNotify, WorkerWakesOnEachChangeAndRearms) {
  HKEY sensor = nullptr;
  ASSERT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, u"\\ControlPanel\\MotionSensor", 0, &sensor), ERROR_SUCCESS);
  Handle notification = CeFindFirstRegChange(sensor, false, REG_NOTIFY_CHANGE_LAST_SET);
  ASSERT_NE(notification, INVALID_HANDLE_VALUE);
  HandleGuard quit(CreateEvent(false, false));
  HandleGuard seen(CreateEvent(false, false));
  std::vector<uint32_t> values;  // written by the worker only until it ends

  Handle worker = CreateThread([&]() -> uint32_t {
    Handle list[] = {quit, notification};
    while (true) {
      uint32_t r = WaitForMultipleObjects(list, kSafetyMs);
      if (r == WAIT_OBJECT_0) return 0;
      if (r != WAIT_OBJECT_0 + 1) return 1;
      values.push_back(ShellReadDword(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor", u"SlideState"));
      CeFindNextRegChange(notification);
      SetEvent(seen);
    }
  });
  ASSERT_NE(worker, nullptr);
  for (uint32_t i = 1; i <= 20; ++i) {
    ASSERT_EQ(WriteDword(HKEY_CURRENT_USER, u"ControlPanel\\MotionSensor", u"SlideState", i), ERROR_SUCCESS);
    ASSERT_EQ(WaitForSingleObject(seen, kSafetyMs), WAIT_OBJECT_0) << i;
  }
  SetEvent(quit);
  ASSERT_EQ(WaitForSingleObject(worker, kSafetyMs), WAIT_OBJECT_0);
  uint32_t code = 99;
  GetExitCodeThread(worker, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(worker);
  std::vector<uint32_t> expected;
  for (uint32_t i = 1; i <= 20; ++i) expected.push_back(i);
  EXPECT_EQ(values, expected);
  EXPECT_TRUE(CeFindCloseRegChange(notification));
  RegCloseKey(sensor);
}

// Each writer stores strings made of one repeated letter, of varying length.
// A reader that ever sees two letters, a wrong length or a missing terminator
// has seen a torn value.
void RegistryNotify::HammerSharedValue(bool persisted, int rounds) {
  const WStringView key = u"SOFTWARE\\Orlamet\\Quorel";
  ASSERT_EQ(WriteString(HKEY_CURRENT_USER, key, u"shared", u"z"), ERROR_SUCCESS);
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0}, reads{0}, failures{0};
  HandleGuard any(CeFindFirstRegChange(HKEY_CURRENT_USER, true, REG_NOTIFY_CHANGE_LAST_SET));
  std::atomic<int> observed{0};
  RegisterValueObserver(HKEY_CURRENT_USER, key, u"shared", [&] { ++observed; });

  auto check = [&](uint32_t type, const std::vector<uint8_t>& data) {
    WString text = RegStringFromBytes(data);
    bool ok = type == REG_SZ && !text.empty() && data.size() == (text.size() + 1) * 2;
    for (char16_t c : text) ok = ok && c == text[0];
    if (!ok) ++torn;
    ++reads;
  };
  std::vector<std::thread> threads;
  for (int w = 0; w < 3; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < rounds; ++i) {
        WString text(static_cast<size_t>(1 + (i * 7 + w) % 40), static_cast<char16_t>(u'a' + w));
        if (WriteString(HKEY_CURRENT_USER, key, u"shared", text) != ERROR_SUCCESS) ++failures;
        if (WriteDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi", static_cast<uint32_t>(i)) !=
            ERROR_SUCCESS)
          ++failures;
      }
    });
  }
  // One reader reads in one locked step, one through the two-step protocol
  // (which must cope with the value growing in between), one opens and
  // closes keys and waits on notifications.
  threads.emplace_back([&] {
    HKEY k = nullptr;
    RegOpenKeyEx(HKEY_CURRENT_USER, key, KEY_READ, &k);
    while (!stop) {
      uint32_t type = 0;
      std::vector<uint8_t> data;
      if (RegQueryValueCopy(k, u"shared", &type, data) != ERROR_SUCCESS) ++failures;
      check(type, data);
    }
    RegCloseKey(k);
  });
  threads.emplace_back([&] {
    HKEY k = nullptr;
    RegOpenKeyEx(HKEY_CURRENT_USER, key, KEY_READ, &k);
    while (!stop) {
      uint32_t type = 0, size = 0;
      if (RegQueryValueEx(k, u"shared", &type, nullptr, &size) != ERROR_SUCCESS) ++failures;
      std::vector<uint8_t> data(size);
      long rc = RegQueryValueEx(k, u"shared", &type, data.data(), &size);
      if (rc == ERROR_MORE_DATA) continue;  // grew in between: the caller asks again
      if (rc != ERROR_SUCCESS) ++failures;
      data.resize(size);
      check(type, data);
    }
    RegCloseKey(k);
  });
  threads.emplace_back([&] {
    while (!stop) {
      HKEY k = nullptr;
      if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", 0, &k) != ERROR_SUCCESS) ++failures;
      WaitForSingleObject(any, 0);
      CeFindNextRegChange(any);
      ShellReadDword(HKEY_LOCAL_MACHINE, u"System\\State\\Hardware", u"Wifi");
      RegCloseKey(k);
    }
  });
  for (int w = 0; w < 3; ++w) threads[static_cast<size_t>(w)].join();
  stop = true;
  for (size_t i = 3; i < threads.size(); ++i) threads[i].join();

  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GT(reads.load(), 0);
  EXPECT_GT(observed.load(), 0);
  std::optional<WString> last = ReadString(HKEY_CURRENT_USER, key, u"shared");
  ASSERT_TRUE(last.has_value());
  if (persisted) {
    // What is on disk is the last value written, whole.
    std::string dump = DumpRegistry(HKEY_CURRENT_USER, false);
    UseFolder();
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, key, u"shared"), last);
    EXPECT_EQ(DumpRegistry(HKEY_CURRENT_USER, false), dump);
  }
}

TEST_F(RegistryNotify, ConcurrentReadersAndWritersInMemory) { HammerSharedValue(false, 2000); }

TEST_F(RegistryNotify, ConcurrentReadersAndWritersWithSaves) {
  UseFolder();
  HammerSharedValue(true, 15);
}

TEST_F(RegistryNotify, UnregisterWaitsForARunningCallbackAndStopsLaterOnes) {
  std::atomic<bool> inside{false}, release{false}, stop{false};
  std::atomic<int> calls{0};
  RegObserverId id = RegisterValueObserver(HKEY_CURRENT_USER, u"k", u"v", [&] {
    inside = true;
    while (!release) std::this_thread::yield();
    inside = false;
    ++calls;
  });
  std::thread writer([&] {
    for (uint32_t i = 1; !stop; ++i) WriteDword(HKEY_CURRENT_USER, u"k", u"v", i);
  });
  while (!inside) std::this_thread::yield();
  std::atomic<bool> unregistered{false};
  std::thread unregister([&] {
    UnregisterValueObserver(id);
    unregistered = true;
  });
  // The callback is still running; unregistering must not return before it
  // has. (Whether the other thread got that far is up to the scheduler, so a
  // fault shows up often rather than always; a pass is never wrong.)
  for (int i = 0; i < 1000; ++i) std::this_thread::yield();
  EXPECT_FALSE(unregistered.load());
  release = true;
  unregister.join();
  EXPECT_FALSE(inside.load());
  int atUnregister = calls.load();
  for (int i = 0; i < 50; ++i) WriteDword(HKEY_CURRENT_USER, u"k", u"v", 1000000u + static_cast<uint32_t>(i));
  stop = true;
  writer.join();
  EXPECT_EQ(calls.load(), atUnregister);
  EXPECT_GE(atUnregister, 1);
}

}  // namespace
