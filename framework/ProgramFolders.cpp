#include "framework/ProgramFolders.h"

#include "platform/fs/FileSystem.h"

plat::WString GetModuleFolder() {
  plat::WString path = plat::GetModuleFileName();
  size_t nLast = path.rfind(u'\\');
  if (nLast == plat::WString::npos) return plat::WString();
  return path.substr(0, nLast);
}

plat::WString FindStoreCardFolder() {
  // With a separator after the folder, a program in the card's root
  // ("\Storage Card") matches "\Storage Card\" as well as one deeper down.
  plat::WString folder = GetModuleFolder() + u"\\";
  plat::FindData card;
  plat::Handle hFind = plat::FindFirstFlashCard(&card);
  if (hFind == plat::INVALID_HANDLE_VALUE) return plat::WString();
  plat::WString found;
  do {
    if (card.name.empty()) continue;
    plat::WString root = u"\\" + card.name + u"\\";
    if (plat::StartsWithNoCase(folder, root)) {
      found = card.name;
      break;
    }
  } while (plat::FindNextFlashCard(hFind, &card));
  plat::FindClose(hFind);
  return found;
}
