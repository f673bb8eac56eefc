#include "protocol/Records.h"

#include <gtest/gtest.h>

#include <tuple>

#include "ProtocolTestUtil.h"
#include "protocol/AppSettings.h"

namespace {

TEST(TrackRecord, PreviewSourceAndCacheKeyByKind) {
  const TrackRecord fresh;
  EXPECT_EQ(std::make_tuple(fresh.m_nKind, fresh.m_nItemIndex, fresh.m_nSubItemIndex), std::make_tuple(0, -1, -1));
  const std::tuple<int32_t, const char16_t*, const char16_t*> cases[] = {  // key null: not cached
      {0, u"matched", nullptr}, {1, u"full", u"r1"}, {2, u"preview", u"t1"}, {5, u"", nullptr}, {-1, u"", nullptr}};
  for (const auto& [kind, url, key] : cases) {
    TrackRecord record;
    record.m_nKind = kind;
    record.m_matchedUrl = u"matched";
    record.m_fullUrl = u"full";
    record.m_audioPreviewUrl = u"preview";
    record.m_trackId = u"t1";
    record.m_recordingId = u"r1";
    const TPreviewKey preview = record.PreviewKey();
    EXPECT_EQ(preview.m_url + u"|" + preview.m_trackId, url + plat::WString(u"|t1")) << kind;
    plat::WString cacheKey = u"untouched";
    EXPECT_EQ(record.CacheKey(cacheKey), key != nullptr) << kind;
    EXPECT_EQ(cacheKey, key ? key : u"untouched") << kind;
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
  EXPECT_EQ(pUser->ReferenceCount() + pUser->m_bInformationLoaded + pUser->m_bPlaylistLoaded + pUser->m_bRecordingsLoaded +
                pUser->m_nPlaylistTotal + pUser->m_nRecordingsTotal, 0);
  ASSERT_TRUE(pUser->m_playlist.LoadText("<orlamet total_records='1'><tracks><track><artists><artist/></artists></track></tracks></orlamet>"));
  pUser->m_recordings.PushPage();

  RefPtr::Assign(pCurrent, pUser);
  RefPtr::Assign(pCurrent, pCurrent);  // its only holder assigning it again
  EXPECT_FALSE(bDeleted);
  EXPECT_EQ(pUser->ReferenceCount(), 1);
  RefPtr::Assign(pHistory, pCurrent);
  RefPtr::Assign(pCurrent, static_cast<CUserRecord*>(nullptr));
  EXPECT_FALSE(bDeleted);
  EXPECT_EQ(pHistory->m_playlist.TotalRecords(), 1);
  RefPtr::Assign(pHistory, static_cast<CUserRecord*>(nullptr));
  EXPECT_TRUE(bDeleted);  // with both models (the leak sanitizer checks)
}

class Settings : public ProtocolTest {};

TEST_F(Settings, SwitchesAreOnUnlessStoredZero) {
  const std::tuple<const char16_t*, bool (*)(), void (*)(bool)> switches[] = {
      {u"isAMG", IsAMGEnabled, SetAMGEnabled}, {u"isVideo", IsVideoEnabled, SetVideoEnabled},
      {u"isLyrics", IsLyricsEnabled, SetLyricsEnabled}, {u"isPreview", IsPreviewEnabled, SetPreviewEnabled}};
  for (const auto& [name, reader, setter] : switches) {
    EXPECT_TRUE(reader()) << plat::ToUtf8(name);  // absent
    RegSetAppDword(name, 0);
    EXPECT_FALSE(reader());
    RegSetAppDword(name, 7);
    EXPECT_TRUE(reader());
    RegSetAppString(name, u"1");  // not a DWORD: reads as 0
    EXPECT_FALSE(reader());
    setter(true);
    EXPECT_EQ(RegGetAppDword(name), 1u);
    setter(false);
    EXPECT_TRUE(RegAppValueExists(name) && !reader());
  }
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
