#include "protocol/SearchResults.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "ProtocolTestUtil.h"
#include "ReplyDocuments.h"

namespace {

using namespace replydocs;

TEST(SearchResultsModel, PngImageName) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"http://h/img/b.jpg", u"http://h/img/b.png"}, {u"http://host.com/x", u"http://host.com/x.png"},
      {u"", u".png"}, {u"a.b.c", u"a.b.png"}, {u"pic.gif", u"pic.png"},
      {u"http://h/i?x=1.5", u"http://h/i?x=1.png"}, {u"img.d/u1", u"img.d/u1.png"}};
  for (const auto& [url, expected] : cases) EXPECT_EQ(PngImageName(url), expected);
}

TEST(SearchResultsModel, DisplayRowsMapToTracksAndRecordings) {
  struct Case {
    std::vector<int> counts;  // recordings of track i ("t<i>", recordings "t<i>-<k>")
    int32_t rows, index;
    const char16_t* track;      // "" for no row
    const char16_t* recording;  // "" for none
  };
  const Case cases[] = {
      {{1, 1, 1}, 3, 2, u"t2", u"t2-0"},  {{1, 0, 1}, 2, 1, u"t2", u"t2-0"},
      {{2, 1}, 3, 1, u"t0", u"t0-1"},     {{3, 0, 0, 2}, 5, 4, u"t3", u"t3-1"},
      {{0, 1, 1}, 1, 0, u"t0", u""},      // a single-track page: track 0, no recording
      {{1, 1, 1}, 3, 3, u"", u""},        {{1, 1, 1}, 3, -1, u"", u""},
      {{1, 1}, 5, 3, u"", u""},           // more rows claimed than the tracks hold
      {{}, 2, 0, u"", u""}};
  for (const Case& c : cases) {
    CSearchResults model;
    CResultPage& page = model.PushPage();
    page.m_nRecordingsKept = c.rows;
    for (size_t i = 0; i < c.counts.size(); ++i) {
      CResultTrack& track = page.m_tracks.emplace_back();
      track.m_trackId = u"t" + plat::Widen(std::to_string(i));
      for (int k = 0; k < c.counts[i]; ++k)
        track.m_recordings.emplace_back().m_recordingId = track.m_trackId + u"-" + plat::Widen(std::to_string(k));
    }
    EXPECT_EQ(model.TrackId(c.index), c.track) << c.index;
    EXPECT_EQ(model.RecordingId(c.index), c.recording) << c.index;
  }
  CSearchResults none;  // no page at all
  EXPECT_EQ(none.TotalRecords() + none.RecordingCount(), 0);
  EXPECT_EQ(none.SearchId() + none.TrackName(0) + none.UserImageName(0) + none.AlbumImageName(0), u"");
  none.Clear();
}

TEST(SearchResultsModel, RowReadersIndexAPageOnce) {
  // 20 000 tracks of 0 to 3 recordings; each row is checked against a plain
  // walk over the tracks.
  CSearchResults model;
  CResultPage& page = model.PushPage();
  std::vector<std::pair<plat::WString, plat::WString>> expected;  // track, recording per row
  for (int i = 0; i < 20000; ++i) {
    CResultTrack& track = page.m_tracks.emplace_back();
    track.m_trackId = u"t" + plat::Widen(std::to_string(i));
    for (int k = 0; k < (i * 7 + 1) % 4; ++k) {
      track.m_recordings.emplace_back().m_recordingId = track.m_trackId + u"-" + plat::Widen(std::to_string(k));
      expected.emplace_back(track.m_trackId, track.m_recordings.back().m_recordingId);
    }
  }
  page.m_nRecordingsKept = static_cast<int32_t>(expected.size());
  for (int pass = 0; pass < 2; ++pass) {
    size_t mismatches = 0;
    for (size_t row = 0; row < expected.size(); ++row) {
      const int32_t index = static_cast<int32_t>(row);
      mismatches += model.TrackId(index) != expected[row].first || model.RecordingId(index) != expected[row].second;
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(model.TracksIndexed(), page.m_tracks.size()) << "pass " << pass;
  }

  // A page changed after it was read is indexed again.
  page.m_tracks[0].m_recordings.emplace_back().m_recordingId = u"extra";
  CResultTrack& last = page.m_tracks.emplace_back();
  last.m_trackId = u"last";
  last.m_recordings.emplace_back().m_recordingId = u"last-0";
  page.m_nRecordingsKept += 2;
  EXPECT_EQ(model.RecordingId(page.m_nRecordingsKept - 1), u"last-0");
  EXPECT_EQ(model.RecordingId(static_cast<int32_t>(page.m_tracks[0].m_recordings.size()) - 1), u"extra");
  page.m_nRecordingsKept -= static_cast<int32_t>(page.m_tracks[2].m_recordings.size());
  page.m_tracks[2].m_recordings.clear();  // the count of tracks stays
  EXPECT_EQ(model.TrackId(page.m_nRecordingsKept - 1) + model.TrackId(page.m_nRecordingsKept - 2), u"lastt19999");
}

TEST(SearchResultsModel, LoadingReplacesOnlyTheNewestPage) {
  CSearchResults model;
  for (int i = 10; i < 13; ++i) model.PushPage().m_nTotalRecords = i;
  model.Clear();
  ASSERT_TRUE(model.LoadText(kFlatSearch));
  ASSERT_TRUE(model.LoadText(kGroupedSearch));
  EXPECT_EQ(model.SearchId(), u"s-1002");
  ASSERT_NE(model.Page()->m_pPrevious, nullptr);
  EXPECT_EQ(model.Page()->m_pPrevious->m_nTotalRecords, 10);
  EXPECT_EQ(model.Page()->m_pPrevious->m_pPrevious, nullptr);
  for (int i = 0; i < 50; ++i) model.PushPage().m_tracks.resize(3);  // freed by the destructor
}

class SearchReply : public ProtocolTest {};

TEST_F(SearchReply, FlatGroupedAndSingleTrackReplies) {
  CSearchResults model;
  ASSERT_TRUE(model.LoadText(kFlatSearch));
  EXPECT_EQ(model.SearchId(), u"s-1001");
  EXPECT_EQ(model.TotalRecords(), 2);
  ASSERT_EQ(model.RecordingCount(), 2);
  EXPECT_EQ(model.TrackName(0) + u"|" + model.AlbumName(0) + u"|" + model.ArtistName(0), u"First Song|First Album|Some Artist");
  EXPECT_EQ(model.VideoUrl(0), u"http://127.0.0.1:8080/v2/?method=getVideos&track_id=t1");
  EXPECT_EQ(model.AudioPreviewUrl(0), u"http://127.0.0.1:8080/media/t1.mp3");
  EXPECT_EQ(model.AlbumImageName(0), u"http://127.0.0.1:8080/img/al1.png");
  EXPECT_EQ(model.RecordingId(0) + u"|" + model.RecordingFullUrl(0) + u"|" + model.RecordingUserName(0),
            u"r1|http://127.0.0.1:8080/rec/r1.mp3|alice");
  EXPECT_EQ(model.RecordingMatchedUrl(0), u"http://127.0.0.1:8080/rec/r1-match.mp3");
  const CResultTrack& first = model.Page()->m_tracks[0];
  EXPECT_EQ(first.m_artists.size(), 2u);
  ASSERT_EQ(first.m_recordings.size(), 1u);  // only the first recording
  EXPECT_EQ(first.m_recordings[0].m_users.size(), 2u);
  EXPECT_EQ(model.UserImageName(0), u"http://127.0.0.1:8080/img/alice.png");
  EXPECT_EQ(model.TrackId(1), u"t2");
  EXPECT_EQ(model.AlbumImageName(1), u"");  // no image stays empty
  EXPECT_EQ(model.UserImageName(1), u"http://127.0.0.1:8080/img/dave.png");

  ASSERT_TRUE(model.LoadText(kGroupedSearch));  // document order, total from the count
  EXPECT_EQ(model.TotalRecords(), 3);
  EXPECT_EQ(model.TrackId(0) + model.TrackId(1) + model.TrackId(2), u"g1g2g3");
  EXPECT_EQ(model.RecordingUserName(2), u"u3");

  ASSERT_TRUE(model.LoadText(kSingleTrack));
  EXPECT_EQ(std::make_tuple(model.TotalRecords(), model.RecordingCount(), model.Page()->m_tracks.size()), std::make_tuple(1, 1, 1u));
  EXPECT_EQ(model.TrackId(0) + u"|" + model.ArtistName(0) + u"|" + model.AlbumImageName(0), u"t9|X|http://h/img/a9.png");
  EXPECT_EQ(model.RecordingId(0) + model.RecordingUserName(0) + model.SearchId(), u"");

  ASSERT_TRUE(model.LoadText(kEmptySearch));
  EXPECT_EQ(model.SearchId(), u"s-1003");
  EXPECT_EQ(model.RecordingCount(), 0);
  EXPECT_EQ(model.TrackId(0), u"");
  EXPECT_FALSE(LastServerError.m_bPending);
}

TEST_F(SearchReply, StructuralCases) {
  const std::string track = "<track track_id='a'><artists><artist/></artists><recordings><recording recording_id='r'>"
                            "<users><user/></users></recording></recordings></track>";
  struct Case {
    std::string text;
    bool bResult;
    int32_t total, rows;
  };
  const Case cases[] = {
      {"<orlamet total_records='5' records_start='1' records_end='0'><tracks>" + track + "</tracks></orlamet>", true, 5, 0},
      {"<orlamet records_end='0'><tracks>" + track + track + "</tracks></orlamet>", true, 2, 2},
      {"<orlamet total_records='abc'><tracks>" + track + "</tracks><tracks>" + track + "</tracks></orlamet>", true, 2, 2},
      {"<orlamet total_records='99999999999'><tracks>" + track + "</tracks></orlamet>", true, 1, 1},
      {"<orlamet total_records='12abc'><tracks>" + track + "</tracks></orlamet>", true, 12, 1},
      // A negative total reads as 0, counted; a negative end closes no range.
      {"<orlamet total_records='-3' records_start='1' records_end='-1'><tracks>" + track + "</tracks></orlamet>", true, 1, 1},
      // No recording, or no user: the single-track reading.
      {"<orlamet total_records='4'><tracks><track><artists><artist/></artists><recordings/></track></tracks></orlamet>", true, 1, 1},
      {"<orlamet><tracks><track><artists><artist/></artists><recordings><recording/></recordings></track></tracks></orlamet>", true, 1, 1},
      // No artist fails both readings.
      {"<orlamet><tracks><track><artists/><recordings><recording><users><user/></users></recording></recordings></track></tracks></orlamet>", false, 0, 0},
      // Comments and text named like elements are not elements.
      {"<orlamet><!--error--><!--tracks-->tracks<tracks><!--track-->track" + track + "</tracks></orlamet>", true, 1, 1},
      {"<orlamet total_records='3'><track/></orlamet>", true, 3, 0},
      {"<orlamet a='1' a='2'/>", false, 0, 0},  // duplicate attributes do not parse
  };
  for (const Case& c : cases) {
    CSearchResults model;
    EXPECT_EQ(model.LoadText(c.text.c_str()), c.bResult) << c.text;
    ASSERT_NE(model.Page(), nullptr);
    EXPECT_EQ(model.Page()->m_pPrevious, nullptr) << c.text;
    EXPECT_EQ(model.TotalRecords(), c.total) << c.text;
    EXPECT_EQ(model.RecordingCount(), c.rows) << c.text;
    EXPECT_FALSE(LastServerError.m_bPending) << c.text;
  }
}

TEST_F(SearchReply, ErrorRepliesOfBothForms) {
  struct Case {
    std::string text;
    plat::WString expected;  // type|text|link|required
  };
  std::vector<Case> cases;
  for (const char* type : {"error", "error_query", "error_busy"})
    for (const char* persistence : {"serverMessage", "CheckForUpdate", "exit", "other"})
      cases.push_back({std::string("<orlamet message_type='") + type + "' message_text='Short' message_persistence='" +
                           persistence + "'/>",
                       plat::Widen(persistence) + u"|Short||0"});
  for (const char* required : {"true", "True", "t"})
    cases.push_back({std::string("<orlamet><error type='exit' display_text='Bye' url='http://h/i' required='") + required +
                         "'/></orlamet>", u"exit|Bye|http://h/i|1"});
  for (const char* required : {"yes", "false", ""})
    cases.push_back({std::string("<orlamet><error type='t' display_text='Hi' required='") + required + "'/></orlamet>", u"t|Hi||0"});
  cases.push_back({"<orlamet><error/></orlamet>", u"|||0"});
  cases.push_back({"<orlamet message_type='error' message_text='Root' message_persistence='exit'>"
                   "<error type='x' display_text='Child' url='u' required='true'/></orlamet>", u"exit|Root||0"});  // root wins
  cases.push_back({"<orlamet message_type='error_busy' message_text='Cut' message_persistence='p'><tracks>", u"p|Cut||0"});

  for (const Case& c : cases) {
    CSearchResults model;
    EXPECT_FALSE(model.LoadText(c.text.c_str())) << c.text;
    ASSERT_TRUE(model.Page() && !model.Page()->m_pPrevious && model.Page()->m_tracks.empty());
    TServerMessage message;
    ASSERT_TRUE(GetServerErrorMessage(message)) << c.text;
    EXPECT_EQ(message.m_type + u"|" + message.m_text + u"|" + message.m_link + (message.m_bRequired ? u"|1" : u"|0"), c.expected)
        << c.text;
    EXPECT_TRUE(GetServerErrorMessage(message));  // still pending
  }
  TServerMessage untouched;
  untouched.m_text = u"mine";
  CSearchResults model;
  EXPECT_FALSE(model.LoadText("<html><orlamet message_type='error'/></html>"));  // no orlamet root
  EXPECT_FALSE(GetServerErrorMessage(untouched));
  EXPECT_EQ(untouched.m_text, u"mine");
}

TEST_F(SearchReply, KoreanInterfaceReplacesEveryErrorText) {
  *CurrentLanguageIndex() = 18;
  const plat::WString korean = u"녹음길이가 너무 짧습니다. 5초 이상 녹음 해 주세요.";
  ASSERT_EQ(korean.size(), 30u);
  CSearchResults model;
  for (const char* text : {kRootError, kElementError}) {
    EXPECT_FALSE(model.LoadText(text));
    EXPECT_TRUE(LastServerError.m_bPending && LastServerError.m_text == korean);
  }
  EXPECT_FALSE(model.LoadText("not xml"));
  EXPECT_TRUE(!LastServerError.m_bPending && LastServerError.m_text == korean);
  *CurrentLanguageIndex() = 17;
  EXPECT_FALSE(model.LoadText(kRootError));
  EXPECT_EQ(LastServerError.m_text, u"Recording is too short");
}

TEST_F(SearchReply, TextEncodings) {
  const std::string track = "<orlamet total_records='1'><tracks><track track_name='";
  const std::string rest = "'><artists><artist/></artists></track></tracks></orlamet>";
  const std::pair<std::string, plat::WString> cases[] = {
      {"<?xml version='1.0' encoding='UTF-8'?>" + track + "&#x4E2D;&amp;" + rest, u"\u4E2D&"},
      {"\xEF\xBB\xBF" + track + "\xE4\xB8\xAD" + rest, u"\u4E2D"},
      {track + "x\xFFy" + rest, u"x\uFFFDy"}};
  for (const auto& [text, name] : cases) {
    CSearchResults model;
    ASSERT_TRUE(model.LoadText(text.c_str())) << text;
    EXPECT_EQ(model.TrackName(0), name) << text;
  }
}

}  // namespace
