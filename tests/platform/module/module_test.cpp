#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/base/Errors.h"
#include "platform/fs/FileSystem.h"
#include "platform/module/Module.h"
#include "platform/module/PackFormat.h"
#include "tools/qrespack/PackWriter.h"

namespace {

namespace fs = std::filesystem;
namespace pack = plat::pack;
using plat::ModuleHandle;

std::vector<uint8_t> Bytes(const qrespack::PackWriter& w) {
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_TRUE(w.Serialize(out, error)) << error;
  return out;
}

// Packs are written into the program folder, which the device sees as
// "\Program Files\Quorel".
class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/module-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_root = pattern;
    fs::create_directories(m_root / "program");
    plat::FileSystemConfig config;
    config.deviceRoot = m_root / "device";
    config.programFolder = m_root / "program";
    ASSERT_TRUE(plat::ConfigureFileSystem(config));
  }
  void TearDown() override {
    for (ModuleHandle h : m_loaded)
      while (plat::FreeLibrary(h)) {
      }
    plat::SetMainModule(nullptr);
    fs::remove_all(m_root);
  }

  void WritePack(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(m_root / "program" / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  ModuleHandle Load(const std::u16string& name) {
    ModuleHandle h = plat::LoadLibrary(u"\\Program Files\\Quorel\\" + name);
    if (h) m_loaded.push_back(h);
    return h;
  }

  // A pack with one of everything.
  static qrespack::PackWriter Sample() {
    qrespack::PackWriter w;
    std::string error;
    w.AddString(1, u"Quorel", "t", error);
    w.AddString(2, u"QuorelMainWnd", "t", error);
    w.AddString(3, u"", "t", error);
    w.AddString(4, std::u16string(u"a\0b", 3), "t", error);
    w.AddString(5, u"ab\U0001F3B5", "t", error);
    w.AddMenu(102, {{40000, u"Left"}, {40001, u""}}, "t", error);
    w.AddAccelerators(2, {}, "t", error);
    w.AddAccelerators(3, {{plat::FVIRTKEY | plat::FCONTROL, 'A', 100}, {plat::FVIRTKEY, 0x70, 40000}}, "t",
                      error);
    w.AddRaw({plat::RT_RCDATA, {}}, 138, {0x89, 'P', 'N', 'G'}, "t", error);
    w.AddRaw({0, u"IIMAGE"}, 545, {1, 2, 3}, "t", error);
    w.AddRaw({0, u"IIMAGE"}, 138, {9}, "t", error);
    return w;
  }

  fs::path m_root;
  std::vector<ModuleHandle> m_loaded;
};

// --- strings ---------------------------------------------------------------

TEST_F(ModuleTest, ZeroBufferFormViewsTheCountedText) {
  WritePack("a.res", Bytes(Sample()));
  ModuleHandle m = Load(u"a.res");
  ASSERT_NE(m, nullptr) << plat::GetLastError();

  auto title = plat::LoadStringRef(m, 1);
  ASSERT_TRUE(title);
  EXPECT_EQ(*title, u"Quorel");
  // Only the count and the units are stored: no terminator follows the text.
  auto raw = plat::FindResource(m, plat::RT_STRING, 1);
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->size(), 2 + 2 * title->size());
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(title->data()), raw->data() + 2);

  auto empty = plat::LoadStringRef(m, 3);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
  auto withNul = plat::LoadStringRef(m, 4);
  ASSERT_TRUE(withNul);
  EXPECT_EQ(*withNul, std::u16string_view(u"a\0b", 3));

  plat::SetLastError(0);
  EXPECT_FALSE(plat::LoadStringRef(m, 6));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_FALSE(plat::LoadStringRef(m, 102));  // a menu id is not a string id
}

TEST_F(ModuleTest, CopyFormTruncatesAndTerminates) {
  WritePack("a.res", Bytes(Sample()));
  ModuleHandle m = Load(u"a.res");
  ASSERT_NE(m, nullptr);
  struct Case {
    uint16_t id;
    int cap;
    int copied;
    std::u16string text;
  };
  const Case cases[] = {
      {2, 101, 13, u"QuorelMainWnd"},  // room to spare
      {2, 14, 13, u"QuorelMainWnd"},   // exactly the text and its terminator
      {2, 13, 12, u"QuorelMainWn"},    // one short: cut, still terminated
      {2, 2, 1, u"Q"},
      {2, 1, 0, u""},                  // room for the terminator only
      {3, 10, 0, u""},                 // an empty string
      {5, 4, 2, u"ab"},                // never half a surrogate pair
      {5, 5, 4, u"ab\U0001F3B5"},
      {9, 10, 0, u""},                 // absent
  };
  for (const Case& c : cases) {
    std::u16string buf(128, u'#');
    EXPECT_EQ(plat::LoadString(m, c.id, buf.data(), c.cap), c.copied) << c.id << "/" << c.cap;
    EXPECT_EQ(std::u16string(buf.c_str()), c.text) << c.id << "/" << c.cap;
    EXPECT_EQ(buf[c.cap], u'#') << "wrote past the buffer: " << c.id << "/" << c.cap;
  }
  plat::WChar one = u'#';
  EXPECT_EQ(plat::LoadString(m, 1, &one, 0), 0);
  EXPECT_EQ(one, u'#');
  EXPECT_EQ(plat::LoadString(m, 1, nullptr, 10), 0);
}

// --- typed lookups ---------------------------------------------------------

TEST_F(ModuleTest, FindsRawResourcesByNumberOrName) {
  WritePack("a.res", Bytes(Sample()));
  ModuleHandle m = Load(u"a.res");
  ASSERT_NE(m, nullptr);

  auto png = plat::FindResource(m, plat::RT_RCDATA, 138);
  ASSERT_TRUE(png);
  EXPECT_EQ(std::vector<uint8_t>(png->begin(), png->end()), (std::vector<uint8_t>{0x89, 'P', 'N', 'G'}));
  for (const char16_t* name : {u"IIMAGE", u"iimage", u"IImage"}) {
    auto image = plat::FindResource(m, name, 545);
    ASSERT_TRUE(image) << plat::ToUtf8(name);
    EXPECT_EQ(std::vector<uint8_t>(image->begin(), image->end()), (std::vector<uint8_t>{1, 2, 3}));
  }
  // The same id under another type is another resource.
  auto other = plat::FindResource(m, u"IIMAGE", 138);
  ASSERT_TRUE(other);
  EXPECT_EQ(other->size(), 1u);

  plat::SetLastError(0);
  EXPECT_FALSE(plat::FindResource(m, plat::RT_RCDATA, 545));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_RESOURCE_NAME_NOT_FOUND);
  EXPECT_FALSE(plat::FindResource(m, u"PNG", 545));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_RESOURCE_TYPE_NOT_FOUND);
  // The pack's internal encoding of named types is not reachable by number.
  EXPECT_FALSE(plat::FindResource(m, uint16_t{pack::kNamedTypeFlag}, 545));
  EXPECT_FALSE(plat::FindResource(m, static_cast<const char16_t*>(nullptr), 545));
}

TEST_F(ModuleTest, MenusAndAcceleratorTables) {
  WritePack("a.res", Bytes(Sample()));
  ModuleHandle m = Load(u"a.res");
  ASSERT_NE(m, nullptr);

  auto menu = plat::LoadMenu(m, 102);
  ASSERT_TRUE(menu);
  EXPECT_EQ(menu->items, (std::vector<plat::MenuItem>{{40000, u"Left"}, {40001, u""}}));
  EXPECT_FALSE(plat::LoadMenu(m, 103));

  auto empty = plat::LoadAccelerators(m, 2);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->entries.empty());
  auto keys = plat::LoadAccelerators(m, 3);
  ASSERT_TRUE(keys);
  EXPECT_EQ(keys->entries, (std::vector<plat::Accelerator>{{plat::FVIRTKEY | plat::FCONTROL, 'A', 100},
                                                           {plat::FVIRTKEY, 0x70, 40000}}));
  EXPECT_FALSE(plat::LoadAccelerators(m, 102));
}

// --- loading, sharing, freeing ---------------------------------------------

TEST_F(ModuleTest, LoadingIsCountedPerFileWhateverTheSpelling) {
  WritePack("Quorel.exe.0409.mui", Bytes(Sample()));
  ModuleHandle a = plat::LoadLibrary(u"\\Program Files\\Quorel\\Quorel.exe.0409.mui");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(plat::LoadLibrary(u"\\program files\\QUOREL\\quorel.exe.0409.MUI"), a);
  EXPECT_EQ(plat::LoadLibrary(u"Program Files\\Quorel\\\\Quorel.exe.0409.mui"), a);
  const plat::WChar* text = plat::LoadStringRef(a, 1)->data();

  // Three references: the first two frees keep the module and its memory.
  EXPECT_TRUE(plat::FreeLibrary(a));
  EXPECT_TRUE(plat::FreeLibrary(a));
  auto still = plat::LoadStringRef(a, 1);
  ASSERT_TRUE(still);
  EXPECT_EQ(still->data(), text);
  EXPECT_EQ(*still, u"Quorel");

  EXPECT_TRUE(plat::FreeLibrary(a));
  plat::SetLastError(0);
  EXPECT_FALSE(plat::LoadStringRef(a, 1));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_HANDLE);
  EXPECT_FALSE(plat::FreeLibrary(a));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_HANDLE);
  EXPECT_FALSE(plat::FreeLibrary(nullptr));

  // Loading again gives a fresh handle; the old one stays dead.
  ModuleHandle b = Load(u"Quorel.exe.0409.mui");
  ASSERT_NE(b, nullptr);
  EXPECT_NE(b, a);
  EXPECT_FALSE(plat::FindResource(a, plat::RT_STRING, 1));
  EXPECT_TRUE(plat::FindResource(b, plat::RT_STRING, 1));
}

TEST_F(ModuleTest, MissingFilesAndTheMainModule) {
  plat::SetLastError(0);
  EXPECT_EQ(plat::LoadLibrary(u"\\Program Files\\Quorel\\Quorel.exe.0407.mui"), nullptr);
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(plat::LoadLibrary(u""), nullptr);

  // Lookups without a module go to the main module, once there is one.
  EXPECT_EQ(plat::MainModule(), nullptr);
  EXPECT_FALSE(plat::LoadStringRef(nullptr, 1));
  EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_HANDLE);
  WritePack("Quorel.res", Bytes(Sample()));
  ModuleHandle main = Load(u"Quorel.res");
  ASSERT_NE(main, nullptr);
  plat::SetMainModule(main);
  EXPECT_EQ(plat::MainModule(), main);
  plat::WChar title[101];
  EXPECT_EQ(plat::LoadString(nullptr, 1, title, 101), 6);
  EXPECT_EQ(std::u16string(title), u"Quorel");

  // Freeing it for good unregisters it rather than leaving a dangling main.
  EXPECT_TRUE(plat::FreeLibrary(main));
  EXPECT_EQ(plat::MainModule(), nullptr);
  EXPECT_FALSE(plat::LoadStringRef(nullptr, 1));
}

TEST_F(ModuleTest, ConcurrentLoadsAndFreesShareOneModule) {
  WritePack("a.res", Bytes(Sample()));
  ModuleHandle keep = Load(u"a.res");
  ASSERT_NE(keep, nullptr);
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        ModuleHandle h = plat::LoadLibrary(u"\\Program Files\\Quorel\\a.res");
        auto text = plat::LoadStringRef(h, 2);
        if (h != keep || !text || *text != u"QuorelMainWnd" || !plat::FreeLibrary(h)) ++bad;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_TRUE(plat::FreeLibrary(keep));
  m_loaded.clear();
  EXPECT_FALSE(plat::FindResource(keep, plat::RT_STRING, 2));
}

// --- damaged packs ---------------------------------------------------------

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
size_t EntryAt(size_t i) { return pack::kHeaderSize + i * pack::kEntrySize; }

// The entry index of a resource in a serialised pack.
size_t FindEntry(const std::vector<uint8_t>& b, uint16_t type, uint16_t id) {
  const uint32_t count = pack::ReadU32(&b[8]);
  for (size_t i = 0; i < count; ++i)
    if (pack::ReadU16(&b[EntryAt(i)]) == type && pack::ReadU16(&b[EntryAt(i) + 2]) == id) return i;
  ADD_FAILURE() << "no entry " << type << "/" << id;
  return 0;
}

TEST_F(ModuleTest, EveryTruncationIsRejectedCleanly) {
  const std::vector<uint8_t> whole = Bytes(Sample());
  // The last payload is never empty, so every cut loses something.
  for (size_t size = 0; size < whole.size(); ++size) {
    const std::u16string name = u"cut" + plat::Widen(std::to_string(size)) + u".res";
    WritePack(plat::ToUtf8(name), std::vector<uint8_t>(whole.begin(), whole.begin() + size));
    plat::SetLastError(0);
    EXPECT_EQ(Load(name), nullptr) << size;
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_BAD_FORMAT) << size;
  }
  WritePack("whole.res", whole);
  EXPECT_NE(Load(u"whole.res"), nullptr);
}

TEST_F(ModuleTest, CorruptHeadersEntriesAndPayloadsAreRejected) {
  const std::vector<uint8_t> good = Bytes(Sample());
  const size_t string1 = FindEntry(good, pack::kTypeString, 1);
  const size_t menu = FindEntry(good, pack::kTypeMenu, 102);
  const size_t accel = FindEntry(good, pack::kTypeAccelerator, 3);
  const size_t raw = FindEntry(good, pack::kTypeRcData, 138);
  const uint32_t string1Offset = pack::ReadU32(&good[EntryAt(string1) + 4]);
  const uint32_t menuOffset = pack::ReadU32(&good[EntryAt(menu) + 4]);
  const uint32_t entryCount = pack::ReadU32(&good[8]);

  struct Damage {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> apply;
  };
  const Damage damages[] = {
      {"magic", [](auto& b) { b[0] = 'X'; }},
      {"version", [](auto& b) { Put16(b, 4, 2); }},
      {"entry count past the end", [](auto& b) { Put32(b, 8, 0xFFFFFFFF); }},
      {"entry count one too many", [&](auto& b) { Put32(b, 8, entryCount + 1000); }},
      {"more type names than stored", [](auto& b) { Put16(b, 6, 0x7FFF); }},
      {"payload past the end", [&](auto& b) { Put32(b, EntryAt(raw) + 8, 0x1000000); }},
      {"offset past the end", [&](auto& b) { Put32(b, EntryAt(raw) + 4, 0xFFFFFFF0); }},
      {"offset plus size wraps", [&](auto& b) {
         Put32(b, EntryAt(raw) + 4, 0xFFFFFFF0);
         Put32(b, EntryAt(raw) + 8, 0x20);
       }},
      {"payload inside the entry table", [&](auto& b) { Put32(b, EntryAt(raw) + 4, 0); }},
      {"type zero", [&](auto& b) { Put16(b, EntryAt(raw), 0); }},
      {"type name index out of range", [&](auto& b) { Put16(b, EntryAt(raw), pack::kNamedTypeFlag | 7); }},
      {"duplicate resource", [&](auto& b) { Put16(b, EntryAt(string1) + 2, 2); }},
      {"string count longer than its payload", [&](auto& b) { Put16(b, string1Offset, 200); }},
      {"string count shorter than its payload", [&](auto& b) { Put16(b, string1Offset, 1); }},
      {"string at an odd offset", [&](auto& b) {
         Put32(b, EntryAt(string1) + 4, string1Offset + 1);
         Put32(b, EntryAt(string1) + 8, 2);
       }},
      {"string payload too small for its count", [&](auto& b) { Put32(b, EntryAt(string1) + 8, 1); }},
      {"menu item text runs past the payload", [&](auto& b) { Put16(b, menuOffset + 4, 900); }},
      {"menu claims more items", [&](auto& b) { Put16(b, menuOffset, 3); }},
      {"menu claims fewer items", [&](auto& b) { Put16(b, menuOffset, 1); }},
      {"accelerator count mismatch", [&](auto& b) {
         Put16(b, pack::ReadU32(&b[EntryAt(accel) + 4]), 9);
       }},
  };
  int n = 0;
  for (const Damage& d : damages) {
    std::vector<uint8_t> bytes = good;
    d.apply(bytes);
    const std::u16string name = u"bad" + plat::Widen(std::to_string(n++)) + u".res";
    WritePack(plat::ToUtf8(name), bytes);
    plat::SetLastError(0);
    EXPECT_EQ(Load(name), nullptr) << d.what;
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_BAD_FORMAT) << d.what;
  }
}

TEST_F(ModuleTest, TypeNameTableDamage) {
  qrespack::PackWriter w;
  std::string error;
  w.AddRaw({0, u"ABCDEF"}, 1, {1}, "t", error);
  w.AddRaw({0, u"IIMAGE"}, 1, {2}, "t", error);
  const std::vector<uint8_t> good = Bytes(w);
  const size_t first = EntryAt(2);  // the names follow the two entries
  const size_t second = first + 2 + 12;
  ASSERT_EQ(pack::ReadU16(&good[first]), 6);
  ASSERT_EQ(pack::ReadU16(&good[second]), 6);

  std::vector<uint8_t> emptyName = good;
  Put16(emptyName, first, 0);
  std::vector<uint8_t> longName = good;
  Put16(longName, second, 0xFFFF);
  // Two names that differ only in case would make a lookup by name ambiguous.
  std::vector<uint8_t> twinNames = good;
  const std::u16string twin = u"iimage";
  for (size_t i = 0; i < twin.size(); ++i) Put16(twinNames, first + 2 + 2 * i, twin[i]);

  WritePack("empty.res", emptyName);
  WritePack("long.res", longName);
  WritePack("twin.res", twinNames);
  WritePack("good.res", good);
  for (const std::u16string name : {u"empty.res", u"long.res", u"twin.res"}) {
    plat::SetLastError(0);
    EXPECT_EQ(Load(name), nullptr);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_BAD_FORMAT);
  }
  ModuleHandle m = Load(u"good.res");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(plat::FindResource(m, u"iimage", 1)->front(), 2);
  EXPECT_EQ(plat::FindResource(m, u"abcdef", 1)->front(), 1);
}

}  // namespace
