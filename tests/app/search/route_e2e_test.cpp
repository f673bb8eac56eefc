// Every route of the server through the real HTTP core and the request
// handles, in origin and proxy form, with the transport and content faults
// the server can inject: each ends with a clear code, its parser's verdict,
// nothing left open, and the next request succeeding.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "E2eHarness.h"
#include "framework/Graphics.h"
#include "protocol/PreviewStore.h"
#include "protocol/ReplyParsers.h"
#include "protocol/SearchResults.h"
#include "protocol/ServerError.h"

namespace searchtest {
namespace {

// One request through a handle, recording the codes it saw.
struct TExchange {
  std::string target;              // on the server
  CHTTPFileSink* pFile = nullptr;  // the body's file, else a memory sink
  std::vector<int32_t> codes;
  int32_t httpStatus = 0;
  std::string body;
  bool bDone = false;
  CHTTPRequest request;

  int32_t Last() const { return codes.empty() ? 0 : codes.back(); }
  void OnStatus() {
    const int32_t code = request.LastStatus();
    codes.push_back(code);
    if (code == EHttpHeadersDone) httpStatus = request.GetStatus();
    if (code != EHttpComplete && code < EHttpAborted) return;
    request.Close();
    if (CHTTPSink* pSink = request.BodySink(); pSink && pSink->GetData())
      body.assign(pSink->GetData(), static_cast<size_t>(pSink->GetLength()));
    bDone = true;
  }
};

using TParser = std::function<bool(const std::string&)>;

bool AcceptsSearch(const std::string& body) {
  CSearchResults model;
  return model.LoadBuffer(body.data(), body.size());
}
bool AcceptsUser(const std::string& body) {
  plat::WString name, image, homepage, further[5];
  return ParseUserInformation(body.data(), body.size(), name, image, further, homepage);
}
template <bool (*Parse)(CSearchResults&, const char*, size_t)>
bool Accepts(const std::string& body) {
  CSearchResults model;
  return Parse(model, body.data(), body.size());
}
bool AcceptsPng(const std::string& body) {
  try {
    CBitmap* pBitmap = CBitmap::FromPngData(reinterpret_cast<const uint8_t*>(body.data()), body.size());
    if (!pBitmap) return false;
    pBitmap->removeReference();  // the caller's reference
    return true;
  } catch (const Env::TSysErrorCode&) {
    return false;
  }
}
bool AcceptsMp3(const std::string& body) {
  return body.size() >= 4 && (body.compare(0, 3, "ID3") == 0 || static_cast<uint8_t>(body[0]) == 0xFF);
}
bool AcceptsPage(const std::string& body) { return body.find("<html") != std::string::npos; }

struct TRoute {
  const char* route;  // the server's route name
  std::string target;
  TParser accepts;
  bool bXml;
};

std::vector<TRoute> Routes() {
  return {
      {"checkForUpdate", "/v2/?method=checkForUpdate", Accepts<ParseUpdateReply>, true},
      {"getUserInformation", "/v2/?method=getUserInformation&username=anna", AcceptsUser, true},
      {"getUserPlaylist", "/v2/?method=getUserPlaylist&username=anna", AcceptsSearch, true},
      {"getUserRecordings", "/v2/?method=getUserRecordings&username=anna", AcceptsSearch, true},
      {"getTrackBuyLinks",
       "/v2/?method=getTrackBuyLinks&track_id=t1&artist_name=Se%C3%B1al%20%3CLive%3E&track_name=Caf%C3%A9",
       Accepts<ParseBuyLinks>, true},
      {"getTrackLyricsLink", "/v2/?method=getTrackLyricsLink&track_id=t1", Accepts<ParseLyricsLink>, true},
      {"videos", "/v2/?method=getVideos&track_id=t1", Accepts<ParseVideos>, true},
      {"image", "/img/al1.png", AcceptsPng, false},
      {"page", "/page/lyrics-t1", AcceptsPage, false},
      {"preview", "/media/preview-t1.mp3", AcceptsMp3, false},
  };
}

class RouteE2eTest : public E2eHarness {
 protected:
  // The steps of one exchange; `check` runs once it has ended.
  void Add(std::vector<TStep>& steps, TExchange& x, std::function<void()> check) {
    steps.push_back([this, &x] {
      x.request.Open(CQuorelAppUi::HTTPSession(), EHttpGet, plat::Widen(Base() + x.target));
      x.request.SetCallback(CDelegate::Member<&TExchange::OnStatus>(&x));
      if (x.pFile) {
        x.pFile->Open(u"update.cab");
        x.request.SetBodySink(x.pFile);
      }
      OweAnswer();
      x.request.Start();
    });
    steps.push_back(Until([&x] { return x.bDone; }));
    steps.push_back(std::move(check));
  }
  // An exchange of `target` owned by the fixture, after `fault` is injected
  // on `route` when one is given.
  TExchange& Fetch(std::vector<TStep>& steps, const std::string& target, std::function<void(TExchange&)> check,
                   const char* route = nullptr, const char* fault = nullptr, std::string arg = "") {
    m_exchanges.push_back(std::make_unique<TExchange>());
    TExchange& x = *m_exchanges.back();
    x.target = target;
    if (fault) steps.push_back([route, fault, arg] { Inject(route, fault, arg); });
    Add(steps, x, [&x, check] { check(x); });
    return x;
  }
  std::vector<std::unique_ptr<TExchange>> m_exchanges;

  void TearDown() override {
    m_exchanges.clear();
    E2eHarness::TearDown();
  }

  // The application against a reset server that offers an update, so that
  // every XML route has a reply its parser takes.
  void StartRoutes(bool bProxy = false, THTTPCoreTimings timings = {}, bool bVirtualClock = false) {
    StartApp(bProxy, timings, 440, bVirtualClock);
    Control("/_ctl/set?update=offer");
  }
  // While the loop runs, or after it (from what the session had open when
  // the loop was told to quit).
  static void ExpectIdle() {
    CHTTPSession* pSession = CQuorelAppUi::HTTPSession();
    EXPECT_EQ(0, pSession ? static_cast<int32_t>(pSession->OpenCount()) : s_openAtQuit);
  }
  std::string ReadFile(const plat::WString& path) {
    std::ifstream in(plat::HostPath(path).value(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
};

TEST_F(RouteE2eTest, EveryRouteDeliversABodyItsParserAccepts) {
  for (bool bProxy : {false, true}) {
    SCOPED_TRACE(bProxy ? "proxy" : "origin");
    StartRoutes(bProxy);
    std::vector<TRoute> routes = Routes();
    std::vector<TStep> steps;
    for (const TRoute& r : routes) {
      Fetch(steps, r.target, [&r](TExchange& x) {
        SCOPED_TRACE(r.route);
        EXPECT_EQ(EHttpComplete, x.Last());
        EXPECT_EQ(200, x.httpStatus);
        EXPECT_TRUE(r.accepts(x.body));
        ExpectIdle();
      });
    }
    // The package into its file.
    CHTTPFileSink* pFile = new CHTTPFileSink();
    pFile->addReference();
    m_exchanges.push_back(std::make_unique<TExchange>());
    TExchange& package = *m_exchanges.back();
    package.target = "/dl/update.cab";
    package.pFile = pFile;
    Add(steps, package, [&] {
      EXPECT_EQ(EHttpComplete, package.Last());
      pFile->Release();
      std::string file = ReadFile(CHTTPFileSink::MakePath(u"update.cab"));
      EXPECT_EQ(300004u, file.size());
      EXPECT_EQ(0u, file.find("MSCF"));
      ExpectIdle();
    });
    Run(steps);
    pFile->removeReference();
    ASSERT_TRUE(WaitForRequests(routes.size() + 1));
    for (const std::string& entry : Requests())
      EXPECT_EQ(bProxy ? "\"absolute\"" : "\"origin\"", qpstest::JsonField(entry, "form"));
    ExpectNoViolation();
    TearDown();
  }
}

TEST_F(RouteE2eTest, EveryUsersPagesParse) {
  StartRoutes();
  std::vector<TStep> steps;
  for (const char* user : {"anna", "zo%C3%AB", "nopic", "empty", "collector"}) {
    for (const char* method : {"getUserInformation", "getUserPlaylist", "getUserRecordings"}) {
      Fetch(steps, std::string("/v2/?method=") + method + "&username=" + user, [user, method](TExchange& x) {
        SCOPED_TRACE(std::string(user) + " " + method);
        EXPECT_EQ(EHttpComplete, x.Last());
        EXPECT_TRUE(std::string(method) == "getUserInformation" ? AcceptsUser(x.body) : AcceptsSearch(x.body));
      });
    }
  }
  Run(steps);
  ExpectNoViolation();
}

TEST_F(RouteE2eTest, TransportFaultsEndWithTheirCodeAndLoseNothing) {
  THTTPCoreTimings timings;
  timings.nIdleMs = 100;
  timings.nIdleLimit = 3;
  // A short idle time-out is how a stall ends; on the virtual clock it runs
  // out only while the server holds its answer back on purpose, never while
  // a starved server thread has yet to give it.
  StartRoutes(false, timings, true);
  struct Fault {
    const char* fault;
    const char* arg;
    std::vector<int32_t> codes;  // any of these ends the exchange
  } faults[] = {
      // A reset seen while no receive is outstanding fails the next one's
      // start (20).
      {"stall", "5", {EHttpIdle}},        {"reset", "", {EHttpSocketFailed, EHttpIoFailed, EHttpClosedEarly}},
      {"truncate", "40", {EHttpClosedEarly}}, {"close", "", {EHttpClosedEarly}},
  };
  std::vector<TStep> steps;
  for (const TRoute& r : Routes()) {
    for (const Fault& f : faults) {
      Fetch(
          steps, r.target,
          [r, f](TExchange& x) {
            SCOPED_TRACE(std::string(r.route) + " " + f.fault);
            EXPECT_TRUE(std::find(f.codes.begin(), f.codes.end(), x.Last()) != f.codes.end()) << x.Last();
            ExpectIdle();
          },
          r.route, f.fault, f.arg);
    }
    // The next request on the route succeeds.
    Fetch(steps, r.target, [r](TExchange& x) {
      SCOPED_TRACE(std::string(r.route) + " after the faults");
      EXPECT_EQ(EHttpComplete, x.Last());
      EXPECT_TRUE(r.accepts(x.body));
    });
  }
  Run(steps);
}

TEST_F(RouteE2eTest, MalformedRepliesAreRefusedWithNothingPending) {
  StartRoutes();
  struct Fault {
    const char* fault;
    const char* arg;
    int32_t code;
  } faults[] = {{"not-xml", "", EHttpComplete},
                {"truncated-xml", "", EHttpComplete},
                {"deep", "1000", EHttpComplete},
                {"huge", "5000000", EHttpComplete},
                {"cl-huge", "", EHttpSinkRefused}};
  std::vector<TStep> steps;
  for (const TRoute& r : Routes()) {
    if (!r.bXml) continue;
    for (const Fault& f : faults) {
      Fetch(
          steps, r.target,
          [r, f](TExchange& x) {
            SCOPED_TRACE(std::string(r.route) + " " + f.fault);
            EXPECT_EQ(f.code, x.Last());
            EXPECT_FALSE(r.accepts(x.body));
            EXPECT_FALSE(LastServerError.m_bPending);
            ExpectIdle();
          },
          r.route, f.fault, f.arg);
    }
  }
  Run(steps);
}

TEST_F(RouteE2eTest, BrokenPicturesFailToDecode) {
  // (A 1 x 20000 picture decodes; refusing it is the scaling's business.)
  StartRoutes();
  std::vector<TStep> steps;
  for (const char* fault : {"png-corrupt", "png-truncated", "not-png", "png-huge"}) {
    Fetch(
        steps, "/img/al1.png",
        [fault](TExchange& x) {
          SCOPED_TRACE(fault);
          EXPECT_EQ(EHttpComplete, x.Last());
          EXPECT_FALSE(AcceptsPng(x.body));
          ExpectIdle();
        },
        "image", fault);
  }
  Run(steps);
}

TEST_F(RouteE2eTest, ProtocolAndFramingFaults) {
  StartRoutes();
  struct Fault {
    const char* fault;
    const char* arg;
    int32_t code;
  } faults[] = {{"http10", "", EHttpBadStatus},     {"no-colon", "", EHttpBadHeader},
                {"dup-length", "", EHttpNoLength},  {"chunk-bad", "", EHttpBadChunk},
                {"no-reason", "", EHttpComplete},   {"lf-only", "", EHttpComplete},
                {"no-space", "", EHttpComplete},    {"te-and-cl", "", EHttpComplete},
                {"chunk-ext", "", EHttpComplete},   {"chunk-upper", "", EHttpComplete},
                {"split", "3", EHttpComplete},      {"te-identity", "", EHttpComplete}};
  std::vector<TStep> steps;
  const TRoute route = Routes()[1];
  for (const Fault& f : faults) {
    Fetch(
        steps, route.target,
        [route, f](TExchange& x) {
          SCOPED_TRACE(f.fault);
          EXPECT_EQ(f.code, x.Last());
          if (f.code == EHttpComplete) {
            EXPECT_TRUE(route.accepts(x.body));
          }
          ExpectIdle();
        },
        route.route, f.fault, f.arg);
  }
  Run(steps);
}

TEST_F(RouteE2eTest, PreviewsAreCachedOnlyWhenCompleteAndNamedSafely) {
  StartApp();
  Control("/_ctl/set?catalogue=edge");
  struct Case {
    const char* id;     // the track id, percent-encoded in the URL
    plat::WString key;  // as the XML gives it
    const char* fault;
    bool bCached;
  } cases[] = {{"t1", u"t1", "", true},          {"t2", u"t2", "mp3-short", false},
               {"t3", u"t3", "truncate", false}, {"T1", u"T1", "", false},
               {"a.b", u"a.b", "", false},       {"..%2Fx", u"../x", "", false},
               {"a%5Cb", u"a\\b", "", false},  {"", u"", "", false}};
  std::vector<TStep> steps;
  for (const Case& c : cases) {
    auto check = [this, &c](TExchange& x) {
      SCOPED_TRACE(c.id);
      ::PreviewStore& store = *CQuorelAppUi::PreviewStore();
      TrackRecord track;
      track.m_nKind = TrackKindPreview;
      track.m_trackId = c.key;
      // What stopping a stream does: only a completed download is committed.
      if (x.Last() == EHttpComplete) {
        std::ofstream(plat::HostPath(store.BufferPath()).value(), std::ios::binary) << x.body;
        store.Commit(track);
      }
      plat::WString name;
      EXPECT_EQ(c.bCached, store.IsCached(track, name));
      if (c.bCached) {
        EXPECT_TRUE(ReadFile(name) == x.body);
      }
      ExpectIdle();
    };
    const std::string fault = c.fault;
    Fetch(steps, std::string("/media/preview-") + c.id + ".mp3", check, "preview", fault.empty() ? nullptr : c.fault,
          fault == "truncate" ? "100" : "");
  }
  Run(steps);
  // Only the one safe, complete preview is in the folder.
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(plat::HostPath(m_previewDir).value()))
    files += entry.path().filename().string().find(".mp3_") != std::string::npos;
  EXPECT_EQ(1u, files);
}

}  // namespace
}  // namespace searchtest
