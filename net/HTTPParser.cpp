#include "net/HTTPParser.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "framework/Trace.h"

namespace {

constexpr std::string_view kVersion = "HTTP/1.1";

bool IsOws(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimOws(std::string_view s) {
  while (!s.empty() && IsOws(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsOws(s.back())) s.remove_suffix(1);
  return s;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendDecimal(std::string& out, uint32_t value) { out += std::to_string(value); }

// A Content-Length value: decimal digits only, within 32 bits; -1 otherwise.
int64_t ParseLength(plat::WStringView value) {
  if (value.empty()) return -1;
  int64_t n = 0;
  for (char16_t c : value) {
    if (c < u'0' || c > u'9') return -1;
    n = n * 10 + (c - u'0');
    if (n > std::numeric_limits<int32_t>::max()) return -1;
  }
  return n;
}

// Whether the last coding named by a Transfer-Encoding value is chunked.
bool LastCodingIsChunked(plat::WStringView value) {
  size_t comma = value.rfind(u',');
  plat::WStringView last = comma == plat::WStringView::npos ? value : value.substr(comma + 1);
  while (!last.empty() && (last.front() == u' ' || last.front() == u'\t')) last.remove_prefix(1);
  while (!last.empty() && (last.back() == u' ' || last.back() == u'\t')) last.remove_suffix(1);
  return plat::EqualsNoCase(last, u"chunked");
}

}  // namespace

bool MakeRequestTarget(plat::WStringView path, plat::WString& target) {
  plat::WString out;
  out.reserve(path.size() + 1);
  if (path.empty() || path.front() != u'/') out += u'/';
  for (char16_t c : path) {
    if (c < 0x20 || c == 0x7F) return false;
    if (c == u' ')
      out += u"%20";
    else
      out += c;
  }
  target = std::move(out);
  return true;
}

std::string BuildRequestHead(int32_t method, plat::WStringView host, uint16_t port, plat::WStringView target,
                             bool bProxied, int32_t contentLength, THTTPHeaderMap& headers) {
  std::string hostUtf8 = plat::ToUtf8(host);
  std::string authority = hostUtf8;
  if (port != 80) {
    authority += ':';
    AppendDecimal(authority, port);
  }
  std::string head;
  head.reserve(256);
  head += method == EHttpPost ? "POST " : "GET ";
  if (bProxied) {
    head += "http://";
    head += authority;
  }
  head += plat::ToUtf8(target);
  head += ' ';
  head += kVersion;
  head += "\r\nHost: ";
  head += authority;
  head += "\r\n";
  if (method == EHttpPost) {
    if (contentLength < 0) {
      head += "Transfer-Encoding: chunked\r\n";
    } else {
      head += "Content-Length: ";
      AppendDecimal(head, static_cast<uint32_t>(contentLength));
      head += "\r\n";
    }
  }
  if (bProxied) headers[u"Proxy-Connection"] = u"Keep-Alive";
  for (const auto& [name, value] : headers) {
    head += plat::ToUtf8(name);
    head += ": ";
    head += plat::ToUtf8(value);
    head += "\r\n";
  }
  headers.clear();
  head += "\r\n";
  return head;
}

// ---------------------------------------------------------------------------
// CHTTPResponseParser

void CHTTPResponseParser::Start(int32_t id) {
  *this = CHTTPResponseParser();
  m_nId = id;
}

bool CHTTPResponseParser::Fail(int32_t code, const TReport& report) {
  m_bFailed = true;
  m_line.clear();
  report(code);
  return false;
}

bool CHTTPResponseParser::TakeLine(const char* pData, size_t length, size_t& pos, std::string_view& line,
                                   bool& bTooLong) {
  bTooLong = false;
  const char* pStart = pData + pos;
  size_t avail = length - pos;
  const char* pLf = static_cast<const char*>(std::memchr(pStart, '\n', avail));
  size_t take = pLf ? static_cast<size_t>(pLf - pStart) + 1 : avail;
  if (m_line.size() + take > kParseBufferSize) {
    bTooLong = true;
    return false;
  }
  pos += take;
  if (!pLf) {
    m_line.append(pStart, take);
    return false;
  }
  if (m_line.empty()) {
    line = std::string_view(pStart, take);
  } else {
    m_line.append(pStart, take);
    m_lastLine.swap(m_line);
    m_line.clear();
    line = m_lastLine;
  }
  // The line end is a LF with an optional CR before it.
  line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return true;
}

bool CHTTPResponseParser::OnStatusLine(std::string_view line) {
  // "HTTP/1.1" SP 3DIGIT, then a space before the reason phrase or nothing.
  if (line.size() < 12 || line.substr(0, kVersion.size()) != kVersion || line[8] != ' ') return false;
  int32_t status = 0;
  for (size_t i = 9; i < 12; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
    status = status * 10 + (line[i] - '0');
  }
  if (line.size() > 12 && line[12] != ' ') return false;
  m_nStatus = status;
  return true;
}

bool CHTTPResponseParser::OnHeaderLine(std::string_view line, THTTPHeaderMap& headers) {
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  plat::WString name = plat::FromUtf8(line.substr(0, colon));
  plat::WString value = plat::FromUtf8(TrimOws(line.substr(colon + 1)));
  DebugTrace(u"[QUOREL] CHTTPEntry::ParseHeaders(%d) %s: %s\n", m_nId, name, value);
  if (plat::EqualsNoCase(name, u"Content-Length")) {
    // Repeats are tolerated only when they agree; otherwise the body's end is
    // anybody's guess.
    if (m_bHaveLength && value != m_contentLength) m_bLengthConflict = true;
    m_bHaveLength = true;
    m_contentLength = value;
  }
  headers[std::move(name)] = std::move(value);
  return true;
}

int32_t CHTTPResponseParser::BeginBody(CHTTPSink* pSink, THTTPHeaderMap& headers) {
  auto te = headers.find(plat::WStringView(u"Transfer-Encoding"));
  bool bHaveTe = te != headers.end();
  // Transfer-Encoding decides the framing over Content-Length.
  bool bChunkedTe = bHaveTe && LastCodingIsChunked(te->second);
  int64_t expected = -1;
  if (!bChunkedTe && m_bHaveLength) {
    expected = m_bLengthConflict ? -1 : ParseLength(m_contentLength);
    if (expected < 0) return EHttpNoLength;
  }
  if (!pSink || pSink->Begin(static_cast<int32_t>(expected), m_nStatus) < 0) return EHttpSinkRefused;
  m_nExpected = expected;
  if (bChunkedTe || (expected < 1 && bHaveTe)) {
    m_bChunked = true;
    m_nChunkRemaining = 0;
    return 0;
  }
  if (expected < 1) return EHttpNoLength;
  return 0;
}

int32_t CHTTPResponseParser::FinishBody(CHTTPSink* pSink, const THTTPHeaderMap& headers) {
  m_nPhase = EPhaseComplete;
  m_line.clear();
  return pSink->Finish(headers) == 0 ? EHttpComplete : EHttpSinkFailed;
}

// The size of the next chunk, or -1 for a malformed line or one beyond what
// the sink may still take.
int32_t CHTTPResponseParser::ParseChunkSize(std::string_view line, CHTTPSink* pSink) {
  int64_t bound = (pSink->IsMemory() ? int64_t{kMaxMemoryBody} : std::numeric_limits<int32_t>::max()) - m_nHeld;
  size_t i = 0;
  int64_t size = 0;
  for (; i < line.size(); ++i) {
    int digit = HexValue(line[i]);
    if (digit < 0) break;
    size = size * 16 + digit;
    if (size > bound) return -1;
  }
  if (i == 0) return -1;
  while (i < line.size() && IsOws(line[i])) ++i;
  // Chunk extensions are ignored.
  if (i < line.size() && line[i] != ';') return -1;
  return static_cast<int32_t>(size);
}

bool CHTTPResponseParser::Feed(const char* pData, size_t length, CHTTPSink* pSink, THTTPHeaderMap& headers,
                               const TReport& report) {
  if (m_bFailed) return false;
  size_t pos = 0;
  std::string_view line;
  bool bTooLong = false;
  while (m_nPhase != EPhaseComplete) {
    if (m_nPhase == EPhaseStatus) {
      if (pos == length) return true;
      if (!TakeLine(pData, length, pos, line, bTooLong)) {
        if (bTooLong) return Fail(EHttpBadStatus, report);
        // Refuse at once what can never become "HTTP/1.1 ".
        size_t n = std::min(m_line.size(), kVersion.size() + 1);
        if (std::memcmp(m_line.data(), "HTTP/1.1 ", n) != 0) return Fail(EHttpBadStatus, report);
        return true;
      }
      if (!OnStatusLine(line)) return Fail(EHttpBadStatus, report);
      m_nPhase = EPhaseHeaders;
      report(EHttpStatusLine);
    } else if (m_nPhase == EPhaseHeaders) {
      if (pos == length) return true;
      size_t before = pos;
      bool bLine = TakeLine(pData, length, pos, line, bTooLong);
      m_nHeaderBytes += pos - before;
      if (bTooLong || m_nHeaderBytes > kParseBufferSize) return Fail(EHttpBadHeader, report);
      if (!bLine) return true;
      if (!line.empty()) {
        if (!OnHeaderLine(line, headers)) return Fail(EHttpBadHeader, report);
        continue;
      }
      m_nPhase = EPhaseBody;
      report(EHttpHeadersDone);
      if (int32_t error = BeginBody(pSink, headers)) return Fail(error, report);
    } else if (!m_bChunked) {
      // Counted: straight from the receive buffer, never past the announced
      // length; anything beyond it is dropped.
      int64_t take = std::min<int64_t>(static_cast<int64_t>(length - pos), m_nExpected - m_nHeld);
      if (take > 0) {
        if (pSink->Append(pData + pos, static_cast<int32_t>(take)) < 0) return Fail(EHttpSinkFailed, report);
        m_nHeld += take;
        pos += static_cast<size_t>(take);
      }
      if (m_nHeld == m_nExpected) {
        int32_t code = FinishBody(pSink, headers);
        if (code != EHttpComplete) return Fail(code, report);
        report(code);
        return true;
      }
      if (take > 0) report(EHttpBodyData);
      return true;
    } else if (m_nChunkRemaining == 0) {
      if (pos == length) return true;
      if (!TakeLine(pData, length, pos, line, bTooLong)) {
        if (bTooLong) return Fail(EHttpBadChunk, report);
        return true;
      }
      // The line end after a chunk's data.
      if (line.empty()) continue;
      int32_t size = ParseChunkSize(line, pSink);
      if (size < 0) return Fail(EHttpBadChunk, report);
      if (size == 0) {
        // The last chunk; trailers are not read.
        m_nChunkRemaining = -1;
        int32_t code = FinishBody(pSink, headers);
        if (code != EHttpComplete) return Fail(code, report);
        report(code);
        return true;
      }
      m_nChunkRemaining = size;
    } else {
      if (pos == length) return true;
      int64_t take = std::min<int64_t>(static_cast<int64_t>(length - pos), m_nChunkRemaining);
      if (pSink->Append(pData + pos, static_cast<int32_t>(take)) < 0) return Fail(EHttpSinkFailed, report);
      m_nHeld += take;
      m_nChunkRemaining -= take;
      pos += static_cast<size_t>(take);
      report(EHttpBodyData);
    }
  }
  return true;
}
