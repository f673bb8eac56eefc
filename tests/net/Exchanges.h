// Exchanges as data, shared by the loopback and the simulated-network tests:
// what the server answers (in pieces), what the client reports and what body
// it keeps.
#pragma once

#include <string>
#include <vector>

#include "NetTestUtil.h"
#include "ScriptServer.h"
#include "net/HTTPParser.h"

namespace nettest {

using Events = std::vector<int32_t>;

inline const std::string kBody = Noise(3000);
inline const std::string kOk = "HTTP/1.1 200 OK\r\n";

inline std::string Counted(const std::string& body, const std::string& extra = "") {
  return kOk + extra + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// One exchange as data: what the server answers (in pieces), what the
// client must have sent, what it reports and what body it keeps.
struct TExchange {
  const char* name;
  TScript script;
  Events events;
  std::string body;
  bool bGzip = false;
};

inline std::vector<TExchange> Exchanges() {
  std::string chunked = kOk + "Transfer-Encoding: chunked\r\n\r\n" + Chunked(kBody, {1000, 7});
  std::string gz = Gzip(Gzip(kBody), {"inner.gz", "", "", false});
  std::string counted = Counted(kBody);
  size_t sizeLine = chunked.find("\r\n3e8") + 3;
  size_t crlf = chunked.find("\r\n", chunked.find("\r\n3e8") + 5 + 1000) + 1;
  return {
      {"counted in one write", Reply({counted}), {9, 1, 3, 4, 6, 7}, kBody},
      {"chunked in one write", Reply({chunked}), {9, 1, 3, 4, 6, 7}, kBody},
      {"status line split after HTTP/1.", Reply({"HTTP/1.", counted.substr(7)}), {9, 1, 3, 4, 6, 7}, kBody},
      {"status line split inside the code", Reply({"HTTP/1.1 2", counted.substr(10)}), {9, 1, 3, 4, 6, 7}, kBody},
      {"size line split", Reply({chunked.substr(0, sizeLine), chunked.substr(sizeLine)}), {9, 1, 3, 4, 6, 7}, kBody},
      {"chunk end split between CR and LF", Reply({chunked.substr(0, crlf), chunked.substr(crlf)}),
       {9, 1, 3, 4, 6, 7}, kBody},
      {"body dribbled", Reply({counted.substr(0, 100), counted.substr(100, 5), counted.substr(105, 1000),
                               counted.substr(1105)}),
       {9, 1, 3, 4, 6, 7}, kBody},
      {"nested gzip with a file name",
       Reply({kOk + "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(gz.size()) + "\r\n\r\n" + gz}),
       {9, 1, 3, 4, 6, 7}, kBody, true},
      {"corrupt gzip", Reply({kOk + "Content-Encoding: gzip\r\nContent-Length: 20\r\n\r\n" + std::string(20, 'x')}),
       {9, 1, 3, 4, 15}, std::string(20, 'x'), true},
      {"closed during the headers", Reply({kOk + "Content-Length: 10\r\n"}), {9, 1, 3, 22}, ""},
      {"closed in the body", Reply({kOk + "Content-Length: 10\r\n\r\nabc"}), {9, 1, 3, 4, 22}, "abc"},
      {"version 1.0", Reply({"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx"}, false), {9, 1, 13}, ""},
      {"header line without colon", Reply({kOk + "Oops\r\n\r\n"}, false), {9, 1, 3, 14}, ""},
      {"no framing", Reply({kOk + "\r\nabc"}, false), {9, 1, 3, 4, 16}, ""},
      {"zero length", Reply({kOk + "Content-Length: 0\r\n\r\n"}, false), {9, 1, 3, 4, 16}, ""},
      {"bad chunk size", Reply({kOk + "Transfer-Encoding: chunked\r\n\r\nxyz\r\n"}, false), {9, 1, 3, 4, 17}, ""},
      {"length over the cap", Reply({kOk + "Content-Length: 99999999\r\n\r\n"}, false), {9, 1, 3, 4, 18}, ""},
  };
}

}  // namespace nettest
