#include "protocol/SearchResults.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProtocolTestUtil.h"
#include "ReplyDocuments.h"
#include "protocol/ServerError.h"

namespace {

using namespace replydocs;

// A page with one track per entry of `recordingCounts`: track i is "t<i>" and
// its recordings "r<i>-<k>".
void BuildPage(CSearchResults& model, const std::vector<int>& recordingCounts, int32_t rows) {
  CResultPage& page = model.PushPage();
  for (size_t i = 0; i < recordingCounts.size(); ++i) {
    CResultTrack& track = page.m_tracks.emplace_back();
    track.m_trackId = u"t" + plat::Widen(std::to_string(i));
    for (int k = 0; k < recordingCounts[i]; ++k)
      track.m_recordings.emplace_back().m_recordingId = track.m_trackId + u"-" + plat::Widen(std::to_string(k));
  }
  page.m_nRecordingsKept = rows;
}

TEST(PngImageName, ReplacesTheExtensionOfTheLastSegment) {
  const std::pair<plat::WString, plat::WString> cases[] = {
      {u"http://h/img/b.jpg", u"http://h/img/b.png"}, {u"http://host.com/x", u"http://host.com/x.png"},
      {u"", u".png"},                                  {u"a.b.c", u"a.b.png"},
      {u"pic.gif", u"pic.png"},                        {u"http://h/i?x=1.5", u"http://h/i?x=1.png"},
      {u"img.d/u1", u"img.d/u1.png"},                  {u"http://h/dir/", u"http://h/dir/.png"},
  };
  for (const auto& [url, expected] : cases) EXPECT_EQ(PngImageName(url), expected);
}

TEST(DisplayIndex, MapsRowsToTracksAndRecordings) {
  struct Case {
    std::vector<int> counts;
    int32_t rows;
    int32_t index;
    const char16_t* track;      // "" for no row
    const char16_t* recording;  // "" for none
  };
  const Case cases[] = {
      {{1, 1, 1}, 3, 2, u"t2", u"t2-0"},
      {{1, 0, 1}, 2, 1, u"t2", u"t2-0"},
      {{2, 1}, 3, 1, u"t0", u"t0-1"},
      {{2, 1}, 3, 2, u"t1", u"t1-0"},
      {{3, 0, 0, 2}, 5, 4, u"t3", u"t3-1"},
      {{0, 1, 1}, 1, 0, u"t0", u""},    // a single-track page: track 0, no recording
      {{1, 1, 1}, 3, 3, u"", u""},      // past the rows
      {{1, 1, 1}, 3, -1, u"", u""},
      {{1, 1}, 5, 3, u"", u""},         // a row count the tracks cannot fill
      {{}, 2, 0, u"", u""},
  };
  for (const Case& c : cases) {
    CSearchResults model;
    BuildPage(model, c.counts, c.rows);
    EXPECT_EQ(model.TrackId(c.index), c.track) << c.index << " of " << c.counts.size();
    EXPECT_EQ(model.RecordingId(c.index), c.recording) << c.index << " of " << c.counts.size();
  }
}

TEST(SearchResultsModel, ReadersWithoutAPageOrOutOfRange) {
  CSearchResults model;
  EXPECT_EQ(model.TotalRecords(), 0);
  EXPECT_EQ(model.RecordingCount(), 0);
  EXPECT_EQ(model.SearchId(), u"");
  EXPECT_EQ(model.TrackName(0), u"");
  EXPECT_EQ(model.ArtistName(0), u"");
  EXPECT_EQ(model.AlbumImageName(0), u"");
  EXPECT_EQ(model.RecordingUserName(0), u"");
  EXPECT_EQ(model.UserImageName(0), u"");
  EXPECT_EQ(model.UpdateMessageUrl(), u"");
  for (int32_t i : {-1, 0, 1}) {
    EXPECT_EQ(model.VideoLink(i), u"");
    EXPECT_EQ(model.BuyLinkUrl(i), u"");
    EXPECT_EQ(model.BuyLinkStoreName(i), u"");
    EXPECT_EQ(model.LyricsLinkUrl(i), u"");
  }
  model.Clear();  // nothing to drop
  EXPECT_EQ(model.Page(), nullptr);
}

TEST(SearchResultsModel, PagesChainAndLoadingKeepsOne) {
  CSearchResults model;
  for (int i = 10; i < 13; ++i) model.PushPage().m_nTotalRecords = i;
  EXPECT_EQ(model.TotalRecords(), 12);
  model.Clear();
  EXPECT_EQ(model.TotalRecords(), 11);

  // Each load replaces the newest page only.
  ASSERT_TRUE(model.LoadText(kFlatSearch));
  ASSERT_TRUE(model.LoadText(kGroupedSearch));
  EXPECT_EQ(model.SearchId(), u"s-1002");
  ASSERT_NE(model.Page()->m_pPrevious, nullptr);
  EXPECT_EQ(model.Page()->m_pPrevious->m_nTotalRecords, 10);
  EXPECT_EQ(model.Page()->m_pPrevious->m_pPrevious, nullptr);
  model.Clear();
  EXPECT_EQ(model.TotalRecords(), 10);
  // The destructor frees the remaining chain (checked by the leak sanitizer).
  for (int i = 0; i < 50; ++i) model.PushPage().m_tracks.resize(3);
}

class SearchReply : public ProtocolTest {};

TEST_F(SearchReply, FlatReplyReadsEveryRowAndOnlyTheFirstRecording) {
  CSearchResults model;
  ASSERT_TRUE(model.LoadText(kFlatSearch));
  EXPECT_EQ(model.SearchId(), u"s-1001");
  EXPECT_EQ(model.TotalRecords(), 2);
  EXPECT_EQ(model.RecordingCount(), 2);
  EXPECT_EQ(model.Page()->m_nRecordsStart, 1);
  EXPECT_EQ(model.TrackName(0), u"First Song");
  EXPECT_EQ(model.AlbumName(0), u"First Album");
  EXPECT_EQ(model.ArtistName(0), u"Some Artist");
  EXPECT_EQ(model.Page()->m_tracks[0].m_artists.size(), 2u);
  EXPECT_EQ(model.VideoUrl(0), u"http://127.0.0.1:8080/v2/?method=getVideos&track_id=t1");
  EXPECT_EQ(model.AudioPreviewUrl(0), u"http://127.0.0.1:8080/media/t1.mp3");
  EXPECT_EQ(model.AlbumImageName(0), u"http://127.0.0.1:8080/img/al1.png");
  EXPECT_EQ(model.RecordingId(0), u"r1");
  EXPECT_EQ(model.RecordingFullUrl(0), u"http://127.0.0.1:8080/rec/r1.mp3");
  EXPECT_EQ(model.RecordingMatchedUrl(0), u"http://127.0.0.1:8080/rec/r1-match.mp3");
  EXPECT_EQ(model.RecordingUserName(0), u"alice");
  EXPECT_EQ(model.Page()->m_tracks[0].m_recordings.size(), 1u);
  EXPECT_EQ(model.Page()->m_tracks[0].m_recordings[0].m_users.size(), 2u);
  EXPECT_EQ(model.UserImageName(0), u"http://127.0.0.1:8080/img/alice.png");
  EXPECT_EQ(model.TrackId(1), u"t2");
  EXPECT_EQ(model.AlbumImageName(1), u"");  // no album image stays empty
  EXPECT_EQ(model.RecordingMatchedUrl(1), u"");
  EXPECT_EQ(model.UserImageName(1), u"http://127.0.0.1:8080/img/dave.png");
  EXPECT_FALSE(LastServerError.m_bPending);
}

TEST_F(SearchReply, GroupedReplyReadsInDocumentOrderAndCountsTotal) {
  CSearchResults model;
  ASSERT_TRUE(model.LoadText(kGroupedSearch));
  EXPECT_EQ(model.TotalRecords(), 3);  // 0 in the reply: the count
  ASSERT_EQ(model.RecordingCount(), 3);
  EXPECT_EQ(model.TrackId(0), u"g1");
  EXPECT_EQ(model.TrackId(1), u"g2");
  EXPECT_EQ(model.TrackId(2), u"g3");
  EXPECT_EQ(model.RecordingUserName(2), u"u3");
}

TEST_F(SearchReply, SingleTrackFallbackAndEmptyResults) {
  CSearchResults model;
  ASSERT_TRUE(model.LoadText(kSingleTrack));
  EXPECT_EQ(model.TotalRecords(), 1);
  EXPECT_EQ(model.RecordingCount(), 1);
  EXPECT_EQ(model.Page()->m_tracks.size(), 1u);
  EXPECT_EQ(model.TrackId(0), u"t9");
  EXPECT_EQ(model.ArtistName(0), u"X");
  EXPECT_EQ(model.AlbumImageName(0), u"http://h/img/a9.png");
  EXPECT_EQ(model.RecordingId(0), u"");
  EXPECT_EQ(model.RecordingUserName(0), u"");
  EXPECT_EQ(model.SearchId(), u"");  // not read from a single-track reply

  ASSERT_TRUE(model.LoadText(kEmptySearch));
  EXPECT_EQ(model.SearchId(), u"s-1003");
  EXPECT_EQ(model.RecordingCount(), 0);
  EXPECT_TRUE(model.Page()->m_tracks.empty());
  EXPECT_EQ(model.TrackId(0), u"");
}

TEST_F(SearchReply, StructuralCases) {
  const char* track = R"(<track track_id="a"><artists><artist/></artists><recordings><recording recording_id="r"><users><user/></users></recording></recordings></track>)";
  struct Case {
    std::string text;
    bool bResult;
    int32_t total;
    int32_t rows;
  };
  const Case cases[] = {
      // records_end 0 with records_start: empty page, tracks unread.
      {std::string("<orlamet total_records='5' records_start='1' records_end='0'><tracks>") + track + "</tracks></orlamet>", true, 5, 0},
      // records_end 0 alone does not stop the parse.
      {std::string("<orlamet records_end='0'><tracks>") + track + track + "</tracks></orlamet>", true, 2, 2},
      {std::string("<orlamet total_records='abc'><tracks>") + track + "</tracks><tracks>" + track + "</tracks></orlamet>", true, 2, 2},
      // Out of the 32-bit range is not an integer either.
      {std::string("<orlamet total_records='99999999999'><tracks>") + track + "</tracks></orlamet>", true, 1, 1},
      {std::string("<orlamet total_records='12abc'><tracks>") + track + "</tracks></orlamet>", true, 12, 1},
      // "recordings" without a recording: the single-track reading.
      {"<orlamet total_records='4'><tracks><track track_id='a'><artists><artist/></artists><recordings/></track></tracks></orlamet>", true, 1, 1},
      // A track without artists fails both readings.
      {"<orlamet><tracks><track track_id='a'><recordings><recording><users><user/></users></recording></recordings></track></tracks></orlamet>", false, 0, 0},
      {"<orlamet><tracks><track track_id='a'><artists/><recordings><recording><users><user/></users></recording></recordings></track></tracks></orlamet>", false, 0, 0},
      // A recording without users fails the search reading.
      {"<orlamet><tracks><track track_id='a'><artists><artist/></artists><recordings><recording/></recordings></track></tracks></orlamet>", true, 1, 1},
      // Comments and text named like elements are not elements.
      {std::string("<orlamet><!--error--><!--tracks-->tracks<tracks><!--track-->track") + track + "</tracks></orlamet>", true, 1, 1},
      {"<orlamet><tracks><!--track--></tracks></orlamet>", true, 0, 0},
      {"<orlamet/>", true, 0, 0},   // no tracks at all: an empty result
      {"<orlamet total_records='3'><track/></orlamet>", true, 3, 0},  // a track outside "tracks" is none
      {"<orlamet a='1' a='2'/>", false, 0, 0},  // a duplicate attribute is a parse error
  };
  for (const Case& c : cases) {
    CSearchResults model;
    EXPECT_EQ(model.LoadText(c.text.c_str()), c.bResult) << c.text;
    ASSERT_NE(model.Page(), nullptr) << c.text;
    EXPECT_EQ(model.Page()->m_pPrevious, nullptr) << c.text;
    EXPECT_EQ(model.TotalRecords(), c.total) << c.text;
    EXPECT_EQ(model.RecordingCount(), c.rows) << c.text;
    EXPECT_FALSE(LastServerError.m_bPending) << c.text;
  }
}

TEST_F(SearchReply, ErrorRepliesOfBothForms) {
  struct Case {
    std::string text;
    plat::WString type;
    plat::WString message;
    plat::WString link;
    bool bRequired;
  };
  std::vector<Case> cases;
  for (const char* type : {"error", "error_query", "error_busy"}) {
    for (const char* persistence : {"serverMessage", "ServerMessage", "checkForUpdate", "CheckForUpdate", "exit", "Exit", "other"})
      cases.push_back({std::string("<orlamet message_type='") + type + "' message_text='Too short' message_persistence='" +
                           persistence + "'/>",
                       plat::Widen(persistence), u"Too short", u"", false});
  }
  for (const char* required : {"true", "True", "t"})
    cases.push_back({std::string("<orlamet><error type='exit' display_text='Bye' url='http://h/i' required='") + required + "'/></orlamet>",
                     u"exit", u"Bye", u"http://h/i", true});
  for (const char* required : {"yes", "false", ""})
    cases.push_back({std::string("<orlamet><error type='serverMessage' display_text='Hi' required='") + required + "'/></orlamet>",
                     u"serverMessage", u"Hi", u"", false});
  cases.push_back({"<orlamet><error/></orlamet>", u"", u"", u"", false});
  // Both forms: the root's wins.
  cases.push_back({"<orlamet message_type='error' message_text='Root' message_persistence='exit'><error type='x' display_text='Child' url='u' required='true'/></orlamet>",
                   u"exit", u"Root", u"", false});
  // A reply cut off after its error root still shows the error.
  cases.push_back({"<orlamet message_type='error_busy' message_text='Busy' message_persistence='serverMessage'><tracks>",
                   u"serverMessage", u"Busy", u"", false});

  for (const Case& c : cases) {
    CSearchResults model;
    EXPECT_FALSE(model.LoadText(c.text.c_str())) << c.text;
    ASSERT_NE(model.Page(), nullptr);
    EXPECT_EQ(model.Page()->m_pPrevious, nullptr);
    EXPECT_TRUE(model.Page()->m_tracks.empty());
    TServerMessage message;
    ASSERT_TRUE(GetServerErrorMessage(message)) << c.text;
    EXPECT_EQ(message.m_type, c.type) << c.text;
    EXPECT_EQ(message.m_text, c.message) << c.text;
    EXPECT_EQ(message.m_link, c.link) << c.text;
    EXPECT_EQ(message.m_bRequired != 0, c.bRequired) << c.text;
    EXPECT_TRUE(GetServerErrorMessage(message));  // still pending
  }
}

TEST_F(SearchReply, WhatIsNotAResultLeavesOneEmptyPageAndNothingPending) {
  const std::string nested = DeepNesting(100000);
  std::vector<std::string> bodies = {"not xml at all", "", "<html><body/></html>", "<a/><orlamet/>", nested};
  std::string manyTracks = "<orlamet><tracks>";
  for (int i = 0; i < 300000; ++i) manyTracks += "<track/>";
  bodies.push_back(manyTracks + "</tracks></orlamet>");
  for (const std::string& body : bodies) {
    CSearchResults model;
    model.PushPage();
    ASSERT_TRUE(model.LoadText(kRootError) == false && LastServerError.m_bPending);
    EXPECT_FALSE(model.LoadBuffer(body.data(), body.size())) << body.substr(0, 40);
    ASSERT_NE(model.Page(), nullptr);
    EXPECT_TRUE(model.Page()->m_tracks.empty());
    EXPECT_EQ(model.Page()->m_pPrevious, nullptr);
    TServerMessage message;
    message.m_text = u"untouched";
    EXPECT_FALSE(GetServerErrorMessage(message)) << body.substr(0, 40);
    EXPECT_EQ(message.m_text, u"untouched");
  }
  CSearchResults model;
  EXPECT_FALSE(model.LoadText(nullptr));
  EXPECT_FALSE(model.LoadBuffer(nullptr, 0));
  EXPECT_FALSE(model.LoadBuffer(nullptr, 64));
  EXPECT_EQ(model.Page()->m_pPrevious, nullptr);
}

TEST_F(SearchReply, BuffersAreReadToTheirLengthAndNeverWritten) {
  const std::string text = kFlatSearch;
  std::vector<char> exact(text.begin(), text.end());  // no terminator
  const std::vector<char> before = exact;
  CSearchResults model;
  ASSERT_TRUE(model.LoadBuffer(exact.data(), exact.size()));
  EXPECT_EQ(model.RecordingCount(), 2);
  EXPECT_EQ(exact, before);
  // The same bytes cut short are not a reply.
  EXPECT_FALSE(model.LoadBuffer(exact.data(), exact.size() - 12));
}

TEST_F(SearchReply, KoreanInterfaceReplacesEveryErrorText) {
  *CurrentLanguageIndex() = 18;
  const plat::WString korean = u"녹음길이가 너무 짧습니다. 5초 이상 녹음 해 주세요.";
  ASSERT_EQ(korean.size(), 30u);
  CSearchResults model;
  for (const char* text : {kRootError, kElementError, "<orlamet message_type='error_busy' message_text='Busy'/>"}) {
    EXPECT_FALSE(model.LoadText(text));
    TServerMessage message;
    ASSERT_TRUE(GetServerErrorMessage(message));
    EXPECT_EQ(message.m_text, korean);
  }
  EXPECT_FALSE(model.LoadText("not xml"));
  EXPECT_FALSE(LastServerError.m_bPending);
  EXPECT_EQ(LastServerError.m_text, korean);
  *CurrentLanguageIndex() = 17;
  EXPECT_FALSE(model.LoadText(kRootError));
  EXPECT_EQ(LastServerError.m_text, u"Recording is too short");
}

TEST_F(SearchReply, TextEncodings) {
  struct Case {
    std::string text;
    plat::WString name;
  };
  const Case cases[] = {
      {"<?xml version='1.0' encoding='UTF-8'?><orlamet total_records='1'><tracks><track track_name='&#x4E2D;&amp;'><artists><artist/></artists></track></tracks></orlamet>", u"\u4E2D&"},
      {"\xEF\xBB\xBF<orlamet total_records='1'><tracks><track track_name='\xE4\xB8\xAD'><artists><artist/></artists></track></tracks></orlamet>", u"\u4E2D"},
      {"<orlamet total_records='1'><tracks><track track_name='x\xFFy'><artists><artist/></artists></track></tracks></orlamet>", u"x\uFFFDy"},
  };
  for (const Case& c : cases) {
    CSearchResults model;
    ASSERT_TRUE(model.LoadText(c.text.c_str())) << c.text;
    EXPECT_EQ(model.TrackName(0), c.name) << c.text;
  }
}

}  // namespace
