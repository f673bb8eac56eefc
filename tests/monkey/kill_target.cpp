// The program's writers in a loop, to be killed at any point: `hives` keeps
// changing the interface language and settings (each change rewrites a
// hive), `store` keeps streaming previews into "buffer.dat" and committing
// them. Each step done is reported with one byte on the descriptor REPORT-FD.
#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "KillDevice.h"
#include "framework/AppRegistry.h"
#include "protocol/PreviewStore.h"

namespace {

int g_reportFd = -1;

void Report(char step) {
  ssize_t n;
  do {
    n = write(g_reportFd, &step, 1);
  } while (n < 0 && errno == EINTR);
  if (n != 1) std::_Exit(3);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: kill_target DEVICE-ROOT hives|store REPORT-FD\n");
    return 2;
  }
  killtest::UseDevice(argv[1]);
  const bool hives = std::strcmp(argv[2], "hives") == 0;
  g_reportFd = std::atoi(argv[3]);
  if (hives && RegOpenAppKey() != 0) return 1;
  PreviewStore store;
  for (uint32_t i = 0;; ++i) {
    if (hives) {
      RegSetAppString(u"app_language", killtest::LanguageValue(i));
      Report(killtest::kHiveWritten);
      RegSetAppDword(u"maximum_search_length", i % 60);
      Report(killtest::kHiveWritten);
      plat::WriteDword(plat::HKEY_LOCAL_MACHINE, u"Platform\\Linux", u"UILanguage", 0x400 + i % 64);
      Report(killtest::kHiveWritten);
    } else {
      // Streamed in pieces, as the player's download arrives.
      const std::string body = killtest::PreviewBody(i);
      {
        std::ofstream out(plat::HostPath(store.BufferPath()).value(), std::ios::binary | std::ios::trunc);
        for (size_t at = 0; at < body.size(); at += 1024) {
          out.write(body.data() + at, static_cast<std::streamsize>(std::min<size_t>(1024, body.size() - at)));
          out.flush();
          Report(killtest::kPieceWritten);
        }
      }
      TrackRecord track;
      track.m_nKind = TrackKindPreview;
      track.m_trackId = u"k" + plat::Widen(std::to_string(i % 40));
      // A name already taken is refused and the buffer stays: the next one
      // overwrites it.
      store.Commit(track);
      Report(killtest::kCommitted);
    }
  }
}
