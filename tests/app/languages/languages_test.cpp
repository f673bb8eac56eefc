// The shipped language modules: complete, consistent and free of format
// characters. The modules are the ones the build packed; the table of string
// resources is the translators' notes file the packer checked them against.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/base/Strings.h"
#include "platform/fs/FileSystem.h"
#include "platform/module/Module.h"

namespace {

namespace fs = std::filesystem;

// The interface languages in the program's table order, with their files.
struct Language {
  const char* code;
  const char16_t* file;
};
constexpr Language kLanguages[] = {
    {"EN", u"Quorel.exe.0409.mui"},    {"FR", u"Quorel.exe.040c.mui"},    {"IT", u"Quorel.exe.0410.mui"},
    {"DE", u"Quorel.exe.0407.mui"},    {"RU", u"Quorel.exe.0419.mui"},    {"NO", u"Quorel.exe.0414.mui"},
    {"NE", u"Quorel.exe.0413.mui"},    {"CS", u"Quorel.exe.0405.mui"},    {"EL", u"Quorel.exe.0408.mui"},
    {"SP", u"Quorel.exe.0c0a.mui"},    {"PT", u"Quorel.exe.0816.mui"},    {"FI", u"Quorel.exe.040b.mui"},
    {"DA", u"Quorel.exe.0406.mui"},    {"PL", u"Quorel.exe.0415.mui"},    {"SW", u"Quorel.exe.041d.mui"},
    {"pt_BR", u"Quorel.exe.0416.mui"}, {"CHI_S", u"Quorel.exe.0804.mui"}, {"CHI_T", u"Quorel.exe.0404.mui"},
    {"KO", u"Quorel.exe.0412.mui"},    {"TR", u"Quorel.exe.041f.mui"},    {"AR", u"Quorel.exe.0c01.mui"},
    {"CA", u"Quorel.exe.0403.mui"},
};
constexpr size_t kCount = std::size(kLanguages);

// The search-language codes: one run of resource ids, sent to the server as
// they stand.
constexpr uint16_t kFirstCode = 239;
constexpr uint16_t kLastCode = 280;

struct Resource {
  std::string kind;
  int guide = 0;  // most characters that fit; 0 when the text wraps or is a code
};

std::map<uint16_t, Resource> ReadTable() {
  std::map<uint16_t, Resource> table;
  std::ifstream in(QUOREL_LANGUAGE_TABLE);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() < 4) {
      ADD_FAILURE() << "short table row: " << line;
      continue;
    }
    Resource& r = table[static_cast<uint16_t>(std::stoi(fields[0]))];
    r.kind = fields[2];
    if (!fields[3].empty() && fields[3].find_first_not_of("0123456789") == std::string::npos)
      r.guide = std::stoi(fields[3]);
  }
  return table;
}

// Width in Latin-character cells: East Asian ideographs, kana and Hangul take
// about two, so a Chinese title of nine characters is as wide as an English
// one of eighteen.
int Cells(plat::WStringView text) {
  int cells = 0;
  for (size_t i = 0; i < text.size();) {
    const char32_t c = plat::NextCodePoint(text, i);
    const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                      (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60);
    cells += wide ? 2 : 1;
  }
  return cells;
}

class ShippedLanguages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/languages-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    s_root = pattern;
    // The build folder is the program folder, mounted read-only.
    plat::FileSystemConfig config;
    config.deviceRoot = s_root / "device";
    config.programFolder = QUOREL_PACK_DIR;
    ASSERT_TRUE(plat::ConfigureFileSystem(config));
    for (size_t i = 0; i < kCount; ++i) {
      s_modules[i] = plat::LoadLibrary(plat::WString(u"\\Program Files\\Quorel\\") + kLanguages[i].file);
      s_loadErrors[i] = s_modules[i] ? 0 : plat::GetLastError();
    }
    s_table = ReadTable();
  }
  static void TearDownTestSuite() {
    for (plat::ModuleHandle& m : s_modules)
      if (m) plat::FreeLibrary(m);
    s_modules = {};
    fs::remove_all(s_root);
  }

  static std::string Name(size_t i) { return plat::ToUtf8(kLanguages[i].file); }

  static fs::path s_root;
  static std::array<plat::ModuleHandle, kCount> s_modules;
  static std::array<uint32_t, kCount> s_loadErrors;
  static std::map<uint16_t, Resource> s_table;
};

fs::path ShippedLanguages::s_root;
std::array<plat::ModuleHandle, kCount> ShippedLanguages::s_modules;
std::array<uint32_t, kCount> ShippedLanguages::s_loadErrors;
std::map<uint16_t, Resource> ShippedLanguages::s_table;

TEST_F(ShippedLanguages, TheTableMatchesTheProgramsStringIds) {
  // 225 localised UI ids use 224 resources (two ids share one); 49 of the
  // ids are shown nowhere, and the 42 codes form one run.
  ASSERT_EQ(s_table.size(), 224u);
  std::set<uint16_t> codes;
  size_t unused = 0;
  for (const auto& [id, r] : s_table) {
    EXPECT_TRUE(id >= 105 && id <= 336) << id;
    if (r.kind == "unused") ++unused;
    if (r.kind == "code") codes.insert(id);
    if (r.kind != "unused" && r.kind != "code" && r.kind != "paragraph") {
      EXPECT_GT(r.guide, 0) << "resource " << id << " (" << r.kind << ") has no length guide";
    }
  }
  EXPECT_EQ(unused, 49u);
  ASSERT_EQ(codes.size(), 42u);
  EXPECT_EQ(*codes.begin(), kFirstCode);
  EXPECT_EQ(*codes.rbegin(), kLastCode);
  for (uint16_t id : {139, 158, 159, 160, 161, 162, 181, 322}) EXPECT_FALSE(s_table.count(id)) << id;
}

TEST_F(ShippedLanguages, EveryModuleLoadsAndShowsEveryUsedText) {
  for (size_t i = 0; i < kCount; ++i) {
    ASSERT_NE(s_modules[i], nullptr) << Name(i) << " did not load: error " << s_loadErrors[i];
    for (const auto& [id, r] : s_table) {
      if (r.kind == "unused") continue;
      const auto text = plat::LoadStringRef(s_modules[i], id);
      // English is the master; the others were completed from it when packed.
      ASSERT_TRUE(text) << Name(i) << " lacks string " << id;
      EXPECT_FALSE(text->empty()) << Name(i) << " has an empty string " << id;
    }
  }
}

TEST_F(ShippedLanguages, NoModuleCarriesAStringOutsideTheTable) {
  for (size_t i = 0; i < kCount; ++i) {
    ASSERT_NE(s_modules[i], nullptr) << Name(i);
    for (uint32_t id = 0; id <= 0xFFFF; ++id) {
      if (!s_table.count(static_cast<uint16_t>(id))) {
        EXPECT_FALSE(plat::LoadStringRef(s_modules[i], static_cast<uint16_t>(id))) << Name(i) << " " << id;
      }
    }
  }
}

TEST_F(ShippedLanguages, SearchCodesAreTheSameProtocolValuesInEveryModule) {
  ASSERT_NE(s_modules[0], nullptr);
  std::set<plat::WString> distinct;
  for (uint16_t id = kFirstCode; id <= kLastCode; ++id) {
    const auto english = plat::LoadStringRef(s_modules[0], id);
    ASSERT_TRUE(english) << id;
    // The server takes lower-case ASCII codes; each names one language.
    EXPECT_TRUE(english->size() >= 2 && english->size() <= 3) << id;
    for (char16_t c : *english) EXPECT_TRUE(c >= u'a' && c <= u'z') << id;
    EXPECT_TRUE(distinct.insert(plat::WString(*english)).second) << "code " << id << " repeats";
    for (size_t i = 1; i < kCount; ++i) {
      ASSERT_NE(s_modules[i], nullptr) << Name(i);
      const auto text = plat::LoadStringRef(s_modules[i], id);
      ASSERT_TRUE(text) << Name(i) << " " << id;
      EXPECT_EQ(*text, *english) << Name(i) << " changes code " << id;
    }
  }
  // The first pair is sent with every search: it asks for no language filter.
  EXPECT_EQ(plat::LoadStringRef(s_modules[0], kFirstCode), plat::WStringView(u"all"));
}

TEST_F(ShippedLanguages, NoTextHoldsAFormatCharacter) {
  // Nothing is formatted into the texts; a '%' would show as it stands.
  for (size_t i = 0; i < kCount; ++i) {
    ASSERT_NE(s_modules[i], nullptr) << Name(i);
    for (const auto& [id, r] : s_table) {
      if (auto text = plat::LoadStringRef(s_modules[i], id)) {
        EXPECT_EQ(text->find(u'%'), plat::WStringView::npos) << Name(i) << " string " << id;
      }
    }
  }
}

TEST_F(ShippedLanguages, TextsFarOverTheirLengthGuideAreListed) {
  // Warnings, not failures: a long text scrolls or is cut, and whether it
  // reads well is the translator's call. A text has room for half again its
  // guide before it is listed.
  int listed = 0;
  for (size_t i = 0; i < kCount; ++i) {
    ASSERT_NE(s_modules[i], nullptr) << Name(i);
    for (const auto& [id, r] : s_table) {
      if (r.guide == 0) continue;
      const auto text = plat::LoadStringRef(s_modules[i], id);
      if (!text || Cells(*text) * 2 <= r.guide * 3) continue;
      std::cout << "warning: " << Name(i) << ": string " << id << " (" << r.kind << ", guide " << r.guide
                << ") is " << Cells(*text) << " wide: " << plat::ToUtf8(*text) << "\n";
      ++listed;
    }
  }
  RecordProperty("over_length_guide", listed);
}

}  // namespace
