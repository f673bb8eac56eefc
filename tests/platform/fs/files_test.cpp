// Files: dispositions, the sharing rules, and positions and sizes.
#include "platform/kernel/Kernel.h"
#include "tests/platform/fs/FsFixture.h"

namespace fstest {
namespace {

using FsFiles = FsTest;

TEST_F(FsFiles, DispositionsAndTheCodesTheyLeave) {
  const struct {
    bool existsBefore;
    uint32_t disposition;
    uint32_t error;            // the last error afterwards; ERROR_SUCCESS or 183 means it opened
    const char* contentAfter;  // nullptr: no file
  } cases[] = {
      {false, OPEN_EXISTING, ERROR_FILE_NOT_FOUND, nullptr},
      {true, OPEN_EXISTING, ERROR_SUCCESS, "old"},
      {false, CREATE_NEW, ERROR_SUCCESS, ""},
      {true, CREATE_NEW, ERROR_FILE_EXISTS, "old"},
      {false, CREATE_ALWAYS, ERROR_SUCCESS, ""},
      {true, CREATE_ALWAYS, ERROR_ALREADY_EXISTS, ""},
      {false, OPEN_ALWAYS, ERROR_SUCCESS, ""},
      {true, OPEN_ALWAYS, ERROR_ALREADY_EXISTS, "old"},
      {true, 0, ERROR_INVALID_PARAMETER, "old"},
      {true, 5, ERROR_INVALID_PARAMETER, "old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.existsBefore << " " << c.disposition);
    std::error_code ec;
    stdfs::remove(Fs() / "f", ec);
    if (c.existsBefore) WriteHost(Fs() / "f", "old");
    SetLastError(12345);
    Handle h = CreateFile(u"\\f", RW, 0, c.disposition);
    EXPECT_EQ(GetLastError(), c.error);
    bool opened = c.error == ERROR_SUCCESS || c.error == ERROR_ALREADY_EXISTS;
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, opened);
    CloseHandle(h);
    EXPECT_EQ(stdfs::exists(Fs() / "f"), c.contentAfter != nullptr);
    EXPECT_EQ(ReadHost(Fs() / "f"), c.contentAfter ? c.contentAfter : "");
  }
  EXPECT_EQ(CreateFile(u"\\nowhere\\f", RW, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CreateFile(u"\\f\\g", R, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);  // a file is no folder
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CreateFile(u"\\Storage Card", R, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(FsFiles, SecondOpenFollowsTheSharingRules) {
  const struct {
    uint32_t access1, share1, access2, share2;
    bool secondOpens;
  } cases[] = {
      {R, 0, R, SRW, false},    {RW, 0, R, SRW, false},  {R, SR, R, SR, true},   {R, SR, W, SRW, false},
      {RW, SRW, R, SR, false},  // the newcomer does not share the holder's writing
      {R, SRW, R, SRW, true},   {W, SR, R, SW, true},    {W, SW, W, SW, true},
      {0, 0, RW, 0, true},      {RW, 0, 0, 0, true},     // no access: neither restricts nor is restricted
  };
  ASSERT_TRUE(Put(u"\\shared.dat", "data"));
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.access1 << "/" << c.share1 << " then " << c.access2 << "/" << c.share2);
    Handle first = CreateFile(u"\\shared.dat", c.access1, c.share1, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    Handle second = CreateFile(u"\\SHARED.DAT", c.access2, c.share2, OPEN_EXISTING);  // the same file
    EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
    EXPECT_EQ(GetLastError(), c.secondOpens ? ERROR_SUCCESS : ERROR_SHARING_VIOLATION);
    CloseHandle(second);
    CloseHandle(first);
    EXPECT_TRUE(CanOpenForRead(u"\\shared.dat"));  // the holder has gone
  }

  // A refused CREATE_ALWAYS must not have truncated the holder's data.
  Handle holder = CreateFile(u"\\shared.dat", RW, 0, OPEN_EXISTING);
  EXPECT_EQ(CreateFile(u"\\shared.dat", RW, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(CanOpenForRead(u"\\shared.dat"));
  EXPECT_EQ(ReadHost(Fs() / "shared.dat"), "data");
  CloseHandle(holder);
}

TEST_F(FsFiles, HandlesCheckKindAndAccess) {
  Handle r = CreateFile(u"\\f", R, 0, CREATE_ALWAYS);
  Handle event = CreateEvent(false, false);
  uint32_t done = 99;
  EXPECT_FALSE(WriteFile(r, "x", 1, &done));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(done, 0u);
  CloseHandle(r);
  for (Handle bad : {r, event, Handle{nullptr}, INVALID_HANDLE_VALUE}) {
    EXPECT_FALSE(ReadFile(bad, &done, 1, &done));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetFileSize(bad, nullptr), INVALID_FILE_SIZE);
  }
  CloseHandle(event);
}

TEST_F(FsFiles, PositionsAndSizes) {
  Handle h = CreateFile(u"\\f", RW, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint32_t done = 0;
  char buf[16];
  ASSERT_TRUE(WriteFile(h, "hello", 5, &done));
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &done));  // at the end: success with nothing
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(SetFilePointer(h, -4, nullptr, FILE_END), 1u);
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &done));  // a short read
  EXPECT_EQ(std::string(buf, done), "ello");
  EXPECT_EQ(SetFilePointer(h, 5, nullptr, FILE_CURRENT), 10u);
  ASSERT_TRUE(WriteFile(h, "!", 1, &done));  // past the end: the gap reads as zeros
  EXPECT_EQ(ReadHost(Fs() / "f"), std::string("hello\0\0\0\0\0!", 11));

  // Before the start, or beyond 32 bits without a high part: refused, and
  // the position stays.
  EXPECT_EQ(SetFilePointer(h, -12, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  int32_t high = 0;
  SetLastError(ERROR_SHARING_VIOLATION);
  EXPECT_EQ(SetFilePointer(h, -1, &high, FILE_BEGIN), 0xFFFFFFFFu);  // position 2^32 - 1 ...
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);                          // ... told from a failure
  EXPECT_EQ(SetFilePointer(h, 1, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 0xFFFFFFFFu);

  high = 1;
  EXPECT_EQ(SetFilePointer(h, 0x10, &high, FILE_BEGIN), 0x10u);
  ASSERT_TRUE(WriteFile(h, "z", 1, &done));  // sparse, beyond 4 GiB
  uint32_t sizeHigh = 0;
  SetLastError(ERROR_SHARING_VIOLATION);
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 0x11u);
  EXPECT_EQ(sizeHigh, 1u);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);  // callers judge a size by the last error
  high = -2;                                 // back by 2^32 + 0x11 from the end
  EXPECT_EQ(SetFilePointer(h, -0x11, &high, FILE_END), 0u);
  EXPECT_EQ(high, 0);
  EXPECT_EQ(SetFilePointer(h, 0, nullptr, 3), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(h);
}

}  // namespace
}  // namespace fstest
