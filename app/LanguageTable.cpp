#include "app/LanguageTable.h"

#include "framework/AppRegistry.h"
#include "framework/DeviceIdentity.h"
#include "framework/ProgramFolders.h"
#include "framework/Trace.h"
#include "framework/basetypes.h"
#include "platform/fs/FileSystem.h"
#include "platform/module/Module.h"
#include "protocol/AppSettings.h"

namespace {

constexpr char16_t kAppLanguage[] = u"app_language";

struct TLanguageRow {
  const char16_t* szCode;
  const char16_t* szModuleFile;
  uint32_t nLangId;  // compared by its low 16 bits
};

// In index order. The codes "NE", "SP" and "SW" are what the server and the
// identity line expect, not ISO codes; Arabic's file carries 0c01 while the
// row answers to 0x0401.
constexpr TLanguageRow kLanguages[kLanguageCount] = {
    {u"EN", u"Quorel.exe.0409.mui", 0x0409},    {u"FR", u"Quorel.exe.040c.mui", 0x040C},
    {u"IT", u"Quorel.exe.0410.mui", 0x0410},    {u"DE", u"Quorel.exe.0407.mui", 0x0407},
    {u"RU", u"Quorel.exe.0419.mui", 0x0419},    {u"NO", u"Quorel.exe.0414.mui", 0x0414},
    {u"NE", u"Quorel.exe.0413.mui", 0x0413},    {u"CS", u"Quorel.exe.0405.mui", 0x0405},
    {u"EL", u"Quorel.exe.0408.mui", 0x0408},    {u"SP", u"Quorel.exe.0c0a.mui", 0x0C0A},
    {u"PT", u"Quorel.exe.0816.mui", 0x0816},    {u"FI", u"Quorel.exe.040b.mui", 0x040B},
    {u"DA", u"Quorel.exe.0406.mui", 0x0406},    {u"PL", u"Quorel.exe.0415.mui", 0x0415},
    {u"SW", u"Quorel.exe.041d.mui", 0x041D},    {u"pt_BR", u"Quorel.exe.0416.mui", 0x0416},
    {u"CHI_S", u"Quorel.exe.0804.mui", 0x0804}, {u"CHI_T", u"Quorel.exe.0404.mui", 0x0404},
    {u"KO", u"Quorel.exe.0412.mui", 0x0412},    {u"TR", u"Quorel.exe.041f.mui", 0x041F},
    {u"AR", u"Quorel.exe.0c01.mui", 0x0401},    {u"CA", u"Quorel.exe.0403.mui", 0x0403},
};

// What is loaded: the first loaded row and each row's module.
int32_t g_nDefault = kNoLanguage;
plat::ModuleHandle g_modules[kLanguageCount] = {};

struct TFixedText {
  int32_t nId;
  const char16_t* szText;
};
constexpr TFixedText kFixedTexts[] = {
    {0, u""}, {1, u"quorel mobile"}, {227, u"Internet"}, {228, u"Work"}, {229, u"WAP"}, {230, u"Secure WAP"},
};

// UI ids first..last take resource ids from `nResource` on, one by one.
struct TStringRun {
  int16_t nFirst, nLast;
  uint16_t nResource;
};
constexpr TStringRun kStringRuns[] = {
    {2, 2, 191},       {3, 15, 105},      {16, 17, 320},     {18, 24, 118},     {25, 25, 325},
    {26, 27, 125},     {28, 28, 336},     {29, 40, 127},     {41, 58, 140},     {59, 60, 163},
    {61, 61, 324},     {62, 68, 165},     {69, 69, 327},     {70, 78, 172},     {79, 86, 182},
    {87, 87, 318},     {88, 130, 239},    {131, 136, 192},   {137, 138, 334},   {139, 161, 198},
    {162, 162, 328},   {163, 176, 221},   {177, 203, 282},   {204, 204, 190},   {205, 208, 314},
    {209, 209, 319},   {210, 213, 235},   {214, 218, 309},   {219, 219, 323},   {220, 220, 326},
    {221, 225, 329},   {226, 226, 336},
};

bool IsIndex(int32_t nIndex) { return nIndex >= 0 && nIndex < kLanguageCount; }

// Index of the first row whose module is loaded and that `matches`, else the
// default.
template <class F>
int32_t FindLoadedRow(F matches) {
  for (int32_t i = 0; i < kLanguageCount; ++i)
    if (matches(kLanguages[i])) return g_modules[i] ? i : g_nDefault;
  return g_nDefault;
}

// Whatever shows text of the current language refreshes from here. At the
// first start-up call neither the identity nor the settings exist yet; they
// build from the current language when they are made.
void LanguageChanged() {
  if (GetDeviceIdentity()) CDeviceIdentity::Refresh();
  if (AppSettings* pSettings = GetAppSettings()) {
    pSettings->FillLanguageList();
    pSettings->FillChoiceLists();
  }
}

// Registers a new source; the registry keeps the one reference that stays.
void Register(int32_t nId, IStringSource* pNew) {
  pNew->addReference();
  struct TRelease {
    IStringSource* p;
    ~TRelease() { p->removeReference(); }
  } release{pNew};
  CResources::RegisterStringSource(nId, pNew);
}

}  // namespace

void CLocalizedString::Load() {
  for (int32_t i = 0; i < kLanguageCount; ++i) {
    m_texts[i].clear();
    if (!g_modules[i]) continue;
    if (std::optional<plat::WStringView> text = plat::LoadStringRef(g_modules[i], m_nResourceId))
      m_texts[i].assign(text->begin(), text->end());
  }
}

void CLocalizedString::Get(plat::WString& rText) {
  const int32_t nIndex = *CurrentLanguageIndex();
  if (IsIndex(nIndex))
    rText = m_texts[nIndex];
  else
    rText.clear();
}

bool LoadLanguageModules() {
  // A second load must not leak the first one's references.
  FreeLanguageModules();
  g_nDefault = kNoLanguage;
  int32_t nLoaded = 0;
  const plat::WString folder = GetModuleFolder();
  for (int32_t i = 0; i < kLanguageCount; ++i) {
    // A missing or malformed module is simply absent.
    g_modules[i] = plat::LoadLibrary(plat::JoinPath(folder, kLanguages[i].szModuleFile));
    if (!g_modules[i]) continue;
    ++nLoaded;
    if (g_nDefault == kNoLanguage) g_nDefault = i;
  }
  // The settings' language list and the identity line read the table from here.
  SetLanguageLoadedSource(IsLanguageLoaded);
  SetLanguageCodeSource(CurrentLanguageCode);
  return nLoaded >= 1;
}

void RegisterUiStrings() {
  if (!LoadLanguageModules()) Env::ThrowError(Env::ErrSystem);

  const uint16_t nPhone = plat::GetSystemDefaultUILanguage();
  const int32_t nChosen = FindLoadedRow([&](const TLanguageRow& row) { return (row.nLangId & 0xFFFF) == nPhone; });
  DebugTrace(u"[QUOREL] Language id is 0x%04x/0x%04x Will be used %s\n", nPhone, nChosen,
             kLanguages[nChosen].szModuleFile);
  RegSetAppString(kAppLanguage, kLanguages[nChosen].szCode);

  // The stored value decides, so the choice and what later starts read agree.
  plat::WString stored;
  RegGetAppString(kAppLanguage, stored);
  SetLanguage(FindLoadedRow([&](const TLanguageRow& row) { return stored == row.szCode; }));

  for (const TFixedText& fixed : kFixedTexts) Register(fixed.nId, new CConstString(fixed.szText));
  for (const TStringRun& run : kStringRuns)
    for (int32_t nId = run.nFirst; nId <= run.nLast; ++nId) {
      auto* pSource = new CLocalizedString(static_cast<uint16_t>(run.nResource + (nId - run.nFirst)));
      pSource->Load();
      Register(nId, pSource);
    }
}

void SetLanguage(int32_t nIndex) {
  if (!IsIndex(nIndex)) QUOREL_PANIC(u"QuorelStrings", 524);
  RegSetAppString(kAppLanguage, kLanguages[nIndex].szCode);
  *CurrentLanguageIndex() = nIndex;
  LanguageChanged();
}

bool IsLanguageLoaded(int32_t nIndex) { return IsIndex(nIndex) && g_modules[nIndex] != nullptr; }

plat::WString CurrentLanguageCode() { return plat::WString(LanguageCode(*CurrentLanguageIndex())); }

void FreeLanguageModules() {
  SetLanguageLoadedSource(nullptr);
  SetLanguageCodeSource(nullptr);
  for (int32_t i = kLanguageCount - 1; i >= 0; --i) {
    if (g_modules[i]) plat::FreeLibrary(g_modules[i]);
    g_modules[i] = nullptr;
  }
}

int32_t DefaultLanguageIndex() { return g_nDefault; }

plat::WStringView LanguageCode(int32_t nIndex) { return IsIndex(nIndex) ? kLanguages[nIndex].szCode : u""; }

plat::WStringView LanguageModuleFile(int32_t nIndex) {
  return IsIndex(nIndex) ? kLanguages[nIndex].szModuleFile : u"";
}

uint16_t UiStringResourceId(int32_t nId) {
  for (const TStringRun& run : kStringRuns)
    if (nId >= run.nFirst && nId <= run.nLast) return static_cast<uint16_t>(run.nResource + (nId - run.nFirst));
  return 0;
}
