#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>

#include <sys/wait.h>

#include "platform/module/PackFormat.h"
#include "tools/qrespack/LanguageTable.h"
#include "tools/qrespack/Manifest.h"
#include "tools/qrespack/PackWriter.h"

namespace {

namespace fs = std::filesystem;
namespace pack = plat::pack;
using qrespack::Diagnostics;
using qrespack::PackWriter;
using ::testing::HasSubstr;

// What a serialised pack holds, read back with the layout header only.
struct Entry {
  uint16_t type;
  uint16_t id;
  std::vector<uint8_t> data;
  uint32_t offset;
};

std::vector<Entry> Entries(const std::vector<uint8_t>& bytes) {
  std::vector<Entry> out;
  const uint32_t count = pack::ReadU32(bytes.data() + 8);
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = bytes.data() + pack::kHeaderSize + i * pack::kEntrySize;
    const uint32_t offset = pack::ReadU32(e + 4);
    const uint32_t size = pack::ReadU32(e + 8);
    EXPECT_LE(uint64_t{offset} + size, bytes.size());
    out.push_back({pack::ReadU16(e), pack::ReadU16(e + 2),
                   std::vector<uint8_t>(bytes.begin() + offset, bytes.begin() + offset + size), offset});
  }
  return out;
}

std::vector<uint8_t> Serialize(const PackWriter& w) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(w.Serialize(bytes, error)) << error;
  return bytes;
}

std::u16string StringPayload(const std::vector<uint8_t>& data) {
  std::u16string text;
  for (size_t i = 2; i + 1 < data.size(); i += 2) text.push_back(pack::ReadU16(data.data() + i));
  EXPECT_EQ(pack::ReadU16(data.data()), text.size());
  return text;
}

// --- strings files ---------------------------------------------------------

TEST(QrespackStrings, DecodesEscapesUtf8AndLineEnds) {
  PackWriter w;
  Diagnostics d;
  qrespack::ReadStrings(
      "\xEF\xBB\xBF# comment\r\n"
      "1\tTab\\there\\nnew \\\\ line\r\n"
      "\n"
      "   \n"
      "2\t\r\n"
      "3\tZoë \xE4\xB8\xAD \xF0\x9F\x8E\xB5\n"
      "0x10\t  spaced  ",
      "s.txt", w, d);
  ASSERT_TRUE(d.Ok()) << d.Errors()[0];
  auto entries = Entries(Serialize(w));
  ASSERT_EQ(entries.size(), 4u);
  std::map<uint16_t, std::u16string> texts;
  for (auto& e : entries) {
    EXPECT_EQ(e.type, pack::kTypeString);
    texts[e.id] = StringPayload(e.data);
  }
  EXPECT_EQ(texts[1], u"Tab\there\nnew \\ line");
  EXPECT_EQ(texts[2], u"");
  EXPECT_EQ(texts[3], u"Zoë 中 \U0001F3B5");
  EXPECT_EQ(texts[16], u"  spaced  ");
}

struct BadLine {
  const char* content;
  int line;
  const char* message;
};

class QrespackBadStrings : public ::testing::TestWithParam<BadLine> {};

TEST_P(QrespackBadStrings, ReportsFileAndLine) {
  PackWriter w;
  Diagnostics d;
  qrespack::ReadStrings(GetParam().content, "lang/0409.txt", w, d);
  ASSERT_EQ(d.Errors().size(), 1u);
  EXPECT_THAT(d.Errors()[0], HasSubstr("lang/0409.txt:" + std::to_string(GetParam().line) + ": error: "));
  EXPECT_THAT(d.Errors()[0], HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QrespackBadStrings,
    ::testing::Values(BadLine{"1\tok\n2 missing tab\n", 2, "expected <id><TAB><text>"},
                      BadLine{"# c\n\nabc\ttext\n", 3, "the id must be a number"},
                      BadLine{"65536\ttext\n", 1, "the id must be a number"},
                      BadLine{"-1\ttext\n", 1, "the id must be a number"},
                      BadLine{"0x\ttext\n", 1, "the id must be a number"},
                      BadLine{"1\tbad \\q escape\n", 1, "unknown escape \\q"},
                      BadLine{"1\tends in \\", 1, "a backslash ends the text"},
                      BadLine{"1\tlone \x80 continuation\n", 1, "malformed UTF-8"},
                      BadLine{"1\toverlong \xC0\xAF\n", 1, "malformed UTF-8"},
                      BadLine{"1\toverlong \xE0\x80\xAF\n", 1, "malformed UTF-8"},
                      BadLine{"1\tsurrogate \xED\xA0\x80\n", 1, "malformed UTF-8"},
                      BadLine{"1\tbeyond \xF4\x90\x80\x80\n", 1, "malformed UTF-8"},
                      BadLine{"1\tcut at the end \xE4\xB8", 1, "malformed UTF-8"},
                      BadLine{"1\tliteral\ttab\n", 1, "control character"},
                      BadLine{"1\tone\r\n1\ttwo\r\n", 2, "already comes from lang/0409.txt:1"}));

TEST(QrespackStrings, ReportsEveryBadLineInOneRun) {
  PackWriter w;
  Diagnostics d;
  qrespack::ReadStrings("x\n1\tok\ny\n2\t\\z\n", "s.txt", w, d);
  ASSERT_EQ(d.Errors().size(), 3u);
  EXPECT_THAT(d.Errors()[0], HasSubstr("s.txt:1:"));
  EXPECT_THAT(d.Errors()[1], HasSubstr("s.txt:3:"));
  EXPECT_THAT(d.Errors()[2], HasSubstr("s.txt:4:"));
}

// --- menus and accelerators ------------------------------------------------

TEST(QrespackTables, MenuItemsKeepOrderAndTexts) {
  PackWriter w;
  Diagnostics d;
  qrespack::ReadMenu("# soft keys\n40001\tRight\n40000\n", "menu102.txt", 102, w, d);
  ASSERT_TRUE(d.Ok()) << d.Errors()[0];
  auto entries = Entries(Serialize(w));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].type, pack::kTypeMenu);
  EXPECT_EQ(entries[0].id, 102);
  const std::vector<uint8_t> expected = {2, 0, 0x41, 0x9C, 5, 0, 'R', 0, 'i', 0, 'g', 0, 'h', 0, 't', 0,
                                         0x40, 0x9C, 0, 0};
  EXPECT_EQ(entries[0].data, expected);
}

TEST(QrespackTables, AcceleratorFlagsByNameOrNumber) {
  PackWriter w;
  Diagnostics d;
  qrespack::ReadAccelerators("VIRTKEY|CONTROL\t'A'\t100\n0x11\t0x70\t40000\n0\t27\t7\n", "accel2.txt", 2, w, d);
  ASSERT_TRUE(d.Ok()) << d.Errors()[0];
  auto entries = Entries(Serialize(w));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].type, pack::kTypeAccelerator);
  const std::vector<uint8_t> expected = {3, 0,                           //
                                         9, 0, 'A', 0, 100, 0,           //
                                         0x11, 0, 0x70, 0, 0x40, 0x9C,   //
                                         0, 0, 27, 0, 7, 0};
  EXPECT_EQ(entries[0].data, expected);
}

TEST(QrespackTables, EmptyAcceleratorFileIsAnEmptyTable) {
  PackWriter w;
  Diagnostics d;
  qrespack::ReadAccelerators("# nothing\n", "accel2.txt", 2, w, d);
  ASSERT_TRUE(d.Ok());
  auto entries = Entries(Serialize(w));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].data, (std::vector<uint8_t>{0, 0}));
}

TEST(QrespackTables, BadLinesAreReportedAndTheTableIsLeftOut) {
  struct Case {
    const char* content;
    const char* message;
  };
  const Case accelCases[] = {
      {"VIRTKEY\t65\n", "expected <flags><TAB><key><TAB><command>"},
      {"VIRTKEY\t65\t1\t2\n", "expected <flags><TAB><key><TAB><command>"},
      {"VIRTKEY|META\t65\t1\n", "unknown flags \"VIRTKEY|META\""},
      {"0x20\t65\t1\n", "unknown flags"},
      {"virtkey\t65\t1\n", "unknown flags"},
      {"VIRTKEY\t'AB'\t1\n", "the key must be"},
      {"VIRTKEY\t70000\t1\n", "the key must be"},
      {"VIRTKEY\t65\tcmd\n", "the command must be"},
  };
  for (const Case& c : accelCases) {
    PackWriter w;
    Diagnostics d;
    qrespack::ReadAccelerators(std::string("0\t1\t2\n") + c.content, "accel2.txt", 2, w, d);
    ASSERT_EQ(d.Errors().size(), 1u) << c.content;
    EXPECT_THAT(d.Errors()[0], HasSubstr("accel2.txt:2: error: ")) << c.content;
    EXPECT_THAT(d.Errors()[0], HasSubstr(c.message)) << c.content;
    EXPECT_EQ(w.Count(), 0u) << c.content;
  }
  const Case menuCases[] = {
      {"Left\n", "expected <command><TAB><text>"},
      {"40000 Left\n", "expected <command><TAB><text>"},
      {"40000\tbad \\x\n", "unknown escape"},
  };
  for (const Case& c : menuCases) {
    PackWriter w;
    Diagnostics d;
    qrespack::ReadMenu(std::string("1\tok\n") + c.content, "menu102.txt", 102, w, d);
    ASSERT_EQ(d.Errors().size(), 1u) << c.content;
    EXPECT_THAT(d.Errors()[0], HasSubstr("menu102.txt:2: error: ")) << c.content;
    EXPECT_THAT(d.Errors()[0], HasSubstr(c.message)) << c.content;
    EXPECT_EQ(w.Count(), 0u) << c.content;
  }
}

// --- the pack layout -------------------------------------------------------

TEST(QrespackLayout, DeterministicAlignedAndNamedTypesIndexed) {
  auto build = [](bool reversed) {
    PackWriter w;
    std::string error;
    std::vector<std::function<void()>> adds = {
        [&] { EXPECT_TRUE(w.AddRaw({0, u"IIMAGE"}, 545, {1, 2, 3}, "a", error)); },
        [&] { EXPECT_TRUE(w.AddRaw({pack::kTypeRcData, {}}, 138, {4, 5, 6, 7, 8}, "b", error)); },
        [&] { EXPECT_TRUE(w.AddString(1, u"x", "c", error)); },
        [&] { EXPECT_TRUE(w.AddRaw({0, u"OTHER"}, 1, {}, "d", error)); },
    };
    if (reversed) std::reverse(adds.begin(), adds.end());
    for (auto& add : adds) add();
    return Serialize(w);
  };
  const std::vector<uint8_t> bytes = build(false);
  EXPECT_EQ(bytes, build(true));
  ASSERT_GE(bytes.size(), pack::kHeaderSize);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "QRES");
  EXPECT_EQ(pack::ReadU16(&bytes[4]), pack::kVersion);
  EXPECT_EQ(pack::ReadU16(&bytes[6]), 2);  // IIMAGE, OTHER
  auto entries = Entries(bytes);
  ASSERT_EQ(entries.size(), 4u);
  int named = 0;
  for (const Entry& e : entries) {
    EXPECT_EQ(e.offset % pack::kAlignment, 0u);
    if (e.type & pack::kNamedTypeFlag) {
      ++named;
      EXPECT_LT(e.type & ~pack::kNamedTypeFlag, 2);
    }
    if (e.type == pack::kTypeRcData) {
      EXPECT_EQ(e.data, (std::vector<uint8_t>{4, 5, 6, 7, 8}));
    }
  }
  EXPECT_EQ(named, 2);
}

TEST(QrespackLayout, RefusesWhatThePackCannotHold) {
  PackWriter w;
  std::string error;
  EXPECT_FALSE(w.AddString(1, std::u16string(65536, u'a'), "big", error));
  EXPECT_THAT(error, HasSubstr("longer than 65535"));
  EXPECT_FALSE(w.AddRaw({0, {}}, 1, {}, "zero", error));
  EXPECT_FALSE(w.AddRaw({0x8001, {}}, 1, {}, "flag", error));
  EXPECT_FALSE(w.AddMenu(1, {{1, std::u16string(70000, u'a')}}, "menu", error));
  EXPECT_EQ(w.Count(), 0u);
}

// --- language modules ------------------------------------------------------

qrespack::LanguageTable Table(const std::string& content, Diagnostics& d) {
  qrespack::LanguageTable table;
  qrespack::ReadLanguageTable(content, "notes.tsv", table, d);
  return table;
}

TEST(QrespackLanguage, TableSeparatesUsedFromUnusedAndIgnoresThePeopleColumns) {
  Diagnostics d;
  const auto table = Table(
      "\xEF\xBB\xBF# resource\tui\tkind\tguide\tuse\r\n"
      "105\t3\tsoft key\t12\tExit\r\n"
      "\n"
      "118\t18\tunused\t-\tnot shown\n"
      "239\t88\tcode\n",
      d);
  ASSERT_TRUE(d.Ok()) << d.Errors()[0];
  EXPECT_EQ(table.used, (std::set<uint16_t>{105, 239}));
  EXPECT_EQ(table.unused, (std::set<uint16_t>{118}));
  EXPECT_TRUE(table.Contains(118));
  EXPECT_FALSE(table.Contains(119));
}

TEST(QrespackLanguage, TableFaultsNameTheirLine) {
  Diagnostics d;
  Table("105\t3\tsoft key\n"
        "x105\t3\tsoft key\n"
        "70000\t3\tsoft key\n"
        "106\t4\n"
        "105\t5\tunused\n",
        d);
  ASSERT_EQ(d.Errors().size(), 4u);
  EXPECT_THAT(d.Errors()[0], HasSubstr("notes.tsv:2: error: expected a resource id"));
  EXPECT_THAT(d.Errors()[1], HasSubstr("notes.tsv:3: error: expected a resource id"));
  EXPECT_THAT(d.Errors()[2], HasSubstr("notes.tsv:4: error: expected the kind"));
  EXPECT_THAT(d.Errors()[3], HasSubstr("notes.tsv:5: error: resource 105 is listed twice"));

  Diagnostics empty;
  Table("# nothing but comments\n", empty);
  ASSERT_EQ(empty.Errors().size(), 1u);
  EXPECT_THAT(empty.Errors()[0], HasSubstr("lists no resources"));
}

class QrespackCompletion : public ::testing::Test {
 protected:
  void SetUp() override {
    Diagnostics d;
    m_table = Table("105\t3\tsoft key\n106\t4\tsoft key\n107\t5\tsoft key\n118\t18\tunused\n", d);
    ASSERT_TRUE(d.Ok());
    qrespack::ReadStrings("105\tExit\n106\tSettings\n107\tBack\n", "0409.txt", m_english, d);
    ASSERT_TRUE(d.Ok());
  }

  qrespack::LanguageTable m_table;
  PackWriter m_english;
};

TEST_F(QrespackCompletion, FillsMissingAndEmptyUsedTextsOnly) {
  PackWriter module;
  Diagnostics d;
  qrespack::ReadStrings("107\tZurück\n106\t\n118\t\n", "0407.txt", module, d);
  const auto filled = qrespack::CompleteLanguageModule(m_table, &m_english, "0409.txt", module, d);
  ASSERT_TRUE(d.Ok()) << d.Errors()[0];
  EXPECT_EQ(filled, (std::vector<uint16_t>{105, 106}));
  EXPECT_EQ(module.String(105), u"Exit");
  EXPECT_EQ(module.String(106), u"Settings");
  EXPECT_EQ(module.String(107), u"Zurück");
  EXPECT_EQ(module.String(118), u"");  // unused: nobody shows it, so nothing is filled
  EXPECT_EQ(module.Origin({pack::kTypeString, {}}, 105), "0409.txt:1");
  // The completed module serialises with one entry per text.
  EXPECT_EQ(Entries(Serialize(module)).size(), 4u);

  PackWriter complete;
  qrespack::ReadStrings("105\tEnde\n106\tEinstellungen\n107\tZurück\n", "0407.txt", complete, d);
  EXPECT_TRUE(qrespack::CompleteLanguageModule(m_table, &m_english, "0409.txt", complete, d).empty());
  EXPECT_TRUE(d.Ok());
}

TEST_F(QrespackCompletion, StringsOutsideTheTableAreErrorsAtTheirLine) {
  PackWriter module;
  Diagnostics d;
  qrespack::ReadStrings("105\tEnde\n# x\n139\tverwaist\n", "0407.txt", module, d);
  qrespack::CompleteLanguageModule(m_table, nullptr, "", module, d);
  ASSERT_EQ(d.Errors().size(), 1u);
  EXPECT_THAT(d.Errors()[0], HasSubstr("0407.txt:3: error: string 139 is not in the language table"));
  // Without English nothing is filled.
  EXPECT_FALSE(module.String(106));
}

TEST_F(QrespackCompletion, EnglishMustBeCompleteForEveryUsedText) {
  PackWriter english, module;
  Diagnostics d;
  qrespack::ReadStrings("105\tExit\n107\t\n118\t\n", "0409.txt", english, d);
  const auto filled = qrespack::CompleteLanguageModule(m_table, &english, "0409.txt", module, d);
  EXPECT_TRUE(filled.empty());
  ASSERT_EQ(d.Errors().size(), 1u);
  EXPECT_THAT(d.Errors()[0], HasSubstr("0409.txt: error: no English text for used strings 106, 107"));
  EXPECT_EQ(module.Count(), 0u);
}

TEST(QrespackLanguage, PutStringReplacesButKeepsTheOldTextWhenTheNewDoesNotFit) {
  PackWriter w;
  std::string error;
  ASSERT_TRUE(w.AddString(5, u"old", "a:1", error));
  EXPECT_FALSE(w.AddString(5, u"again", "b:1", error));
  ASSERT_TRUE(w.PutString(5, u"new", "b:2", error));
  EXPECT_EQ(w.String(5), u"new");
  EXPECT_EQ(w.Origin({pack::kTypeString, {}}, 5), "b:2");
  EXPECT_FALSE(w.PutString(5, std::u16string(65536, u'x'), "c:1", error));
  EXPECT_EQ(w.String(5), u"new");
  EXPECT_EQ(w.StringIds(), std::vector<uint16_t>{5});
  EXPECT_FALSE(w.String(6));
  EXPECT_EQ(w.Origin({pack::kTypeString, {}}, 6), "");
}

// --- manifest folders and the tool -----------------------------------------

class QrespackFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qrespack-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_root = pattern;
  }
  void TearDown() override { fs::remove_all(m_root); }

  void Write(const fs::path& relative, const std::string& content) {
    fs::create_directories((m_root / relative).parent_path());
    std::ofstream(m_root / relative, std::ios::binary) << content;
  }

  std::vector<std::string> ReadErrors(const std::vector<fs::path>& sources, PackWriter& w) {
    Diagnostics d;
    for (const fs::path& s : sources) qrespack::ReadSource(m_root / s, w, d);
    return d.Errors();
  }

  fs::path m_root;
};

TEST_F(QrespackFolder, ReadsEveryKindOfEntry) {
  Write("main/strings.txt", "1\tQuorel\n2\tQuorelMainWnd\n");
  Write("main/menu102.txt", "40000\n40001\n");
  Write("main/accel2.txt", "");
  Write("main/rcdata/138.png", "png-138");
  Write("main/rcdata/0139.bin", "raw");
  Write("main/iimage/545.png", "img");
  Write("main/.hidden.swp", "ignored");
  Write("main/rcdata/.keep", "");
  PackWriter w;
  EXPECT_THAT(ReadErrors({"main"}, w), ::testing::IsEmpty());
  auto entries = Entries(Serialize(w));
  ASSERT_EQ(entries.size(), 7u);
  int rcdata = 0, named = 0;
  for (const Entry& e : entries) {
    if (e.type == pack::kTypeRcData) {
      ++rcdata;
      EXPECT_TRUE(e.id == 138 || e.id == 139);
    }
    if (e.type & pack::kNamedTypeFlag) {
      ++named;
      EXPECT_EQ(e.id, 545);
      EXPECT_EQ(std::string(e.data.begin(), e.data.end()), "img");
    }
  }
  EXPECT_EQ(rcdata, 2);
  EXPECT_EQ(named, 1);
}

TEST_F(QrespackFolder, UnknownOrMisnamedEntriesAreErrors) {
  Write("main/strings.txt", "1\tA\n");
  Write("main/menu_102.txt", "40000\n");
  Write("main/README.md", "notes");
  Write("main/icons/1.png", "x");
  Write("main/rcdata/logo.png", "x");
  Write("main/rcdata/70000.png", "x");
  Write("main/rcdata/5.png", "x");
  Write("main/rcdata/5.bin", "y");
  fs::create_directories(m_root / "main/rcdata/7");
  PackWriter w;
  const auto errors = ReadErrors({"main"}, w);
  ASSERT_EQ(errors.size(), 7u);
  const std::string all = ::testing::PrintToString(errors);
  EXPECT_THAT(all, HasSubstr("menu_102.txt: error: unknown manifest file"));
  EXPECT_THAT(all, HasSubstr("README.md: error: unknown manifest file"));
  EXPECT_THAT(all, HasSubstr("icons: error: unknown resource folder"));
  EXPECT_THAT(all, HasSubstr("logo.png: error: expected a file named <id>.<extension>"));
  EXPECT_THAT(all, HasSubstr("70000.png: error: expected a file named"));
  EXPECT_THAT(all, HasSubstr("rcdata/7: error: expected a file named"));
  EXPECT_THAT(all, HasSubstr("already comes from"));
}

TEST_F(QrespackFolder, TwoSourcesMayNotDefineTheSameResource) {
  Write("main/strings.txt", "1\tA\n");
  Write("generated/rcdata/138.png", "x");
  Write("more/strings.txt", "2\tB\n1\tC\n");
  PackWriter w;
  const auto errors = ReadErrors({"main", "generated", "more"}, w);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_THAT(errors[0], HasSubstr("more/strings.txt:2: error: string 1 already comes from"));
  EXPECT_THAT(errors[0], HasSubstr("main/strings.txt:1"));
}

TEST_F(QrespackFolder, MissingOrUnusableSources) {
  Write("notes.tsv", "x");
  PackWriter w;
  const auto errors = ReadErrors({"nowhere", "notes.tsv"}, w);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_THAT(errors[0], HasSubstr("nowhere: error: no such file or folder"));
  EXPECT_THAT(errors[1], HasSubstr("notes.tsv: error: a source must be"));
}

int RunTool(const std::string& args, const fs::path& log) {
  const std::string command = std::string(QRESPACK_PATH) + " " + args + " 2>" + log.string();
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(QrespackFolder, ToolWritesThePackOrFailsAndRemovesTheStaleOne) {
  Write("lang/0409.txt", "105\tExit\n");
  const fs::path out = m_root / "bin/Quorel.exe.0409.mui";
  ASSERT_EQ(RunTool("-o " + out.string() + " " + (m_root / "lang/0409.txt").string(), m_root / "log"), 0)
      << Slurp(m_root / "log");
  const std::string first = Slurp(out);
  EXPECT_EQ(first.substr(0, 4), "QRES");
  EXPECT_FALSE(fs::exists(out.string() + ".tmp"));

  Write("lang/0409.txt", "105\tExit\n106\tbad \\e\n");
  EXPECT_EQ(RunTool("-o " + out.string() + " " + (m_root / "lang/0409.txt").string(), m_root / "log"), 1);
  EXPECT_THAT(Slurp(m_root / "log"), HasSubstr("lang/0409.txt:2: error: unknown escape \\e"));
  EXPECT_FALSE(fs::exists(out));

  EXPECT_EQ(RunTool("-o " + out.string(), m_root / "log"), 2);
  EXPECT_THAT(Slurp(m_root / "log"), HasSubstr("usage: qrespack"));
}

TEST_F(QrespackFolder, ToolChecksLanguageModulesAgainstTheTableAndFillsFromEnglish) {
  Write("lang/notes.tsv",
        "105\t3\tsoft key\t12\tExit\n106\t4\tsoft key\t12\tSettings\n118\t18\tunused\t-\t-\n");
  Write("lang/0409.txt", "105\tExit\n106\tSettings\n");
  Write("lang/0407.txt", "105\tBeenden\n");
  const std::string table = " --table " + (m_root / "lang/notes.tsv").string();
  const std::string german = " " + (m_root / "lang/0407.txt").string();
  const std::string english = " --english " + (m_root / "lang/0409.txt").string();
  const fs::path out = m_root / "bin/Quorel.exe.0407.mui";
  const std::string outArg = "-o " + out.string();
  const std::string both = " >" + (m_root / "log").string() + " 2>&1";
  auto run = [&](const std::string& args) {
    const int status = std::system((std::string(QRESPACK_PATH) + " " + args + both).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };

  ASSERT_EQ(run(outArg + table + english + german), 0) << Slurp(m_root / "log");
  EXPECT_THAT(Slurp(m_root / "log"),
              HasSubstr("Quorel.exe.0407.mui: filled 1 used string from English: 106"));
  std::map<uint16_t, std::u16string> texts;
  const std::string bytes = Slurp(out);
  for (const Entry& e : Entries(std::vector<uint8_t>(bytes.begin(), bytes.end())))
    texts[e.id] = StringPayload(e.data);
  EXPECT_EQ(texts, (std::map<uint16_t, std::u16string>{{105, u"Beenden"}, {106, u"Settings"}}));

  // The English master itself: complete, so nothing is filled or said.
  ASSERT_EQ(run(outArg + table + english + " " + (m_root / "lang/0409.txt").string()), 0);
  EXPECT_EQ(Slurp(m_root / "log"), "");

  // A used text missing from English fails every module, and no pack stays behind.
  Write("lang/0409.txt", "105\tExit\n");
  EXPECT_EQ(run(outArg + table + english + german), 1);
  EXPECT_THAT(Slurp(m_root / "log"), HasSubstr("0409.txt: error: no English text for used string 106"));
  EXPECT_FALSE(fs::exists(out));

  // An id outside the table fails even without English.
  Write("lang/0407.txt", "105\tBeenden\n400\tWas?\n");
  EXPECT_EQ(run(outArg + table + german), 1);
  EXPECT_THAT(Slurp(m_root / "log"), HasSubstr("0407.txt:2: error: string 400 is not in the language table"));

  EXPECT_EQ(run(outArg + " --table " + (m_root / "nowhere.tsv").string() + german), 1);
  EXPECT_THAT(Slurp(m_root / "log"), HasSubstr("nowhere.tsv: error: cannot read the language table"));

  // English alone says nothing about which texts are used.
  EXPECT_EQ(run(outArg + english + german), 2);
}

}  // namespace
