// The wire side of one HTTP/1.1 exchange, without sockets: composing the
// request head and taking the response apart as it arrives in pieces of any
// size. The connection slot feeds every receive into the parser; the parser
// fills the header map, drives the body sink and reports progress with the
// core's event codes.
//
// The response is hostile input. Every line must fit the parse buffer, every
// number is checked, and a fault ends the exchange with an error code rather
// than with a guess.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "net/HTTPSink.h"
#include "platform/base/Strings.h"

// What a connection slot reports to its listener. 26 and 27 come from the
// request layer; 19 is never produced.
enum HTTPCoreEvent : int32_t {
  EHttpConnected = 1,       // request head about to be sent
  EHttpPartSent = 2,        // a body piece went out, the body is not finished
  EHttpStatusLine = 3,
  EHttpHeadersDone = 4,
  EHttpBodyData = 5,
  EHttpComplete = 6,        // body complete and the sink's Finish succeeded
  EHttpClosed = 7,          // peer closed after a complete response
  EHttpNoNetwork = 8,       // waiting for the network; retried
  EHttpNetworkUp = 9,
  EHttpAborted = 10,        // connect aborted by Close
  EHttpLookupFailed = 11,
  EHttpConnectFailed = 12,  // connect or sending the head failed
  EHttpBadStatus = 13,
  EHttpBadHeader = 14,
  EHttpSinkFailed = 15,     // Append or Finish failed
  EHttpNoLength = 16,       // no usable Content-Length and no Transfer-Encoding
  EHttpBadChunk = 17,
  EHttpSinkRefused = 18,    // Begin refused the body
  EHttpSocketFailed = 20,   // a send or receive could not be started
  EHttpIoFailed = 21,       // an overlapped operation failed
  EHttpClosedEarly = 22,    // connection closed before the response was complete
  EHttpUnexpected = 23,     // a socket event in a state that expects none
  EHttpIdle = 24,           // idle time-out with the response incomplete
  EHttpNetworkLost = 25,
  EHttpSessionEnded = 26,
  EHttpRequestClosed = 27,
};

enum : int32_t { EHttpGet = 0, EHttpPost = 1 };

// Response parse phases.
enum : int32_t { EPhaseStatus = 0, EPhaseHeaders = 1, EPhaseBody = 2, EPhaseComplete = 3 };

// The parse buffer: no status, header or chunk-size line may be longer, and
// the header block as a whole may not be either.
inline constexpr size_t kParseBufferSize = 16384;

// The request target for a URL's path (query included): "/" when empty, a
// leading "/" when the path starts with something else, spaces as %20. False
// for a path holding a control character or DEL, which could break the
// request line or smuggle a header.
bool MakeRequestTarget(plat::WStringView path, plat::WString& target);

// The request head as bytes: the request line (absolute form through a
// proxy), Host, the body framing of a POST (chunked when `contentLength` is
// negative), then every header of the map in its order, and the blank line.
// Through a proxy "Proxy-Connection: Keep-Alive" joins the map first. The map
// is emptied.
std::string BuildRequestHead(int32_t method, plat::WStringView host, uint16_t port, plat::WStringView target,
                             bool bProxied, int32_t contentLength, THTTPHeaderMap& headers);

class CHTTPResponseParser {
 public:
  using TReport = std::function<void(int32_t code)>;

  // Ready for a new response; `id` names the connection in traces.
  void Start(int32_t id);

  // One received piece. The response headers go into `headers`, the body to
  // `pSink`; events and errors go to `report` as they happen. Returns false
  // once the parser has stopped on an error (nothing more should be read);
  // bytes arriving after the complete response are dropped.
  bool Feed(const char* pData, size_t length, CHTTPSink* pSink, THTTPHeaderMap& headers, const TReport& report);

  int32_t Phase() const { return m_nPhase; }
  int32_t Status() const { return m_nStatus; }
  bool Failed() const { return m_bFailed; }

 private:
  // Takes bytes up to and including the next LF. True with the line (its
  // line end cut off) when one is complete; false when more is needed or the
  // line is too long (then `bTooLong`).
  bool TakeLine(const char* pData, size_t length, size_t& pos, std::string_view& line, bool& bTooLong);
  bool OnStatusLine(std::string_view line);
  bool OnHeaderLine(std::string_view line, THTTPHeaderMap& headers);
  // Decides the body's framing once the headers are complete.
  int32_t BeginBody(CHTTPSink* pSink, THTTPHeaderMap& headers);
  int32_t FinishBody(CHTTPSink* pSink, const THTTPHeaderMap& headers);
  int32_t ParseChunkSize(std::string_view line, CHTTPSink* pSink);
  bool Fail(int32_t code, const TReport& report);

  int32_t m_nId = 0;
  int32_t m_nPhase = EPhaseStatus;
  int32_t m_nStatus = 0;
  bool m_bFailed = false;
  std::string m_line;              // a line not yet complete
  std::string m_lastLine;          // the complete line TakeLine hands out when it spans pieces
  size_t m_nHeaderBytes = 0;
  bool m_bHaveLength = false;
  bool m_bLengthConflict = false;
  plat::WString m_contentLength;
  bool m_bChunked = false;
  int64_t m_nExpected = -1;
  int64_t m_nHeld = 0;             // body bytes given to the sink
  int64_t m_nChunkRemaining = 0;   // -1 once the last chunk was seen
};
