// Command-line and run-time options of the protocol test server.
#pragma once

#include <string>
#include <vector>

#include "tools/protocol-server/Documents.h"

namespace qps {

struct Options {
  // Fixed for the life of the server.
  std::string listenAddress = "127.0.0.1";
  int listenPort = 0;
  std::string portFile;
  std::string publicBase;  // empty: http://127.0.0.1:<port>
  std::vector<std::string> faults;  // route:fault[:arg[:count]]
  std::string logFile;
  double lifetime = 3600;
  int maxConnections = 32;
  bool selfCheckOnly = false;

  // Changeable at run time through /_ctl/set.
  std::string catalogue = "default";
  UpdateSettings update;
  bool gzip = true;
  double minUploadSeconds = 5;
  double previewSeconds = 8;
  long long packageBytes = 300000;
  long long delayMs = 0;
  bool strictRequests = false;
  double ioTimeout = 60;
};

// One option by name (without the leading dashes). Run-time changes may only
// touch the changeable ones.
bool ApplyOption(Options& options, const std::string& name, const std::string& value, bool atRunTime,
                 std::string& error);

// Parses argv; false with a message on the first bad argument.
bool ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error);

std::string UsageText();

}  // namespace qps
