// quorel-server-urls BASE: points the program at a server by writing "url",
// "singurl", "graburl" (BASE) and "terms_and_conditions_url" (BASE/page/terms)
// into the device's HKCU hive. Goes through the platform's registry, so the
// hive keeps its format and is saved atomically; the program itself never
// writes these values.
#include <cstdio>
#include <string>

#include "platform/base/Errors.h"
#include "platform/base/Strings.h"
#include "platform/fs/FileSystem.h"
#include "platform/registry/Registry.h"

namespace {

constexpr char16_t kAppKey[] = u"SOFTWARE\\Orlamet\\Quorel";

bool SetString(plat::HKEY key, const char16_t* name, const std::string& utf8) {
  plat::WString value = plat::FromUtf8(utf8);
  const auto* bytes = reinterpret_cast<const uint8_t*>(value.c_str());
  const auto size = static_cast<uint32_t>((value.size() + 1) * sizeof(char16_t));
  return plat::RegSetValueEx(key, name, plat::REG_SZ, bytes, size) == plat::ERROR_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quorel-server-urls http://HOST:PORT\n");
    return 2;
  }
  std::string base = argv[1];
  while (!base.empty() && base.back() == '/') base.pop_back();
  // The client refuses https, and only scheme, host and port of a base count.
  if (base.rfind("http://", 0) != 0 || base.size() <= 7 || base.find('/', 7) != std::string::npos) {
    std::fprintf(stderr, "quorel-server-urls: '%s' is not an http://HOST[:PORT] base\n", argv[1]);
    return 2;
  }
  const std::filesystem::path root = plat::DefaultDeviceRoot();
  plat::RegistryConfig config;
  config.folder = root / "registry";
  config.defaultsFile = plat::ExecutableFolder() / "device-defaults.reg";
  plat::ConfigureRegistry(config);

  plat::HKEY key = nullptr;
  if (plat::RegCreateKeyEx(plat::HKEY_CURRENT_USER, kAppKey, plat::KEY_ALL_ACCESS, &key) != plat::ERROR_SUCCESS) {
    std::fprintf(stderr, "quorel-server-urls: cannot open the application key under %s\n", config.folder.c_str());
    return 1;
  }
  bool ok = SetString(key, u"url", base) && SetString(key, u"singurl", base) && SetString(key, u"graburl", base) &&
            SetString(key, u"terms_and_conditions_url", base + "/page/terms");
  plat::RegCloseKey(key);
  if (!ok) {
    std::fprintf(stderr, "quorel-server-urls: cannot save the hive in %s\n", config.folder.c_str());
    return 1;
  }
  std::fprintf(stderr, "quorel-server-urls: the program now talks to %s\n", base.c_str());
  return 0;
}
