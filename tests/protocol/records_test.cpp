#include "protocol/Records.h"

#include <gtest/gtest.h>

#include "ProtocolTestUtil.h"
#include "protocol/AppSettings.h"

namespace {

TrackRecord FilledRecord() {
  TrackRecord record;
  record.m_nKind = 2;
  record.m_trackImageUrl = u"image";
  record.m_savedImageUrl = u"saved";
  record.m_matchedUrl = u"matched";
  record.m_audioPreviewUrl = u"preview";
  record.m_fullUrl = u"full";
  record.m_videoUrl = u"video";
  record.m_trackName = u"name";
  record.m_artistName = u"artist";
  record.m_albumName = u"album";
  record.m_trackId = u"t1";
  record.m_recordingId = u"r1";
  record.m_nItemIndex = 4;
  record.m_nSubItemIndex = 5;
  return record;
}

bool SameFields(const TrackRecord& a, const TrackRecord& b) {
  return a.m_nKind == b.m_nKind && a.m_trackImageUrl == b.m_trackImageUrl && a.m_savedImageUrl == b.m_savedImageUrl &&
         a.m_matchedUrl == b.m_matchedUrl && a.m_audioPreviewUrl == b.m_audioPreviewUrl && a.m_fullUrl == b.m_fullUrl &&
         a.m_videoUrl == b.m_videoUrl && a.m_trackName == b.m_trackName && a.m_artistName == b.m_artistName &&
         a.m_albumName == b.m_albumName && a.m_trackId == b.m_trackId && a.m_recordingId == b.m_recordingId &&
         a.m_nItemIndex == b.m_nItemIndex && a.m_nSubItemIndex == b.m_nSubItemIndex;
}

TEST(TrackRecord, NewCopiedAndAssigned) {
  const TrackRecord fresh;
  EXPECT_EQ(fresh.m_nKind, 0);
  EXPECT_EQ(fresh.m_nItemIndex, -1);
  EXPECT_EQ(fresh.m_nSubItemIndex, -1);
  EXPECT_TRUE(fresh.m_trackId.empty() && fresh.m_fullUrl.empty());

  const TrackRecord filled = FilledRecord();
  TrackRecord copy(filled);
  EXPECT_TRUE(SameFields(copy, filled));
  TrackRecord assigned;
  assigned = filled;
  EXPECT_TRUE(SameFields(assigned, filled));
  assigned = fresh;
  EXPECT_TRUE(SameFields(assigned, fresh));
}

TEST(TrackRecord, PreviewSourceAndCacheKeyByKind) {
  struct Case {
    int32_t kind;
    const char16_t* url;
    bool bCached;
    const char16_t* key;
  };
  const Case cases[] = {{0, u"matched", false, u""}, {1, u"full", true, u"r1"},
                        {2, u"preview", true, u"t1"}, {5, u"", false, u""}, {-1, u"", false, u""}};
  for (const Case& c : cases) {
    TrackRecord record = FilledRecord();
    record.m_nKind = c.kind;
    const TPreviewKey preview = record.PreviewKey();
    EXPECT_EQ(preview.m_url, c.url) << c.kind;
    EXPECT_EQ(preview.m_trackId, u"t1") << c.kind;
    plat::WString key = u"untouched";
    EXPECT_EQ(record.CacheKey(key), c.bCached) << c.kind;
    EXPECT_EQ(key, c.bCached ? plat::WString(c.key) : plat::WString(u"untouched")) << c.kind;
  }
}

// Tells when it is deleted.
class CWatchedUser : public CUserRecord {
 public:
  explicit CWatchedUser(bool* pDeleted) : m_pDeleted(pDeleted) {}
  ~CWatchedUser() override { *m_pDeleted = true; }

 private:
  bool* m_pDeleted;
};

TEST(UserRecord, SharedAndReleasedWithItsModels) {
  bool bDeleted = false;
  CUserRecord* pCurrent = nullptr;
  CUserRecord* pHistory = nullptr;
  auto* pUser = new CWatchedUser(&bDeleted);
  EXPECT_EQ(pUser->ReferenceCount(), 0);
  EXPECT_EQ(pUser->m_bInformationLoaded + pUser->m_bPlaylistLoaded + pUser->m_bRecordingsLoaded, 0);
  EXPECT_EQ(pUser->m_nPlaylistTotal + pUser->m_nRecordingsTotal, 0);
  ASSERT_TRUE(pUser->m_playlist.LoadText("<orlamet total_records='1'><tracks><track><artists><artist/></artists></track></tracks></orlamet>"));
  pUser->m_recordings.PushPage();

  RefPtr::Assign(pCurrent, pUser);
  EXPECT_EQ(pUser->ReferenceCount(), 1);
  RefPtr::Assign(pCurrent, pCurrent);  // the one holder assigning itself
  EXPECT_FALSE(bDeleted);
  EXPECT_EQ(pUser->ReferenceCount(), 1);
  RefPtr::Assign(pHistory, pCurrent);
  RefPtr::Assign(pCurrent, static_cast<CUserRecord*>(nullptr));
  EXPECT_FALSE(bDeleted);
  EXPECT_EQ(pHistory->m_playlist.TotalRecords(), 1);
  RefPtr::Assign(pHistory, static_cast<CUserRecord*>(nullptr));
  EXPECT_TRUE(bDeleted);  // the models went with it (the leak sanitizer checks)
}

class Settings : public ProtocolTest {};

TEST_F(Settings, SwitchesAreOnUnlessStoredZero) {
  const std::pair<const char16_t*, bool (*)()> readers[] = {
      {u"isAMG", IsAMGEnabled}, {u"isVideo", IsVideoEnabled}, {u"isLyrics", IsLyricsEnabled}, {u"isPreview", IsPreviewEnabled}};
  for (const auto& [name, reader] : readers) {
    EXPECT_TRUE(reader()) << plat::ToUtf8(name);
    RegSetAppDword(name, 0);
    EXPECT_FALSE(reader());
    RegSetAppDword(name, 7);
    EXPECT_TRUE(reader());
    RegSetAppString(name, u"0");  // not a DWORD: reads as 0
    EXPECT_FALSE(reader());
  }
  const std::pair<void (*)(bool), bool (*)()> pairs[] = {{SetAMGEnabled, IsAMGEnabled}, {SetVideoEnabled, IsVideoEnabled},
                                                         {SetLyricsEnabled, IsLyricsEnabled}, {SetPreviewEnabled, IsPreviewEnabled}};
  for (const auto& [setter, reader] : pairs) {
    setter(true);
    EXPECT_TRUE(reader());
    setter(false);
    EXPECT_FALSE(reader());
  }
  SetVideoEnabled(true);
  EXPECT_EQ(RegGetAppDword(u"isVideo"), 1u);
}

TEST_F(Settings, MaximumSearchLength) {
  EXPECT_EQ(MaxSearchLengthSeconds(), 30);  // absent
  const std::pair<uint32_t, int32_t> cases[] = {{0, 30}, {3, 5}, {45, 30}, {5, 5}, {30, 30}, {20, 20}, {0xFFFFFFFFu, 30}};
  for (const auto& [stored, seconds] : cases) {
    RegSetAppDword(kMaximumSearchLength, stored);
    EXPECT_EQ(MaxSearchLengthSeconds(), seconds) << stored;
  }
}

}  // namespace
