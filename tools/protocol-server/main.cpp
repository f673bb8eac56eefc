// quorel-protocol-server: the local stand-in for the recognition server.
#include <csignal>
#include <cstdio>
#include <string>

#include "tools/protocol-server/Options.h"
#include "tools/protocol-server/SelfCheck.h"
#include "tools/protocol-server/Server.h"

namespace {

std::atomic<bool> g_signalled{false};

void OnSignal(int) { g_signalled.store(true); }

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "--help") {
      std::fputs(qps::UsageText().c_str(), stdout);
      return 0;
    }
  qps::Options options;
  std::string error;
  if (!qps::ParseCommandLine(argc, argv, options, error)) {
    std::fprintf(stderr, "quorel-protocol-server: %s\n", error.c_str());
    return 2;
  }

  std::optional<qps::Catalogue> catalogue = qps::Catalogue::ByName(options.catalogue);
  qps::SelfCheckResult check = qps::RunSelfCheck(
      qps::CollectSelfCheckItems(*catalogue, "http://127.0.0.1:0", options.previewSeconds, options.update));
  std::fprintf(stderr, "self-check: %d previews, %d pictures, %d documents: %s\n", check.mp3s, check.pngs,
               check.documents, check.Ok() ? "ok" : "FAILED");
  for (const std::string& failure : check.failures) std::fprintf(stderr, "  %s\n", failure.c_str());
  if (!check.Ok()) return 1;
  if (options.selfCheckOnly) return 0;

  // Handlers first: whoever reads the LISTENING line may signal at once.
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  qps::Server server(options);
  server.SetExternalStopFlag(&g_signalled);
  if (!server.Start(error)) {
    std::fprintf(stderr, "quorel-protocol-server: %s\n", error.c_str());
    return 1;
  }
  std::printf("LISTENING 127.0.0.1:%d\n", server.Port());
  std::fflush(stdout);
  server.Run();
  std::fprintf(stderr, "quorel-protocol-server: stopped\n");
  return 0;
}
