#include "platform/entry/Entry.h"

int main(int, char**) {
  // The program reads no command line.
  constexpr int kShow = 5;  // SW_SHOW
  return WinMain(nullptr, nullptr, u"", kShow);
}
