// Reads a request the way the client writes it and names every deviation:
// request line, Host, header order and values, the identity header, the
// query's parameters and their escaping.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/protocol-server/Faults.h"
#include "tools/protocol-server/Http.h"

namespace qps {

struct ServerIdentity {
  // Host values (and absolute-form authorities) that name this server.
  std::vector<std::string> authorities;
};

// "127.0.0.1:<port>", "localhost:<port>" and the public base's authority.
ServerIdentity MakeServerIdentity(int port, const std::string& publicBase);

struct RequestInfo {
  Route route = Route::Unknown;
  bool absoluteForm = false;
  bool foreignAuthority = false;  // absolute form naming another server: 502
  std::string path;               // without the scheme, authority, URL faults and query
  std::string query;
  std::string method;             // the query's method= value
  std::vector<std::pair<std::string, std::string>> params;  // decoded, in order
  std::vector<Fault> urlFaults;
  std::string urlFaultError;      // a /f/ segment that does not parse
  std::vector<std::string> violations;

  const std::string* Param(const std::string& name) const;
};

RequestInfo AnalyseRequest(const Request& req, const ServerIdentity& server);

// Empty when the identity header has the client's form, else why not.
std::string CheckUserAgent(const std::string& value);

// The 22 interface-language codes the identity line may carry.
bool IsUiLanguageCode(const std::string& code);

}  // namespace qps
